#pragma once

#include "Documents/AppSettingsStore.h"
#include "Windows/RecentCaptureNavigation.h"

#include <QWidget>

// One entry of the recent-captures list: a document symbol (a coral warning when the file is
// missing), the file name shortened in the middle, and the saved date or "Missing file"; teal when
// selected, tinted under the pointer. It takes keyboard focus; the list decides what its clicks,
// keys and menu requests do.
class RecentCaptureRow : public QWidget
{
    Q_OBJECT

public:
    // Where the texts sit, from the row's edges: the column header lines up with them.
    static constexpr int contentInset = 12;
    static constexpr int nameOffset = contentInset + 18 + 9;
    static constexpr int savedColumnWidth = 260;

    explicit RecentCaptureRow(const RecentCaptureRef &entry, QWidget *parent = nullptr);

    const RecentCaptureRef &entry() const { return m_entry; }
    void setEntry(const RecentCaptureRef &entry);
    bool isMissing() const { return m_missing; }
    void setMissing(bool missing);
    // The saved date as the list formats it.
    void setSavedText(const QString &text);
    // One-based place in the listed entries, for assistive technology ("Capture 3 of 5").
    void setPosition(int position, int count);
    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);
    void setHovered(bool hovered);

    QSize sizeHint() const override;

signals:
    void pressed();
    // Double click, or Return while focused.
    void activated();
    void moveRequested(RecentCaptureNavigation::Direction direction);
    void hoverChanged(bool inside);
    void menuRequested(const QPoint &globalPosition);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void describe();

    RecentCaptureRef m_entry;
    QString m_savedText;
    bool m_missing = false;
    bool m_selected = false;
    bool m_hovered = false;
};

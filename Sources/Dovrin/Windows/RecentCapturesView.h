#pragma once

#include "Documents/AppSettingsStore.h"
#include "Windows/RecentCaptureNavigation.h"

#include <QHash>
#include <QUuid>
#include <QWidget>

#include <optional>

class AppModel;
class QLabel;
class QHBoxLayout;
class QLineEdit;
class QScrollArea;
class QVBoxLayout;
class RecentCaptureRow;
class RecentCapturesEmptyState;
class VemiButton;
class VemiCopyButton;

// The "recents" window's content: the saved files the settings remember, newest first, narrowed by
// a filename search; rows move with the arrow keys (no wrap-around) and open on Return or a double
// click; a context menu and the footer open, show, copy or forget the selected file. Files are only
// ever touched through the model, which also says which are missing.
class RecentCapturesView : public QWidget
{
    Q_OBJECT

public:
    explicit RecentCapturesView(AppModel &model, QWidget *parent = nullptr);
    ~RecentCapturesView() override;

    std::optional<QUuid> selection() const { return m_selection; }
    // The row that holds keyboard focus, as far as this list is concerned (kept while the window is
    // inactive or a menu is open).
    std::optional<QUuid> focusedItem() const { return m_focusedItem; }
    QLineEdit *searchField() const { return m_search; }
    // The listed rows, in order.
    QList<RecentCaptureRow *> rows() const { return m_rows; }
    RecentCapturesEmptyState *emptyState() const { return m_empty; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // Margin of the list on either side of the rows.
    static constexpr int listMargin = 12;
    void alignHeader();
    QList<RecentCaptureRef> filteredRecents() const;
    std::optional<RecentCaptureRef> selectedItem() const;
    QString formattedSavedDate(const QDateTime &date) const;
    RecentCaptureRow *row(const std::optional<QUuid> &id) const;

    void recentsChanged();
    void searchChanged();
    void rebuildRows();
    void refreshMissing();
    void refreshSelection();
    void refreshFooter();
    void selectFirstCaptureIfNeeded(bool focusSelection);
    std::optional<QUuid> moveSelection(RecentCaptureNavigation::Direction direction);
    void selectAndFocus(const QUuid &id);
    void setFocusedItem(const std::optional<QUuid> &id);
    void focusChanged(QWidget *now);
    void openForInteraction(const RecentCaptureRef &entry);
    void remove(const RecentCaptureRef &entry);
    void showMenu(const RecentCaptureRef &entry, const QPoint &globalPosition);
    void scrollToCentre(RecentCaptureRow *row);

    AppModel &m_model;
    std::optional<QUuid> m_selection;
    std::optional<QUuid> m_hoveredItem;
    std::optional<QUuid> m_focusedItem;
    // While rows come and go, Qt's own focus moves are not the user's.
    bool m_rebuilding = false;
    bool m_appeared = false;
    QMetaObject::Connection m_focusWatch;
    // The list as last shown, to tell its changes from other settings changes.
    QList<RecentCaptureRef> m_recents;

    QLineEdit *m_search;
    QWidget *m_listArea;
    QScrollArea *m_scroll;
    QHBoxLayout *m_headerRow = nullptr;
    QVBoxLayout *m_rowLayout;
    QList<RecentCaptureRow *> m_rows;
    QHash<QUuid, RecentCaptureRow *> m_rowByID;
    RecentCapturesEmptyState *m_empty;
    QLabel *m_count;
    VemiButton *m_open;
    VemiButton *m_reveal;
    VemiCopyButton *m_copy;
    VemiButton *m_remove;
};

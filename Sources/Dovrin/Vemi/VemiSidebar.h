#pragma once

// The settings sidebar's rows and the one teal highlight that slides between them.

#include "Vemi/VemiDesign.h"

#include <QAbstractButton>
#include <QPointer>

class QVariantAnimation;

class VemiSidebarItem;
class VemiSidebarHighlight;

// Shared by the rows of one sidebar: one teal highlight that slides from the old selected row to
// the new one (instantly under reduced motion). The rows must share one parent widget.
class VemiSidebarSelection : public QObject
{
    Q_OBJECT
public:
    explicit VemiSidebarSelection(QObject *parent = nullptr);
    ~VemiSidebarSelection() override;

    VemiSidebarItem *selectedItem() const { return m_selected; }
    // Where the highlight is drawn now, in the rows' parent's coordinates.
    QRectF highlightGeometry() const { return m_geometry; }
    bool isSliding() const;
    int slideDuration(const QWidget *context) const;

private:
    friend class VemiSidebarItem;
    friend class VemiSidebarHighlight;
    void select(VemiSidebarItem *item);
    void deselect(VemiSidebarItem *item);
    void follow();
    bool eventFilter(QObject *watched, QEvent *event) override;
    void setGeometry(const QRectF &geometry);

    QPointer<VemiSidebarItem> m_selected;
    QPointer<VemiSidebarHighlight> m_highlight;
    QVariantAnimation *m_slide;
    QRectF m_geometry;
};

// One sidebar row: a symbol and a title, white on the sliding teal highlight when selected. It is
// its own button: pressed rows fade to 0.82 and shrink slightly (not under reduced motion).
// Clicking a row does not select it; the caller sets the selection in response.
class VemiSidebarItem : public QAbstractButton
{
    Q_OBJECT
public:
    VemiSidebarItem(const QString &title, const QString &systemImage, VemiSidebarSelection *selection,
        QWidget *parent = nullptr);
    ~VemiSidebarItem() override;

    QString title() const { return text(); }
    QString systemImage() const { return m_systemImage; }
    bool isSelected() const { return isChecked(); }
    void setSelected(bool selected);

    qreal currentScale() const;
    qreal currentOpacity() const;
    int transitionDuration() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void nextCheckState() override;

private:
    void syncPressed();

    QString m_systemImage;
    QPointer<VemiSidebarSelection> m_selection;
    bool m_keyboardFocus = false;
    VemiAnimatedValue m_press;
    // Follows the highlight: the title turns white as the highlight arrives.
    VemiAnimatedValue m_selectedLevel;
};

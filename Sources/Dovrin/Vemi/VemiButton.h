#pragma once

// Capsule buttons: the action-row looks, the review toolbar's look, and the copy button with its
// timed "Copied" confirmation.

#include "Async/Task.h"
#include "Vemi/VemiDesign.h"

#include <QPushButton>

#include <functional>
#include <optional>

enum class VemiControlSize { mini, small, regular, large };

namespace VemiButtonStyle {
void vemiActionGroup(QWidget *row, VemiControlSize size);
}

// A capsule push button. Its look is one of the action-row looks (bordered, or bordered and
// prominent in teal) or one of the toolbar looks, set through VemiButtonStyle.
class VemiButton : public QPushButton
{
    Q_OBJECT
public:
    enum class Look { bordered, borderedProminent, toolbar, toolbarProminent };

    explicit VemiButton(const QString &text = QString(), QWidget *parent = nullptr);

    // Setting a look or a size chooses the button's own style, which a row's style leaves alone.
    Look look() const { return m_look; }
    void setLook(Look look);
    VemiControlSize controlSize() const { return m_controlSize; }
    void setControlSize(VemiControlSize size);
    // A symbol drawn before the text, in the text's colour.
    QString symbol() const { return m_symbol; }
    void setSymbol(const QString &name);
    // When set, fixes the hovered look whatever the pointer does.
    std::optional<bool> hoverOverride() const { return m_hoverOverride; }
    void setHoverOverride(std::optional<bool> hover);

    bool isHovering() const;
    // The scale the button is drawn at now (pressed toolbar buttons shrink unless motion is reduced).
    qreal currentScale() const;
    // How long its hover and press changes take now (milliseconds).
    int transitionDuration() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // The label's colour: white on teal, else the text colour; a disabled label is still legible.
    QColor labelColor() const;
    // Drawn with a focus ring now: it has focus, reached from the keyboard.
    bool showsFocusRing() const { return hasFocus() && m_keyboardFocus; }

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void changeEvent(QEvent *event) override;

    QFont labelFont() const;
    // The label's natural size, and its drawing inside `rect` (already scaled and faded).
    virtual QSizeF labelSize() const;
    virtual void paintLabel(QPainter &painter, const QRectF &rect, const QColor &color);
    // Size and draw "symbol + text" with the button's font.
    QSizeF contentSize(const QString &symbol, const QString &text) const;
    void paintContent(QPainter &painter, const QRectF &rect, const QColor &color, const QString &symbol,
        const QString &text) const;

private:
    friend void VemiButtonStyle::vemiActionGroup(QWidget *row, VemiControlSize size);
    void applyLook(Look look, VemiControlSize size);
    void syncLevels();
    qreal designHeight() const;
    qreal horizontalPadding() const;
    QColor restingFill(VemiAppearance appearance) const;
    qreal disabledFillOpacity() const;
    // Room for the chevron of a button that opens a menu.
    qreal menuIndicatorWidth() const;
    bool isToolbar() const { return m_look == Look::toolbar || m_look == Look::toolbarProminent; }
    bool isProminent() const { return m_look == Look::borderedProminent || m_look == Look::toolbarProminent; }

    Look m_look = Look::bordered;
    VemiControlSize m_controlSize = VemiControlSize::regular;
    bool m_choseStyle = false;
    QString m_symbol;
    std::optional<bool> m_hoverOverride;
    bool m_pointerInside = false;
    bool m_keyboardFocus = false;
    VemiAnimatedValue m_hover;
    VemiAnimatedValue m_press;
};

// The looks of action rows and toolbars.
namespace VemiButtonStyle {

// Every VemiButton inside `row` that has not chosen a style of its own becomes a bordered capsule of
// `size`.
void vemiActionGroup(QWidget *row, VemiControlSize size);
// The one primary button of a row: teal, prominent.
void vemiPrimaryAction(VemiButton *button, VemiControlSize size);
// A secondary button that stands alone: bordered.
void vemiSecondaryAction(VemiButton *button, VemiControlSize size);
// The review toolbar's capsule: teal when prominent, else a raised capsule with a hairline.
void toolbarAction(VemiButton *button, bool prominent, std::optional<bool> hoverOverride = std::nullopt);

} // namespace VemiButtonStyle

// A button that runs a copy and confirms it: "Copied" with a check for 1.2 s after the last
// successful copy. The label keeps the width of the wider of its two forms. A copy that must read
// first answers later: the button confirms once it has (and not when another click came meanwhile).
class VemiCopyButton : public VemiButton
{
    Q_OBJECT
public:
    using LaterAction = std::function<Task<bool>()>;

    VemiCopyButton(const QString &title, std::function<bool()> action, QWidget *parent = nullptr);
    VemiCopyButton(const QString &title, LaterAction action, QWidget *parent = nullptr);
    ~VemiCopyButton() override;

    QString title() const { return m_title; }
    void setTitle(const QString &title);
    void setAction(std::function<bool()> action);
    // The steady clock behind the reset (tests pass a manual one).
    void setClock(TaskClock *clock);

    bool isConfirmed() const { return m_isConfirmed; }
    int generation() const { return m_generation; }
    // The cross-fade between the two forms: 0 shows the title, 1 shows "Copied".
    qreal confirmationLevel() const { return m_fade.value(); }

signals:
    void confirmationChanged(bool confirmed);

protected:
    QSizeF labelSize() const override;
    void paintLabel(QPainter &painter, const QRectF &rect, const QColor &color) override;
    void hideEvent(QHideEvent *event) override;

private:
    void performCopy();
    void confirmCopy(bool copied);
    void setConfirmation(bool confirmed, int generation);
    void cancelReset();

    QString m_title;
    std::function<bool()> m_action;
    LaterAction m_laterAction;
    Task<> m_copyTask;
    TaskClock *m_clock;
    bool m_isConfirmed = false;
    int m_generation = 0;
    Task<> m_resetTask;
    VemiAnimatedValue m_fade;
};

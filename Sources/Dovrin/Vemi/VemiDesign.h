#pragma once

// The design system every window draws with: palette, text styles, the character's images and the
// one-colour symbols, the reduced-motion rule, and the shared panels and status labels.
// The character is in VemiCharacter.h, the buttons in VemiButton.h, the sidebar in VemiSidebar.h.

#include <QAccessible>
#include <QColor>
#include <QEasingCurve>
#include <QFont>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QRectF>
#include <QSizeF>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QFocusEvent;
class QLabel;
class QPainter;
class QSvgRenderer;
class QVariantAnimation;
class QVBoxLayout;

// ---------------------------------------------------------------------------------------------
// Palette

enum class VemiAppearance { light, dark };

namespace VemiPalette {

// Dark when the palette's window colour is dark; everything else (including palettes that are
// neither clearly light nor dark) counts as light.
VemiAppearance appearance(const QPalette &palette);
// The widget's own palette; the application's palette when there is no widget.
VemiAppearance appearance(const QWidget *widget);

QColor vemiTeal();
QColor vemiCoral();
QColor vemiCanvas(VemiAppearance appearance);
QColor vemiPanel(VemiAppearance appearance);
QColor vemiPanelRaised(VemiAppearance appearance);
QColor vemiLine(VemiAppearance appearance);
QColor vemiGraphite(VemiAppearance appearance);

// The desktop's text colour as the widget's palette gives it ("primary" text), and the fainter kinds
// derived from it, each still legible on every ground: secondary, tertiary (steps not reached yet),
// disabled controls' text and a text field's placeholder.
QColor primaryText(const QWidget *widget);
QColor secondaryText(const QWidget *widget);
QColor tertiaryText(const QWidget *widget);
QColor disabledText(const QWidget *widget);
QColor placeholderText(const QWidget *widget);
// Keeps a text field's placeholder at placeholderText() whatever palette it gets later.
void keepPlaceholderLegible(QWidget *field);
// Calls `apply` on the widget now and after every change of its palette; once per `name`.
void keepOnPaletteChange(QWidget *widget, const char *name, void (*apply)(QWidget *));

// `color` with its opacity multiplied by `opacity`.
QColor withAlpha(QColor color, qreal opacity);
// From `a` (t = 0) to `b` (t = 1), alpha included.
QColor mix(const QColor &a, const QColor &b, qreal t);

// Legibility. Text needs 4.5:1 against what it sits on, marks and control shapes 3:1.
inline constexpr qreal textContrast = 4.5;
inline constexpr qreal shapeContrast = 3.0;

// `top` painted over the opaque `ground`.
QColor over(const QColor &top, const QColor &ground);
// Relative luminance of an opaque colour (sRGB), 0 for black to 1 for white.
qreal luminance(const QColor &color);
// The contrast ratio (1 to 21) of `foreground`, painted over `ground`, against `ground`.
qreal contrast(const QColor &foreground, const QColor &ground);
// The grounds windows draw on: canvas, panel and raised panel.
QList<QColor> grounds(VemiAppearance appearance);
// `color` made to reach `ratio` against every ground: more opaque first, then (still short) moved
// away from the grounds towards black or white. A colour that already reaches it is returned as is.
QColor legible(const QColor &color, const QList<QColor> &grounds, qreal ratio);

// The teal and coral as text and marks: the brand colours where they read, lighter on dark grounds
// and a deeper coral on light ones. Fills behind white text keep the brand teal.
QColor tealInk(VemiAppearance appearance);
QColor coralInk(VemiAppearance appearance);
// A switch's track, on or off, and the knob on it.
QColor switchTrack(VemiAppearance appearance, bool on);
QColor switchKnob();
// The keyboard focus ring.
QColor focusRing(VemiAppearance appearance);
} // namespace VemiPalette

// A colour given to a component: either fixed, or a palette role resolved against the widget
// that draws it, so it follows the widget's light or dark palette.
class VemiColor
{
public:
    enum Role { fixed, teal, coral, canvas, panel, panelRaised, line, graphite, primary, secondary };

    VemiColor(Role role = primary)
        : m_role(role)
    { }
    VemiColor(const QColor &color)
        : m_role(fixed)
        , m_color(color)
    { }
    VemiColor(Qt::GlobalColor color)
        : m_role(fixed)
        , m_color(color)
    { }

    Role role() const { return m_role; }
    QColor resolve(const QWidget *widget) const;
    bool operator==(const VemiColor &other) const
    {
        return m_role == other.m_role && (m_role != fixed || m_color == other.m_color);
    }

private:
    Role m_role;
    QColor m_color;
};

// ---------------------------------------------------------------------------------------------
// Text styles, sized relative to the desktop's font so a larger desktop font enlarges everything.

enum class VemiTextStyle {
    largeTitle,
    title,
    title2,
    title3,
    headline,
    body,
    callout,
    subheadline,
    footnote,
    caption,
    caption2
};

namespace VemiFonts {
QFont font(VemiTextStyle style, QFont::Weight weight = QFont::Normal);
// The style's size in logical pixels (points on the design grid).
qreal pixelSize(VemiTextStyle style);
} // namespace VemiFonts

// ---------------------------------------------------------------------------------------------
// Reduced motion

class VemiMotionNotifier : public QObject
{
    Q_OBJECT
signals:
    // The desktop setting or an override changed: animated views re-read reduceMotion().
    void changed();
};

namespace VemiMotion {

// The desktop's own preference: GNOME's "enable-animations" off, a GTK settings file that turns
// animations off, or KDE's animation speed at zero. Full motion when the desktop says nothing.
bool systemReduceMotion();
// Replaces the desktop's answer (tests, or a desktop that changed its mind).
void setSystemReduceMotion(bool reduce);
// What the configuration files under `configHome` say, without asking any process.
std::optional<bool> desktopReduceMotion(const QString &configHome);

// The override works like an inherited setting: set on a widget it applies to that widget and
// everything inside it, and the nearest one wins; the application-wide one applies where no
// widget sets its own. Any override wins over the desktop's preference.
void setReduceMotionOverride(QWidget *scope, std::optional<bool> reduce);
void setApplicationReduceMotionOverride(std::optional<bool> reduce);
std::optional<bool> reduceMotionOverride(const QWidget *widget);

// The effective flag every animated view uses.
bool reduceMotion(const QWidget *widget);

VemiMotionNotifier *notifier();

QEasingCurve easeOut();
QEasingCurve easeInOut();

} // namespace VemiMotion

// A value that eases towards its target and repaints its widget while it moves.
class VemiAnimatedValue : public QObject
{
public:
    VemiAnimatedValue(QWidget *owner, qreal initial);
    ~VemiAnimatedValue() override;

    qreal value() const { return m_value; }
    qreal target() const { return m_target; }
    bool isRunning() const;
    int lastDuration() const { return m_lastDuration; }

    // A duration of 0 (or less) jumps.
    void animateTo(qreal target, int durationMs, const QEasingCurve &curve = VemiMotion::easeOut());
    void jumpTo(qreal value);

    std::function<void()> onChange;
    std::function<void()> onFinished;

private:
    QWidget *m_owner;
    QVariantAnimation *m_animation;
    qreal m_value;
    qreal m_target;
    int m_lastDuration = 0;
};

// ---------------------------------------------------------------------------------------------
// Images: the character, its one-colour tray form, and the symbols.

// A vector image. A template image is drawn in one colour: dark paint is ink, white paint cuts
// holes, so one SVG serves every tint.
class VemiImage
{
public:
    VemiImage(std::shared_ptr<QSvgRenderer> renderer, bool isTemplate, QSizeF size);

    QSizeF size() const { return m_size; }
    bool isTemplate() const { return m_isTemplate; }

    // Scaled to fit `target`, centred. A template image takes `tint`.
    void paint(QPainter &painter, const QRectF &target, const QColor &tint = QColor()) const;
    QPixmap pixmap(const QSize &size, qreal devicePixelRatio, const QColor &tint = QColor()) const;

private:
    std::shared_ptr<QSvgRenderer> m_renderer;
    bool m_isTemplate;
    QSizeF m_size;
};

namespace VemiImages {

// Looks for "<name>.svg" in each search folder in order; absent when no folder has a readable one.
std::optional<VemiImage> load(
    const QString &name, bool isTemplate, std::optional<QSizeF> size = std::nullopt);

// "vemi" at its natural size, and "vemi-template" as an 18 by 18 template; loaded once.
const std::optional<VemiImage> &regular();
const std::optional<VemiImage> &templateImage();

// A "Vemi" folder beside the executable first (so a package may replace the artwork), then the
// resources built into the program.
QStringList searchFolders();
// Replaces the folders and forgets the images loaded so far.
void setSearchFolders(const QStringList &folders);

} // namespace VemiImages

namespace VemiSymbols {

// Every symbol name the windows use ("checkmark.circle.fill", "waveform", ...).
QStringList names();
bool contains(const QString &name);
// Draws the symbol in `tint`, scaled to fit `target`; an unknown name draws nothing.
void paint(QPainter &painter, const QString &name, const QRectF &target, const QColor &tint);
QIcon icon(const QString &name, const QColor &tint);

} // namespace VemiSymbols

// ---------------------------------------------------------------------------------------------
// Keyboard focus

namespace VemiFocus {

// Starts following whether the last press came from the keyboard or from a pointer; once per
// application, from the first control that draws a focus ring.
void follow();
// Whether focus that arrived with `event` shows a ring: it was reached from the keyboard (Tab,
// Backtab, a shortcut) after a key press. Focus that moves on because a clicked button hid or
// disabled itself also arrives as Tab focus, but after a click: no ring.
bool showsRing(const QFocusEvent *event);

} // namespace VemiFocus

// ---------------------------------------------------------------------------------------------
// Accessibility

namespace VemiAccessibility {

// A decorative widget is hidden from assistive technology (its state reads invisible).
void setDecorative(QWidget *widget, bool decorative);
bool isDecorative(const QWidget *widget);
// Gives a plain widget a role other than "client" (a graphic, a static text).
void setRole(QWidget *widget, QAccessible::Role role);
// Asks a screen reader to read the widget's name again, as after a confirmation.
void announce(QWidget *widget);

} // namespace VemiAccessibility

// ---------------------------------------------------------------------------------------------
// Small pieces

// One symbol in one colour, sized in points; decorative unless told otherwise. Without a symbol
// name it draws a filled dot of the given size.
class VemiSymbolView : public QWidget
{
    Q_OBJECT
public:
    VemiSymbolView(const QString &name, const VemiColor &color, qreal pointSize, QWidget *parent = nullptr);

    void setSymbol(const QString &name);
    QString symbol() const { return m_name; }
    void setColor(const VemiColor &color);
    VemiColor color() const { return m_color; }
    void setPointSize(qreal pointSize);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_name;
    VemiColor m_color;
    qreal m_pointSize;
};

// The character as a one-colour icon in the text colour of its context (18 by 18); the tray and
// the menu-bar label use it. Hidden from assistive technology: its label speaks for it.
class VemiTemplateIcon : public QWidget
{
    Q_OBJECT
public:
    explicit VemiTemplateIcon(QWidget *parent = nullptr);
    QSize sizeHint() const override { return QSize(18, 18); }

    // The same drawing as an icon in `tint` (for the tray).
    static QIcon icon(const QColor &tint);
    static void paint(QPainter &painter, const QRectF &frame, const QColor &tint);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A rounded panel (radius 12, panel fill, 1-point hairline) around its content.
class VemiPanel : public QWidget
{
    Q_OBJECT
public:
    explicit VemiPanel(int padding = 12, QWidget *content = nullptr, QWidget *parent = nullptr);

    int padding() const { return m_padding; }
    void setPadding(int padding);
    // Holds the content; add widgets or layouts to it.
    QVBoxLayout *contentLayout() const { return m_layout; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_padding;
    QVBoxLayout *m_layout;
};

// One status line: a coloured symbol (or an 8-point dot) and secondary text, in the callout font.
class VemiStatusLabel : public QWidget
{
    Q_OBJECT
public:
    VemiStatusLabel(const QString &text, const VemiColor &color, const QString &systemImage = QString(),
        QWidget *parent = nullptr);

    QString text() const;
    void setText(const QString &text);
    VemiColor color() const;
    void setColor(const VemiColor &color);
    QString systemImage() const;
    void setSystemImage(const QString &systemImage);
    // One line, cut with "…" where it does not fit (the whole text in the tooltip), instead of
    // wrapping onto as many lines as it needs.
    void setSingleLine(bool singleLine);

protected:
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void applyTextColor();
    void showText();

    VemiSymbolView *m_icon;
    QLabel *m_label;
    QString m_text;
    bool m_singleLine = false;
};

#include "Vemi/VemiDesign.h"

#include "Documents/AppPaths.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFocusEvent>
#include <QFontInfo>
#include <QHBoxLayout>
#include <QHash>
#include <QIconEngine>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <QPointer>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

// Resources of a static library are only linked in when something names their initializer.
static void initVemiResources()
{
    static bool done = false;
    if (!done) {
        done = true;
        Q_INIT_RESOURCE(vemi);
    }
}

namespace {

QColor rgb(int r, int g, int b, qreal alpha = 1.0)
{
    QColor color(r, g, b);
    color.setAlphaF(float(alpha));
    return color;
}

QColor white(qreal level, qreal alpha)
{
    const int v = qRound(level * 255);
    return rgb(v, v, v, alpha);
}

// Sizes come from callers: NaN, infinite or absurd ones must not reach an integer conversion.
qreal saneLength(qreal value)
{
    return std::isfinite(value) ? std::clamp(value, 0.0, 4096.0) : 0.0;
}

bool drawable(const QRectF &frame)
{
    return std::isfinite(frame.x()) && std::isfinite(frame.y()) && std::isfinite(frame.width())
        && std::isfinite(frame.height()) && frame.width() >= 0.5 && frame.height() >= 0.5
        && frame.width() <= 16384 && frame.height() <= 16384;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Palette

VemiAppearance VemiPalette::appearance(const QPalette &palette)
{
    const QColor window = palette.color(QPalette::Window);
    const qreal luminance = 0.2126 * window.redF() + 0.7152 * window.greenF() + 0.0722 * window.blueF();
    return luminance < 0.5 ? VemiAppearance::dark : VemiAppearance::light;
}

VemiAppearance VemiPalette::appearance(const QWidget *widget)
{
    return appearance(widget ? widget->palette() : QGuiApplication::palette());
}

QColor VemiPalette::vemiTeal()
{
    return rgb(13, 79, 79);
}

QColor VemiPalette::vemiCoral()
{
    return rgb(224, 123, 84);
}

QColor VemiPalette::vemiCanvas(VemiAppearance appearance)
{
    return appearance == VemiAppearance::dark ? rgb(20, 24, 25) : rgb(248, 244, 236);
}

QColor VemiPalette::vemiPanel(VemiAppearance appearance)
{
    return appearance == VemiAppearance::dark ? rgb(27, 32, 33) : rgb(253, 250, 244);
}

QColor VemiPalette::vemiPanelRaised(VemiAppearance appearance)
{
    return appearance == VemiAppearance::dark ? rgb(34, 40, 41) : rgb(255, 255, 255);
}

QColor VemiPalette::vemiLine(VemiAppearance appearance)
{
    return appearance == VemiAppearance::dark ? white(1.0, 0.14) : white(0.12, 0.16);
}

QColor VemiPalette::vemiGraphite(VemiAppearance appearance)
{
    return appearance == VemiAppearance::dark ? white(0.9, 1.0) : rgb(48, 47, 45);
}

QColor VemiPalette::primaryText(const QWidget *widget)
{
    const QPalette palette = widget ? widget->palette() : QGuiApplication::palette();
    // The active colour whatever the widget's state: a disabled widget's own group is the desktop's
    // disabled colour, often too faint to read; disabledText() is the legible one for that.
    return palette.color(QPalette::Active, QPalette::WindowText);
}

QColor VemiPalette::secondaryText(const QWidget *widget)
{
    return legible(withAlpha(primaryText(widget), 0.62), grounds(appearance(widget)), textContrast);
}

QColor VemiPalette::tertiaryText(const QWidget *widget)
{
    return legible(withAlpha(primaryText(widget), 0.35), grounds(appearance(widget)), textContrast);
}

QColor VemiPalette::disabledText(const QWidget *widget)
{
    return legible(withAlpha(primaryText(widget), 0.4), grounds(appearance(widget)), textContrast);
}

QColor VemiPalette::placeholderText(const QWidget *widget)
{
    const QPalette palette = widget ? widget->palette() : QGuiApplication::palette();
    QList<QColor> under = grounds(appearance(widget));
    // A field that fills itself puts its own colour under the placeholder too.
    const QColor base = palette.color(QPalette::Active, QPalette::Base);
    if (base.alpha() == 255)
        under << base;
    QColor placeholder = palette.color(QPalette::Active, QPalette::PlaceholderText);
    // Some palettes leave it unset, or set it to the text colour itself.
    if (!placeholder.isValid() || placeholder.alpha() == 0)
        placeholder = withAlpha(primaryText(widget), 0.5);
    return legible(placeholder, under, textContrast);
}

namespace {

// Calls `apply` once now and again whenever the widget's palette changes.
class PaletteKeeper final : public QObject
{
public:
    PaletteKeeper(QWidget *widget, const char *name, void (*apply)(QWidget *))
        : QObject(widget)
        , m_apply(apply)
    {
        setObjectName(QLatin1String(name));
        widget->installEventFilter(this);
        apply(widget);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::PaletteChange && watched->isWidgetType())
            m_apply(static_cast<QWidget *>(watched));
        return false;
    }

private:
    void (*m_apply)(QWidget *);
};

void applyPlaceholder(QWidget *field)
{
    const QColor colour = VemiPalette::placeholderText(field);
    QPalette palette = field->palette();
    bool changed = false;
    for (const QPalette::ColorGroup group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled }) {
        if (palette.color(group, QPalette::PlaceholderText) != colour) {
            palette.setColor(group, QPalette::PlaceholderText, colour);
            changed = true;
        }
    }
    if (changed)
        field->setPalette(palette);
}

} // namespace

void VemiPalette::keepOnPaletteChange(QWidget *widget, const char *name, void (*apply)(QWidget *))
{
    if (widget && !widget->findChild<QObject *>(QLatin1String(name), Qt::FindDirectChildrenOnly))
        new PaletteKeeper(widget, name, apply);
}

void VemiPalette::keepPlaceholderLegible(QWidget *field)
{
    keepOnPaletteChange(field, "vemi-placeholder-keeper", applyPlaceholder);
}

QColor VemiPalette::withAlpha(QColor color, qreal opacity)
{
    color.setAlphaF(float(std::clamp(color.alphaF() * opacity, 0.0, 1.0)));
    return color;
}

QColor VemiPalette::mix(const QColor &a, const QColor &b, qreal t)
{
    t = std::isfinite(t) ? std::clamp(t, 0.0, 1.0) : 0.0;
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t),
        float(a.greenF() + (b.greenF() - a.greenF()) * t), float(a.blueF() + (b.blueF() - a.blueF()) * t),
        float(a.alphaF() + (b.alphaF() - a.alphaF()) * t));
}

QColor VemiPalette::over(const QColor &top, const QColor &ground)
{
    const qreal a = std::clamp(qreal(top.alphaF()), 0.0, 1.0);
    return QColor::fromRgbF(float(top.redF() * a + ground.redF() * (1 - a)),
        float(top.greenF() * a + ground.greenF() * (1 - a)),
        float(top.blueF() * a + ground.blueF() * (1 - a)));
}

qreal VemiPalette::luminance(const QColor &color)
{
    const auto linear = [](qreal c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
}

qreal VemiPalette::contrast(const QColor &foreground, const QColor &ground)
{
    const qreal a = luminance(over(foreground, ground));
    const qreal b = luminance(ground);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QList<QColor> VemiPalette::grounds(VemiAppearance appearance)
{
    return { vemiCanvas(appearance), vemiPanel(appearance), vemiPanelRaised(appearance) };
}

QColor VemiPalette::legible(const QColor &color, const QList<QColor> &grounds, qreal wanted)
{
    // A hair over what is asked, so the colour still reaches it once drawn in 8-bit pixels.
    const qreal ratio = wanted + 0.03;
    const auto worst = [&](const QColor &candidate) {
        qreal lowest = 21;
        for (const QColor &ground : grounds)
            lowest = std::min(lowest, contrast(candidate, ground));
        return lowest;
    };
    if (grounds.isEmpty() || !color.isValid() || worst(color) >= ratio)
        return color;
    QColor candidate = color;
    for (int step = qRound(color.alphaF() * 100); step <= 100; ++step) {
        candidate.setAlphaF(float(step / 100.0));
        if (worst(candidate) >= ratio)
            return candidate;
    }
    // Opaque and still short: away from the grounds, towards whichever end is farther from them.
    qreal groundLuminance = 0;
    for (const QColor &ground : grounds)
        groundLuminance += luminance(ground) / grounds.size();
    const QColor end = groundLuminance > 0.18 ? QColor(Qt::black) : QColor(Qt::white);
    const QColor opaque = candidate;
    for (int step = 1; step <= 100; ++step) {
        candidate = mix(opaque, end, step / 100.0);
        if (worst(candidate) >= ratio)
            return candidate;
    }
    return end;
}

QColor VemiPalette::tealInk(VemiAppearance appearance)
{
    return appearance == VemiAppearance::dark ? rgb(94, 178, 170) : vemiTeal();
}

QColor VemiPalette::coralInk(VemiAppearance appearance)
{
    return appearance == VemiAppearance::dark ? rgb(236, 140, 104) : rgb(164, 67, 31);
}

QColor VemiPalette::switchTrack(VemiAppearance appearance, bool on)
{
    if (on)
        return appearance == VemiAppearance::dark ? rgb(40, 140, 132) : vemiTeal();
    return appearance == VemiAppearance::dark ? rgb(120, 120, 120) : rgb(128, 128, 128);
}

QColor VemiPalette::switchKnob()
{
    return rgb(255, 255, 255);
}

QColor VemiPalette::focusRing(VemiAppearance appearance)
{
    return tealInk(appearance);
}

QColor VemiColor::resolve(const QWidget *widget) const
{
    const VemiAppearance appearance = VemiPalette::appearance(widget);
    switch (m_role) {
    case fixed:
        return m_color;
    // A role is a colour for text and marks; fills take the palette's colours directly.
    case teal:
        return VemiPalette::tealInk(appearance);
    case coral:
        return VemiPalette::coralInk(appearance);
    case canvas:
        return VemiPalette::vemiCanvas(appearance);
    case panel:
        return VemiPalette::vemiPanel(appearance);
    case panelRaised:
        return VemiPalette::vemiPanelRaised(appearance);
    case line:
        return VemiPalette::vemiLine(appearance);
    case graphite:
        return VemiPalette::vemiGraphite(appearance);
    case primary:
        return VemiPalette::primaryText(widget);
    case secondary:
        return VemiPalette::secondaryText(widget);
    }
    return m_color;
}

// ---------------------------------------------------------------------------------------------
// Text styles

namespace {

// Sizes on the design grid, where body text is 13.
qreal designSize(VemiTextStyle style)
{
    switch (style) {
    case VemiTextStyle::largeTitle:
        return 26;
    case VemiTextStyle::title:
        return 22;
    case VemiTextStyle::title2:
        return 17;
    case VemiTextStyle::title3:
        return 15;
    case VemiTextStyle::headline:
    case VemiTextStyle::body:
        return 13;
    case VemiTextStyle::callout:
        return 12;
    case VemiTextStyle::subheadline:
        return 11;
    case VemiTextStyle::footnote:
    case VemiTextStyle::caption:
        return 10;
    case VemiTextStyle::caption2:
        return 9.5;
    }
    return 13;
}

} // namespace

QFont VemiFonts::font(VemiTextStyle style, QFont::Weight weight)
{
    QFont font = QGuiApplication::font();
    qreal body = font.pointSizeF();
    if (body <= 0)
        body = font.pixelSize() > 0 ? font.pixelSize() * 0.75 : 10;
    font.setPointSizeF(body * designSize(style) / 13.0);
    if (style == VemiTextStyle::headline && weight == QFont::Normal)
        weight = QFont::DemiBold;
    font.setWeight(weight);
    return font;
}

qreal VemiFonts::pixelSize(VemiTextStyle style)
{
    return QFontInfo(font(style)).pixelSize();
}

// ---------------------------------------------------------------------------------------------
// Reduced motion

namespace {

const char *const overrideProperty = "vemiReduceMotionOverride";

struct MotionState
{
    std::optional<bool> system;
    bool systemWasSet = false;
    std::optional<bool> applicationOverride;
};

MotionState &motionState()
{
    static MotionState state;
    return state;
}

bool isGnomeFamily()
{
    const QStringList desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").toLower().split(u':');
    for (const QString &name : desktops) {
        if (name == u"gnome" || name == u"unity" || name == u"ubuntu" || name == u"budgie"
            || name == u"pantheon" || name == u"gnome-classic")
            return true;
    }
    return false;
}

// GNOME keeps the setting in dconf; the gsettings tool reads it. Asked once, without waiting.
void askGnomeSettings()
{
    if (!QCoreApplication::instance() || !isGnomeFamily())
        return;
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (tool.isEmpty())
        return;
    auto *process = new QProcess(VemiMotion::notifier());
    QObject::connect(
        process, &QProcess::finished, process, [process](int exitCode, QProcess::ExitStatus status) {
            process->deleteLater();
            if (status != QProcess::NormalExit || exitCode != 0 || motionState().systemWasSet)
                return;
            const QByteArray answer = process->readAllStandardOutput().trimmed();
            if (answer == "false" || answer == "true") {
                const bool reduce = answer == "false";
                if (motionState().system != reduce) {
                    motionState().system = reduce;
                    emit VemiMotion::notifier()->changed();
                }
            }
        });
    QObject::connect(process, &QProcess::errorOccurred, process,
        [process](QProcess::ProcessError) { process->deleteLater(); });
    QTimer::singleShot(3000, process, [process] { process->kill(); });
    process->start(tool,
        { QStringLiteral("get"), QStringLiteral("org.gnome.desktop.interface"),
            QStringLiteral("enable-animations") });
}

std::optional<bool> readBool(const QVariant &value)
{
    const QString text = value.toString().trimmed().toLower();
    if (text == u"true" || text == u"1")
        return true;
    if (text == u"false" || text == u"0")
        return false;
    return std::nullopt;
}

} // namespace

std::optional<bool> VemiMotion::desktopReduceMotion(const QString &configHome)
{
    // Only regular files: QSettings would block for good on a FIFO.
    const QString kde = configHome + QStringLiteral("/kdeglobals");
    if (QFileInfo(kde).isFile()) {
        QSettings settings(kde, QSettings::IniFormat);
        const QVariant factor = settings.value(QStringLiteral("KDE/AnimationDurationFactor"));
        bool ok = false;
        const double value = factor.toString().toDouble(&ok);
        if (ok && std::isfinite(value))
            return value <= 0.0;
    }
    for (const char *folder : { "/gtk-4.0/settings.ini", "/gtk-3.0/settings.ini" }) {
        const QString path = configHome + QLatin1String(folder);
        if (!QFileInfo(path).isFile())
            continue;
        QSettings settings(path, QSettings::IniFormat);
        const std::optional<bool> enabled
            = readBool(settings.value(QStringLiteral("Settings/gtk-enable-animations")));
        if (enabled)
            return !*enabled;
    }
    return std::nullopt;
}

bool VemiMotion::systemReduceMotion()
{
    MotionState &state = motionState();
    if (!state.system) {
        state.system = desktopReduceMotion(AppPaths::configHome()).value_or(false);
        askGnomeSettings();
    }
    return *state.system;
}

void VemiMotion::setSystemReduceMotion(bool reduce)
{
    MotionState &state = motionState();
    state.systemWasSet = true;
    if (state.system == reduce)
        return;
    state.system = reduce;
    emit notifier()->changed();
}

void VemiMotion::setReduceMotionOverride(QWidget *scope, std::optional<bool> reduce)
{
    if (!scope) {
        setApplicationReduceMotionOverride(reduce);
        return;
    }
    const QVariant value = reduce ? QVariant(*reduce) : QVariant();
    if (scope->property(overrideProperty) == value)
        return;
    scope->setProperty(overrideProperty, value);
    emit notifier()->changed();
}

void VemiMotion::setApplicationReduceMotionOverride(std::optional<bool> reduce)
{
    if (motionState().applicationOverride == reduce)
        return;
    motionState().applicationOverride = reduce;
    emit notifier()->changed();
}

std::optional<bool> VemiMotion::reduceMotionOverride(const QWidget *widget)
{
    for (const QWidget *w = widget; w; w = w->parentWidget()) {
        const QVariant value = w->property(overrideProperty);
        if (value.isValid())
            return value.toBool();
    }
    return motionState().applicationOverride;
}

bool VemiMotion::reduceMotion(const QWidget *widget)
{
    if (const std::optional<bool> forced = reduceMotionOverride(widget))
        return *forced;
    return systemReduceMotion();
}

VemiMotionNotifier *VemiMotion::notifier()
{
    static QPointer<VemiMotionNotifier> notifier;
    if (!notifier) {
        notifier = new VemiMotionNotifier;
        if (QCoreApplication::instance())
            notifier->setParent(QCoreApplication::instance());
    }
    return notifier;
}

QEasingCurve VemiMotion::easeOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

QEasingCurve VemiMotion::easeInOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

VemiAnimatedValue::VemiAnimatedValue(QWidget *owner, qreal initial)
    : m_owner(owner)
    , m_animation(new QVariantAnimation(this))
    , m_value(initial)
    , m_target(initial)
{
    QObject::connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_value = value.toReal();
        if (m_owner)
            m_owner->update();
        if (onChange)
            onChange();
    });
    QObject::connect(m_animation, &QAbstractAnimation::finished, this, [this] {
        if (onFinished)
            onFinished();
    });
}

VemiAnimatedValue::~VemiAnimatedValue()
{
    m_animation->disconnect(this);
    m_animation->stop();
}

bool VemiAnimatedValue::isRunning() const
{
    return m_animation->state() == QAbstractAnimation::Running;
}

void VemiAnimatedValue::animateTo(qreal target, int durationMs, const QEasingCurve &curve)
{
    m_lastDuration = std::max(durationMs, 0);
    if (target == m_target && (isRunning() || m_value == target))
        return;
    m_target = target;
    m_animation->stop();
    if (durationMs <= 0 || m_value == target) {
        jumpTo(target);
        return;
    }
    m_animation->setStartValue(m_value);
    m_animation->setEndValue(target);
    m_animation->setDuration(durationMs);
    m_animation->setEasingCurve(curve);
    m_animation->start();
}

void VemiAnimatedValue::jumpTo(qreal value)
{
    m_animation->stop();
    m_target = value;
    if (m_value == value)
        return;
    m_value = value;
    if (m_owner)
        m_owner->update();
    if (onChange)
        onChange();
}

// ---------------------------------------------------------------------------------------------
// Images

namespace {

// Dark paint is ink, white paint cuts holes: the ink's amount becomes the alpha of `tint`.
QImage inked(QImage image, const QColor &tint)
{
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QRgb color = tint.rgba();
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = line[x];
            const int light = (qRed(pixel) + qGreen(pixel) + qBlue(pixel)) / 3;
            const int ink = std::max(qAlpha(pixel) - light, 0);
            const int alpha = ink * qAlpha(color) / 255;
            line[x] = qPremultiply(qRgba(qRed(color), qGreen(color), qBlue(color), alpha));
        }
    }
    return image;
}

QRectF fitted(const QSizeF &natural, const QRectF &target)
{
    if (natural.isEmpty())
        return target;
    const QSizeF size = natural.scaled(target.size(), Qt::KeepAspectRatio);
    return QRectF(target.center() - QPointF(size.width() / 2, size.height() / 2), size);
}

qreal deviceRatio(const QPainter &painter)
{
    const QPaintDevice *device = painter.device();
    const qreal ratio = device ? device->devicePixelRatioF() : 1.0;
    const qreal scale
        = std::max(std::abs(painter.worldTransform().m11()), std::abs(painter.worldTransform().m22()));
    return std::clamp(ratio * (scale > 0 ? scale : 1.0), 1.0, 8.0);
}

QImage renderSvg(QSvgRenderer &renderer, const QSize &pixels)
{
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(QPointF(0, 0), pixels));
    return image;
}

struct ImageCache
{
    QStringList folders;
    bool foldersSet = false;
    std::optional<std::optional<VemiImage>> regular;
    std::optional<std::optional<VemiImage>> templateImage;
};

ImageCache &imageCache()
{
    static ImageCache cache;
    return cache;
}

} // namespace

VemiImage::VemiImage(std::shared_ptr<QSvgRenderer> renderer, bool isTemplate, QSizeF size)
    : m_renderer(std::move(renderer))
    , m_isTemplate(isTemplate)
    , m_size(size)
{ }

void VemiImage::paint(QPainter &painter, const QRectF &target, const QColor &tint) const
{
    const QRectF frame = fitted(m_size, target);
    if (!drawable(frame))
        return;
    if (!m_isTemplate) {
        m_renderer->render(&painter, frame);
        return;
    }
    const qreal ratio = deviceRatio(painter);
    const QSize pixels = (frame.size() * ratio).toSize().expandedTo(QSize(1, 1));
    QImage image = inked(renderSvg(*m_renderer, pixels), tint.isValid() ? tint : QColor(Qt::black));
    image.setDevicePixelRatio(ratio);
    painter.drawImage(frame, image);
}

QPixmap VemiImage::pixmap(const QSize &size, qreal devicePixelRatio, const QColor &tint) const
{
    const qreal ratio = std::clamp(devicePixelRatio, 1.0, 8.0);
    QPixmap pixmap((QSizeF(size) * ratio).toSize().expandedTo(QSize(1, 1)));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    paint(painter, QRectF(QPointF(0, 0), QSizeF(size)), tint);
    return pixmap;
}

QStringList VemiImages::searchFolders()
{
    ImageCache &cache = imageCache();
    if (cache.foldersSet)
        return cache.folders;
    QStringList folders;
    if (QCoreApplication::instance())
        folders << QCoreApplication::applicationDirPath() + QStringLiteral("/Vemi");
    folders << QStringLiteral(":/Vemi");
    return folders;
}

void VemiImages::setSearchFolders(const QStringList &folders)
{
    ImageCache &cache = imageCache();
    cache.folders = folders;
    cache.foldersSet = true;
    cache.regular.reset();
    cache.templateImage.reset();
}

std::optional<VemiImage> VemiImages::load(const QString &name, bool isTemplate, std::optional<QSizeF> size)
{
    initVemiResources();
    for (const QString &folder : searchFolders()) {
        const QString path = folder + u'/' + name + QStringLiteral(".svg");
        if (!QFile::exists(path))
            continue;
        auto renderer = std::make_shared<QSvgRenderer>(path);
        if (!renderer->isValid())
            return std::nullopt;
        const QSizeF natural = renderer->defaultSize().isValid() ? QSizeF(renderer->defaultSize())
                                                                 : renderer->viewBoxF().size();
        return VemiImage(std::move(renderer), isTemplate, size.value_or(natural));
    }
    return std::nullopt;
}

const std::optional<VemiImage> &VemiImages::regular()
{
    ImageCache &cache = imageCache();
    if (!cache.regular)
        cache.regular = load(QStringLiteral("vemi"), false);
    return *cache.regular;
}

const std::optional<VemiImage> &VemiImages::templateImage()
{
    ImageCache &cache = imageCache();
    if (!cache.templateImage)
        cache.templateImage = load(QStringLiteral("vemi-template"), true, QSizeF(18, 18));
    return *cache.templateImage;
}

namespace {

std::shared_ptr<QSvgRenderer> symbolRenderer(const QString &name)
{
    static QHash<QString, std::shared_ptr<QSvgRenderer>> renderers;
    initVemiResources();
    const auto found = renderers.constFind(name);
    if (found != renderers.constEnd())
        return *found;
    std::shared_ptr<QSvgRenderer> renderer;
    const QString path = QStringLiteral(":/Vemi/symbols/") + name + QStringLiteral(".svg");
    if (!name.isEmpty() && QFile::exists(path)) {
        renderer = std::make_shared<QSvgRenderer>(path);
        if (!renderer->isValid())
            renderer.reset();
    }
    renderers.insert(name, renderer);
    return renderer;
}

QPixmap symbolPixmap(const QString &name, const QSize &pixels, const QColor &tint)
{
    const QString key = QStringLiteral("vemi-symbol:%1:%2x%3:%4")
                            .arg(name)
                            .arg(pixels.width())
                            .arg(pixels.height())
                            .arg(tint.rgba(), 8, 16, QLatin1Char('0'));
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap))
        return pixmap;
    const std::shared_ptr<QSvgRenderer> renderer = symbolRenderer(name);
    if (!renderer)
        return QPixmap();
    pixmap = QPixmap::fromImage(inked(renderSvg(*renderer, pixels), tint));
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

class SymbolIconEngine final : public QIconEngine
{
public:
    SymbolIconEngine(QString name, QColor tint)
        : m_name(std::move(name))
        , m_tint(std::move(tint))
    { }
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
    {
        VemiSymbols::paint(
            *painter, m_name, rect, mode == QIcon::Disabled ? VemiPalette::withAlpha(m_tint, 0.45) : m_tint);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pixmap;
    }
    QIconEngine *clone() const override { return new SymbolIconEngine(m_name, m_tint); }

private:
    QString m_name;
    QColor m_tint;
};

} // namespace

QStringList VemiSymbols::names()
{
    initVemiResources();
    QStringList names;
    const QStringList files
        = QDir(QStringLiteral(":/Vemi/symbols")).entryList({ QStringLiteral("*.svg") }, QDir::Files);
    for (const QString &file : files)
        names << file.chopped(4);
    return names;
}

bool VemiSymbols::contains(const QString &name)
{
    return symbolRenderer(name) != nullptr;
}

void VemiSymbols::paint(QPainter &painter, const QString &name, const QRectF &target, const QColor &tint)
{
    if (target.isEmpty())
        return;
    const std::shared_ptr<QSvgRenderer> renderer = symbolRenderer(name);
    if (!renderer)
        return;
    const QRectF frame = fitted(renderer->viewBoxF().size(), target);
    if (!drawable(frame))
        return;
    const qreal ratio = deviceRatio(painter);
    const QSize pixels = (frame.size() * ratio).toSize().expandedTo(QSize(1, 1));
    QPixmap pixmap = symbolPixmap(name, pixels, tint);
    pixmap.setDevicePixelRatio(ratio);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(frame, pixmap, QRectF(QPointF(0, 0), QSizeF(pixmap.size())));
    painter.restore();
}

QIcon VemiSymbols::icon(const QString &name, const QColor &tint)
{
    return QIcon(new SymbolIconEngine(name, tint));
}

// ---------------------------------------------------------------------------------------------
// Keyboard focus

namespace {

class InputFollower final : public QObject
{
public:
    using QObject::QObject;
    bool lastPressWasKey = true;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::ShortcutOverride:
            lastPressWasKey = true;
            break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::TouchBegin:
        case QEvent::TabletPress:
            lastPressWasKey = false;
            break;
        default:
            break;
        }
        return false;
    }
};

QPointer<InputFollower> &followerSlot()
{
    static QPointer<InputFollower> follower;
    return follower;
}

InputFollower *inputFollower()
{
    return followerSlot().data();
}

} // namespace

void VemiFocus::follow()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || inputFollower())
        return;
    auto *follower = new InputFollower(app);
    app->installEventFilter(follower);
    followerSlot() = follower;
}

bool VemiFocus::showsRing(const QFocusEvent *event)
{
    const Qt::FocusReason reason = event->reason();
    if (reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason && reason != Qt::ShortcutFocusReason)
        return false;
    const InputFollower *follower = inputFollower();
    return !follower || follower->lastPressWasKey;
}

// ---------------------------------------------------------------------------------------------
// Accessibility

namespace {

const char *const decorativeProperty = "vemiDecorative";
const char *const roleProperty = "vemiAccessibleRole";

class VemiAccessibleWidget final : public QAccessibleWidget
{
public:
    VemiAccessibleWidget(QWidget *widget, QAccessible::Role role)
        : QAccessibleWidget(widget, role)
    { }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        if (VemiAccessibility::isDecorative(widget()))
            state.invisible = true;
        return state;
    }
    int childCount() const override
    {
        return VemiAccessibility::isDecorative(widget()) ? 0 : QAccessibleWidget::childCount();
    }
    QAccessibleInterface *child(int index) const override
    {
        return VemiAccessibility::isDecorative(widget()) ? nullptr : QAccessibleWidget::child(index);
    }
};

QAccessibleInterface *vemiAccessibleFactory(const QString &key, QObject *object)
{
    if (!object || !object->isWidgetType() || key != QLatin1String(object->metaObject()->className()))
        return nullptr;
    const QVariant role = object->property(roleProperty);
    const QVariant decorative = object->property(decorativeProperty);
    if (!role.isValid() && !decorative.isValid())
        return nullptr;
    const auto accessibleRole = role.isValid() ? QAccessible::Role(role.toInt()) : QAccessible::Graphic;
    return new VemiAccessibleWidget(static_cast<QWidget *>(object), accessibleRole);
}

void ensureAccessibleFactory()
{
    static bool installed = false;
    if (!installed) {
        installed = true;
        QAccessible::installFactory(vemiAccessibleFactory);
    }
}

} // namespace

void VemiAccessibility::setDecorative(QWidget *widget, bool decorative)
{
    ensureAccessibleFactory();
    if (widget->property(decorativeProperty) == QVariant(decorative))
        return;
    widget->setProperty(decorativeProperty, decorative);
    if (QAccessible::isActive()) {
        QAccessible::State changed;
        changed.invisible = true;
        QAccessibleStateChangeEvent event(widget, changed);
        QAccessible::updateAccessibility(&event);
    }
}

bool VemiAccessibility::isDecorative(const QWidget *widget)
{
    return widget && widget->property(decorativeProperty).toBool();
}

void VemiAccessibility::setRole(QWidget *widget, QAccessible::Role role)
{
    ensureAccessibleFactory();
    widget->setProperty(roleProperty, int(role));
}

void VemiAccessibility::announce(QWidget *widget)
{
    QAccessibleEvent event(widget, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

// ---------------------------------------------------------------------------------------------
// Small pieces

VemiSymbolView::VemiSymbolView(const QString &name, const VemiColor &color, qreal pointSize, QWidget *parent)
    : QWidget(parent)
    , m_name(name)
    , m_color(color)
    , m_pointSize(saneLength(pointSize))
{
    VemiAccessibility::setDecorative(this, true);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void VemiSymbolView::setSymbol(const QString &name)
{
    if (m_name == name)
        return;
    m_name = name;
    update();
}

void VemiSymbolView::setColor(const VemiColor &color)
{
    m_color = color;
    update();
}

void VemiSymbolView::setPointSize(qreal pointSize)
{
    m_pointSize = saneLength(pointSize);
    updateGeometry();
    update();
}

QSize VemiSymbolView::sizeHint() const
{
    const int side = int(std::ceil(m_pointSize));
    return QSize(side, side);
}

void VemiSymbolView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor color = m_color.resolve(this);
    const QRectF frame(QRectF(rect()).center() - QPointF(m_pointSize / 2, m_pointSize / 2),
        QSizeF(m_pointSize, m_pointSize));
    if (m_name.isEmpty()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(frame);
        return;
    }
    VemiSymbols::paint(painter, m_name, frame, color);
}

VemiTemplateIcon::VemiTemplateIcon(QWidget *parent)
    : QWidget(parent)
{
    VemiAccessibility::setDecorative(this, true);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void VemiTemplateIcon::paint(QPainter &painter, const QRectF &frame, const QColor &tint)
{
    if (const std::optional<VemiImage> &image = VemiImages::templateImage()) {
        image->paint(painter, frame, tint);
        return;
    }
    // The medium symbol scale leaves a little air around the glyph.
    const qreal side = std::min(frame.width(), frame.height()) * 0.86;
    VemiSymbols::paint(painter, QStringLiteral("bubble.left"),
        QRectF(frame.center() - QPointF(side / 2, side / 2), QSizeF(side, side)), tint);
}

QIcon VemiTemplateIcon::icon(const QColor &tint)
{
    QIcon icon;
    for (const int side : { 16, 18, 22, 24, 32, 36, 48, 64 }) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        paint(painter, QRectF(0, 0, side, side), tint);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

void VemiTemplateIcon::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    const qreal side = std::min(width(), height());
    const QRectF frame(QRectF(rect()).center() - QPointF(side / 2, side / 2), QSizeF(side, side));
    paint(painter, frame, VemiPalette::primaryText(this));
}

VemiPanel::VemiPanel(int padding, QWidget *content, QWidget *parent)
    : QWidget(parent)
    , m_padding(std::max(padding, 0))
    , m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(m_padding, m_padding, m_padding, m_padding);
    m_layout->setSpacing(0);
    if (content)
        m_layout->addWidget(content);
}

void VemiPanel::setPadding(int padding)
{
    m_padding = std::max(padding, 0);
    m_layout->setContentsMargins(m_padding, m_padding, m_padding, m_padding);
}

void VemiPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const VemiAppearance appearance = VemiPalette::appearance(this);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 11.5, 11.5);
    painter.fillPath(shape, VemiPalette::vemiPanel(appearance));
    painter.strokePath(shape, QPen(VemiPalette::vemiLine(appearance), 1));
}

VemiStatusLabel::VemiStatusLabel(
    const QString &text, const VemiColor &color, const QString &systemImage, QWidget *parent)
    : QWidget(parent)
    , m_icon(new VemiSymbolView(systemImage, color, 0, this))
    , m_label(new QLabel(text, this))
    , m_text(text)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(7);
    row->addWidget(m_icon, 0, Qt::AlignVCenter);
    row->addWidget(m_label, 1, Qt::AlignVCenter);
    m_label->setTextFormat(Qt::PlainText);
    m_label->setWordWrap(true);
    m_label->setFont(VemiFonts::font(VemiTextStyle::callout));
    setSystemImage(systemImage);
    applyTextColor();
}

QString VemiStatusLabel::text() const
{
    return m_text;
}

void VemiStatusLabel::setText(const QString &text)
{
    m_text = text;
    showText();
}

void VemiStatusLabel::setSingleLine(bool singleLine)
{
    if (m_singleLine == singleLine)
        return;
    m_singleLine = singleLine;
    m_label->setWordWrap(!singleLine);
    // A single line takes the width it is given rather than the width of its whole text.
    m_label->setSizePolicy(
        singleLine ? QSizePolicy::Ignored : QSizePolicy::Preferred, QSizePolicy::Preferred);
    showText();
}

void VemiStatusLabel::showText()
{
    if (!m_singleLine) {
        m_label->setText(m_text);
        m_label->setToolTip(QString());
        return;
    }
    const QString shown = m_label->fontMetrics().elidedText(m_text, Qt::ElideRight, m_label->width());
    m_label->setText(shown);
    m_label->setToolTip(shown == m_text ? QString() : m_text);
}

void VemiStatusLabel::resizeEvent(QResizeEvent *event)
{
    // The layout has already given the label its new width.
    QWidget::resizeEvent(event);
    if (m_singleLine)
        showText();
}

VemiColor VemiStatusLabel::color() const
{
    return m_icon->color();
}

void VemiStatusLabel::setColor(const VemiColor &color)
{
    m_icon->setColor(color);
}

QString VemiStatusLabel::systemImage() const
{
    return m_icon->symbol();
}

void VemiStatusLabel::setSystemImage(const QString &systemImage)
{
    m_icon->setSymbol(systemImage);
    // The dot is 8 points; a symbol matches the callout text.
    m_icon->setPointSize(systemImage.isEmpty() ? 8.0 : VemiFonts::pixelSize(VemiTextStyle::callout) + 1);
}

void VemiStatusLabel::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyTextColor();
}

void VemiStatusLabel::applyTextColor()
{
    QPalette palette = m_label->palette();
    palette.setColor(QPalette::WindowText, VemiPalette::secondaryText(this));
    m_label->setPalette(palette);
}

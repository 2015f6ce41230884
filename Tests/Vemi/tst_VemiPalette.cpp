#include "AppearancePalettes.h"
#include "Settings/PermissionStatusCapsule.h"
#include "Settings/SetupRailRow.h"
#include "Settings/VemiSettingsToggle.h"
#include "Vemi/VemiButton.h"
#include "Vemi/VemiDesign.h"
#include "Windows/FramedTextEditor.h"
#include "Windows/ToggleSwitch.h"
#include "Windows/WindowTint.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include <cmath>

namespace {

// WCAG 2 contrast, written out here rather than taken from the palette, so a fault in either shows.
double linear(double c)
{
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor &c)
{
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

QColor composite(const QColor &top, const QColor &ground)
{
    const double a = top.alphaF();
    return QColor::fromRgbF(float(top.redF() * a + ground.redF() * (1 - a)),
        float(top.greenF() * a + ground.greenF() * (1 - a)),
        float(top.blueF() * a + ground.blueF() * (1 - a)));
}

double ratio(const QColor &foreground, const QColor &ground)
{
    const double a = luminance(composite(foreground, ground));
    const double b = luminance(ground);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

// Desktops the windows meet: the tests' own light and dark ones, a dark theme whose placeholder is its
// text at half strength, and a light one with grey text and a pale placeholder.
QPalette desktop(const QString &name)
{
    if (name == "light")
        return AppearancePalettes::light();
    if (name == "dark")
        return AppearancePalettes::dark();
    QPalette palette = name == "pale light" ? AppearancePalettes::light() : AppearancePalettes::dark();
    const QColor window = name == "pale light" ? QColor(239, 240, 241) : QColor(42, 46, 50);
    const QColor text = name == "pale light" ? QColor(70, 70, 70) : QColor(252, 252, 252);
    const QColor base = name == "pale light" ? QColor(255, 255, 255) : QColor(27, 30, 32);
    QColor placeholder = text;
    placeholder.setAlphaF(name == "pale light" ? 0.35f : 0.5f);
    for (const auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled }) {
        palette.setColor(group, QPalette::Window, window);
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::Base, base);
        palette.setColor(group, QPalette::PlaceholderText, placeholder);
    }
    return palette;
}

const QStringList desktops { "light", "dark", "pale light", "breeze-like dark" };

// A window of the desktop's palette whose own colour is `ground`, as the windows paint their grounds.
struct Host
{
    QWidget widget;
    explicit Host(const QPalette &palette, const QColor &ground)
    {
        QPalette own = palette;
        own.setColor(QPalette::Window, ground);
        widget.setPalette(own);
        widget.setAutoFillBackground(true);
        widget.resize(240, 60);
    }
    QImage grab() { return widget.grab().toImage(); }
};

// The colour farthest from `ground` inside `area` of a picture: a stroke's or a fill's own colour.
QColor strongest(const QImage &image, const QRect &area, const QColor &ground)
{
    QColor best = ground;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (ratio(pixel, ground) > ratio(best, ground))
                best = pixel;
        }
    }
    return best;
}

} // namespace

// Every colour the code chooses for text reaches 4.5:1 on the grounds it is drawn on, and every
// colour it chooses for a mark or a control's shape 3:1, light and dark, on desktops of several kinds.
// The design system's brand teal is exempt where it fills a control behind white text (prominent
// buttons, the current setup step's badge, the selected recent capture, the settings rail's selected
// pane, the receipt's badge): there the white text is what must read, and does.
class TestVemiPalette : public QObject
{
    Q_OBJECT

private slots:
    void contrastIsMeasuredAsPublished_data()
    {
        QTest::addColumn<QColor>("foreground");
        QTest::addColumn<QColor>("ground");
        QTest::addColumn<double>("expected");
        QTest::newRow("black on white") << QColor(Qt::black) << QColor(Qt::white) << 21.0;
        QTest::newRow("white on white") << QColor(Qt::white) << QColor(Qt::white) << 1.0;
        QTest::newRow("brand teal on the light canvas")
            << QColor(13, 79, 79) << QColor(248, 244, 236) << 8.51;
        QTest::newRow("brand coral on white") << QColor(224, 123, 84) << QColor(Qt::white) << 2.95;
        QTest::newRow("half black on white") << QColor(0, 0, 0, 128) << QColor(Qt::white) << 4.0;
    }
    void contrastIsMeasuredAsPublished()
    {
        QFETCH(QColor, foreground);
        QFETCH(QColor, ground);
        QFETCH(double, expected);
        QVERIFY(std::abs(VemiPalette::contrast(foreground, ground) - expected) < 0.02);
        QVERIFY(std::abs(ratio(foreground, ground) - expected) < 0.02);
    }

    // Made legible: as little changed as reaches the ratio on every ground; a colour that reads
    // already is left alone.
    void legibleReachesTheRatioOnEveryGround_data()
    {
        QTest::addColumn<QColor>("color");
        QTest::addColumn<QString>("appearance");
        QTest::addColumn<double>("target");
        QTest::newRow("faint grey text, light") << QColor(0, 0, 0, 30) << "light" << 4.5;
        QTest::newRow("faint white text, dark") << QColor(255, 255, 255, 30) << "dark" << 4.5;
        QTest::newRow("opaque mid grey, light: darkened") << QColor(150, 150, 150) << "light" << 4.5;
        QTest::newRow("brand teal mark, dark: lightened") << QColor(13, 79, 79) << "dark" << 3.0;
        QTest::newRow("readable already") << QColor(20, 20, 20) << "light" << 4.5;
    }
    void legibleReachesTheRatioOnEveryGround()
    {
        QFETCH(QColor, color);
        QFETCH(QString, appearance);
        QFETCH(double, target);
        const QList<QColor> grounds
            = VemiPalette::grounds(appearance == "dark" ? VemiAppearance::dark : VemiAppearance::light);
        const QColor made = VemiPalette::legible(color, grounds, target);
        for (const QColor &ground : grounds)
            QVERIFY2(ratio(made, ground) >= target - 0.01, qPrintable(made.name(QColor::HexArgb)));
        bool readsAlready = true;
        for (const QColor &ground : grounds)
            readsAlready = readsAlready && ratio(color, ground) >= target;
        if (readsAlready)
            QCOMPARE(made, color);
    }

    void everyChosenTextReads_data()
    {
        QTest::addColumn<QString>("desktopName");
        QTest::addColumn<QString>("use");
        const QStringList uses { "secondary", "tertiary", "disabled", "placeholder on the field's own colour",
            "placeholder on a panel", "teal text", "coral text", "destructive", "capsule allowed",
            "capsule unverified", "capsule not allowed", "disabled button", "disabled primary button",
            "disabled toolbar button", "disabled editor text" };
        for (const QString &name : desktops) {
            for (const QString &use : uses)
                QTest::newRow(qPrintable(name + ": " + use)) << name << use;
        }
    }
    void everyChosenTextReads()
    {
        QFETCH(QString, desktopName);
        QFETCH(QString, use);
        const QPalette palette = desktop(desktopName);
        const VemiAppearance appearance = VemiPalette::appearance(palette);
        for (const QColor &ground : VemiPalette::grounds(appearance)) {
            Host host(palette, ground);
            QColor text;
            QColor under = ground;
            if (use == "secondary") {
                text = VemiPalette::secondaryText(&host.widget);
            } else if (use == "tertiary") {
                text = VemiPalette::tertiaryText(&host.widget);
            } else if (use == "disabled") {
                text = VemiPalette::disabledText(&host.widget);
            } else if (use.startsWith("placeholder")) {
                auto *field = new QLineEdit(&host.widget);
                if (use.contains("panel")) {
                    QPalette clear = field->palette();
                    clear.setColor(QPalette::Base, Qt::transparent);
                    field->setPalette(clear);
                } else {
                    under = palette.color(QPalette::Base);
                }
                VemiPalette::keepPlaceholderLegible(field);
                // A later change of theme keeps it legible too.
                host.widget.setPalette(host.widget.palette());
                text = field->palette().color(QPalette::PlaceholderText);
            } else if (use == "teal text") {
                text = VemiColor(VemiColor::teal).resolve(&host.widget);
            } else if (use == "coral text") {
                text = VemiColor(VemiColor::coral).resolve(&host.widget);
            } else if (use == "destructive") {
                text = WindowTint::destructive(appearance);
            } else if (use.startsWith("capsule")) {
                auto *capsule = new PermissionStatusCapsule(QStringLiteral("capsule"), &host.widget);
                const PermissionStatus status = use.endsWith("allowed") && !use.contains("not")
                    ? PermissionStatus::allowed
                    : use.contains("unverified") ? PermissionStatus::unverified
                                                 : PermissionStatus::notAllowed;
                capsule->setStatus(status, QStringLiteral("Status"), QStringLiteral("Kind"));
                text = capsule->textColor();
                under = composite(capsule->fillColor(), ground);
            } else if (use.startsWith("disabled") && use.endsWith("button")) {
                auto *button = new VemiButton(QStringLiteral("Save Markdown"), &host.widget);
                if (use.contains("primary"))
                    VemiButtonStyle::vemiPrimaryAction(button, VemiControlSize::regular);
                else if (use.contains("toolbar"))
                    VemiButtonStyle::toolbarAction(button, false);
                button->setEnabled(false);
                button->setGeometry(QRect(QPoint(10, 10), button->sizeHint()));
                // The faded capsule as drawn, just inside its rounded end where no label lies.
                const QImage picture = host.grab();
                under = picture.pixelColor(button->x() + button->height() / 2, button->y() + 4);
                text = button->labelColor();
            } else if (use == "disabled editor text") {
                auto *editor = new FramedTextEditor(8, 10, &host.widget);
                editor->setEnabled(false);
                text = editor->editor()->palette().color(QPalette::Disabled, QPalette::Text);
                under = VemiPalette::vemiPanel(appearance); // a disabled field is recessed
            }
            QVERIFY2(text.isValid(), qPrintable(use));
            QVERIFY2(ratio(text, under) >= VemiPalette::textContrast - 0.01,
                qPrintable(QStringLiteral("%1 on %2: %3:1")
                               .arg(text.name(QColor::HexArgb), under.name())
                               .arg(ratio(text, under), 0, 'f', 2)));
        }
    }

    void everyChosenShapeShows_data()
    {
        QTest::addColumn<QString>("desktopName");
        QTest::addColumn<QString>("use");
        const QStringList uses { "switch on", "switch off", "disabled switch", "review switch on",
            "review switch off", "focus ring", "current setup step's edge", "disabled editor's edge" };
        for (const QString &name : desktops) {
            for (const QString &use : uses)
                QTest::newRow(qPrintable(name + ": " + use)) << name << use;
        }
    }
    void everyChosenShapeShows()
    {
        QFETCH(QString, desktopName);
        QFETCH(QString, use);
        const QPalette palette = desktop(desktopName);
        const VemiAppearance appearance = VemiPalette::appearance(palette);
        for (const QColor &ground : VemiPalette::grounds(appearance)) {
            Host host(palette, ground);
            QColor shape;
            if (use.contains("switch")) {
                QAbstractButton *toggle = use.startsWith("review")
                    ? static_cast<QAbstractButton *>(new ToggleSwitch(QStringLiteral("On"), &host.widget))
                    : new VemiSettingsToggle(QStringLiteral("On"), QStringLiteral("toggle"), &host.widget);
                toggle->setChecked(use.endsWith("on"));
                toggle->setEnabled(!use.startsWith("disabled"));
                toggle->setGeometry(QRect(QPoint(20, 20), toggle->sizeHint()));
                VemiMotion::setReduceMotionOverride(toggle, true);
                QTest::qWait(1);
                const QImage picture = host.grab();
                // The track: the widget's middle row, where the knob is not (the far side from it).
                const QRect bounds = toggle->geometry();
                const int x = use.endsWith("on") ? bounds.left() + 5 : bounds.right() - 5;
                // Hollow when disabled: its edge and knob are what show.
                shape = toggle->isEnabled()
                    ? strongest(picture, QRect(x, bounds.center().y() - 1, 1, 3), ground)
                    : strongest(picture, bounds, ground);
                if (toggle->isEnabled()) {
                    // The knob stands out from the track under it.
                    const int knobX = use.endsWith("on") ? bounds.right() - 9 : bounds.left() + 9;
                    const QColor knob = picture.pixelColor(knobX, bounds.center().y());
                    QVERIFY2(ratio(knob, shape) >= VemiPalette::shapeContrast - 0.01,
                        qPrintable(QStringLiteral("knob %1 on %2").arg(knob.name(), shape.name())));
                }
            } else if (use == "focus ring") {
                shape = VemiPalette::focusRing(appearance);
            } else if (use == "current setup step's edge") {
                auto *row = new SetupRailRow(OnboardingStep::folder, &host.widget);
                row->setState(OnboardingStep::folder, OnboardingStep::folder);
                row->setGeometry(10, 10, 172, 40);
                const QImage picture = host.grab();
                shape = strongest(picture, QRect(10, 28, 2, 4), ground);
            } else if (use == "disabled editor's edge") {
                auto *editor = new FramedTextEditor(8, 10, &host.widget);
                editor->setEnabled(false);
                editor->setGeometry(10, 10, 200, 40);
                const QImage picture = host.grab();
                shape = strongest(picture, QRect(10, 20, 2, 20), ground);
            }
            QVERIFY2(ratio(shape, ground) >= VemiPalette::shapeContrast - 0.01,
                qPrintable(QStringLiteral("%1 on %2: %3:1")
                               .arg(shape.name(), ground.name())
                               .arg(ratio(shape, ground), 0, 'f', 2)));
        }
    }

    // The exempt brand teal: white text on it reads in every case; as a mark it keeps to light
    // grounds, and on dark ones marks take the lighter teal instead.
    void brandTealCarriesWhiteText()
    {
        QVERIFY(ratio(Qt::white, VemiPalette::vemiTeal()) >= VemiPalette::textContrast);
        for (const QColor &ground : VemiPalette::grounds(VemiAppearance::light))
            QVERIFY(ratio(VemiPalette::vemiTeal(), ground) >= VemiPalette::textContrast);
        QCOMPARE(VemiPalette::tealInk(VemiAppearance::light), VemiPalette::vemiTeal());
        QVERIFY(VemiPalette::tealInk(VemiAppearance::dark) != VemiPalette::vemiTeal());
    }
};

QTEST_MAIN(TestVemiPalette)
#include "tst_VemiPalette.moc"

#include "AppearancePalettes.h"
#include "TestSupport.h"
#include "Vemi/VemiCharacter.h"
#include "Vemi/VemiDesign.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

namespace {

using TestSupport::writeFile;

bool near(const QColor &a, const QColor &b, int tolerance = 2)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance && std::abs(a.alpha() - b.alpha()) <= tolerance;
}

QPalette windowPalette(const QColor &window, const QColor &text)
{
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    return palette;
}

QImage drawn(const QString &symbol, int side, const QColor &tint)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    VemiSymbols::paint(painter, symbol, QRectF(0, 0, side, side), tint);
    return image;
}

int inkedPixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 128;
    return count;
}

} // namespace

class TestVemiDesign : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        VemiMotion::setSystemReduceMotion(false);
        VemiMotion::setApplicationReduceMotionOverride(std::nullopt);
    }

    void appearanceFollowsTheWindowColour_data()
    {
        QTest::addColumn<QColor>("window");
        QTest::addColumn<bool>("dark");
        QTest::newRow("black") << QColor(Qt::black) << true;
        QTest::newRow("dark desktop") << QColor(45, 45, 48) << true;
        QTest::newRow("our dark canvas") << VemiPalette::vemiCanvas(VemiAppearance::dark) << true;
        QTest::newRow("light desktop") << QColor(239, 239, 239) << false;
        QTest::newRow("white") << QColor(Qt::white) << false;
        QTest::newRow("middle grey counts as light") << QColor(188, 188, 188) << false;
        QTest::newRow("saturated blue is dark") << QColor(0, 0, 255) << true;
    }

    void appearanceFollowsTheWindowColour()
    {
        QFETCH(QColor, window);
        QFETCH(bool, dark);
        const VemiAppearance appearance = VemiPalette::appearance(windowPalette(window, Qt::gray));
        QCOMPARE(appearance, dark ? VemiAppearance::dark : VemiAppearance::light);
    }

    void darkPaletteGivesTheDarkColours()
    {
        QWidget holder;
        holder.setPalette(AppearancePalettes::dark());
        const QColor expected[] = { QColor(20, 24, 25), QColor(27, 32, 33), QColor(34, 40, 41),
            QColor::fromRgbF(1, 1, 1, 0.14f), QColor::fromRgbF(0.9f, 0.9f, 0.9f) };
        const VemiColor roles[] = { VemiColor::canvas, VemiColor::panel, VemiColor::panelRaised,
            VemiColor::line, VemiColor::graphite };
        for (int i = 0; i < 5; ++i)
            QVERIFY2(near(roles[i].resolve(&holder), expected[i]), qPrintable(QString::number(i)));
        holder.setPalette(AppearancePalettes::light());
        QVERIFY(near(VemiColor(VemiColor::canvas).resolve(&holder), QColor(248, 244, 236)));
        QVERIFY(near(VemiColor(VemiColor::panelRaised).resolve(&holder), Qt::white));
        QVERIFY(
            near(VemiColor(VemiColor::line).resolve(&holder), QColor::fromRgbF(0.12f, 0.12f, 0.12f, 0.16f)));
        // The brand colours never change.
        QVERIFY(near(VemiColor(VemiColor::teal).resolve(&holder), QColor(13, 79, 79)));
        QVERIFY(near(VemiColor(VemiColor::coral).resolve(&holder), QColor(224, 123, 84)));
    }

    void panelRepaintsWhenThePaletteTurnsDark()
    {
        QWidget window;
        window.setPalette(AppearancePalettes::light());
        auto *panel = new VemiPanel(12, nullptr, &window);
        panel->setGeometry(0, 0, 120, 80);
        window.resize(120, 80);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(near(panel->grab().toImage().pixelColor(60, 40), QColor(253, 250, 244)));
        window.setPalette(AppearancePalettes::dark());
        QVERIFY(near(panel->grab().toImage().pixelColor(60, 40), QColor(27, 32, 33)));
        // The hairline sits on the edge, the corner outside the radius stays unpainted.
        const QImage image = panel->grab().toImage();
        QVERIFY(!near(image.pixelColor(60, 0), QColor(27, 32, 33)));
    }

    void overrideWinsOverTheDesktop_data()
    {
        QTest::addColumn<bool>("system");
        QTest::addColumn<int>("application"); // -1 none, 0 false, 1 true
        QTest::addColumn<int>("outer");
        QTest::addColumn<int>("inner");
        QTest::addColumn<bool>("expected");
        QTest::newRow("desktop decides: full") << false << -1 << -1 << -1 << false;
        QTest::newRow("desktop decides: reduced") << true << -1 << -1 << -1 << true;
        QTest::newRow("override off beats a reducing desktop") << true << -1 << 0 << -1 << false;
        QTest::newRow("override on beats a full desktop") << false << -1 << 1 << -1 << true;
        QTest::newRow("nearest override wins") << false << -1 << 1 << 0 << false;
        QTest::newRow("application override") << false << 1 << -1 << -1 << true;
        QTest::newRow("window override beats application") << false << 1 << 0 << -1 << false;
    }

    void overrideWinsOverTheDesktop()
    {
        QFETCH(bool, system);
        QFETCH(int, application);
        QFETCH(int, outer);
        QFETCH(int, inner);
        QFETCH(bool, expected);
        auto tri = [](int v) { return v < 0 ? std::nullopt : std::optional<bool>(v == 1); };
        VemiMotion::setSystemReduceMotion(system);
        VemiMotion::setApplicationReduceMotionOverride(tri(application));
        QWidget window;
        QWidget middle(&window);
        QWidget leaf(&middle);
        VemiMotion::setReduceMotionOverride(&window, tri(outer));
        VemiMotion::setReduceMotionOverride(&middle, tri(inner));
        QCOMPARE(VemiMotion::reduceMotion(&leaf), expected);
    }

    void overrideChangesReachAnimatedViews()
    {
        VemiMotion::setSystemReduceMotion(false);
        QWidget window;
        auto *view = new VemiStateView(VemiState::reading, 64, false, &window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(view->readingDotsAnimating());
        VemiMotion::setReduceMotionOverride(&window, true);
        QVERIFY(!view->readingDotsAnimating());
        VemiMotion::setReduceMotionOverride(&window, std::nullopt);
        QVERIFY(view->readingDotsAnimating());
        VemiMotion::setSystemReduceMotion(true);
        QVERIFY(!view->readingDotsAnimating());
    }

    void desktopSettingFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<int>("expected"); // -1 says nothing
        QTest::newRow("nothing") << QString() << QByteArray() << -1;
        QTest::newRow("KDE animations off")
            << "kdeglobals" << QByteArray("[KDE]\nAnimationDurationFactor=0\n") << 1;
        QTest::newRow("KDE slower animations")
            << "kdeglobals" << QByteArray("[General]\nfoo=1\n[KDE]\nAnimationDurationFactor=0.5\n") << 0;
        QTest::newRow("KDE without the key")
            << "kdeglobals" << QByteArray("[KDE]\nSingleClick=false\n") << -1;
        QTest::newRow("KDE nonsense factor")
            << "kdeglobals" << QByteArray("[KDE]\nAnimationDurationFactor=nan\n") << -1;
        QTest::newRow("GTK 3 off") << "gtk-3.0/settings.ini"
                                   << QByteArray("[Settings]\ngtk-enable-animations=false\n") << 1;
        QTest::newRow("GTK 4 off as 0")
            << "gtk-4.0/settings.ini" << QByteArray("[Settings]\ngtk-enable-animations=0\n") << 1;
        QTest::newRow("GTK on") << "gtk-3.0/settings.ini"
                                << QByteArray("[Settings]\ngtk-enable-animations=true\n") << 0;
    }

    void desktopSettingFiles()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, contents);
        QFETCH(int, expected);
        QTemporaryDir home;
        if (!file.isEmpty()) {
            QVERIFY(QDir(home.path()).mkpath(QFileInfo(file).path()));
            QVERIFY(writeFile(home.filePath(file), contents));
        }
        const std::optional<bool> answer = VemiMotion::desktopReduceMotion(home.path());
        QCOMPARE(answer.has_value(), expected >= 0);
        if (answer)
            QCOMPARE(*answer, expected == 1);
    }

    void imagesLoadFromTheFirstFolderThatHasThem()
    {
        const QStringList folders = VemiImages::searchFolders();
        QTemporaryDir empty;
        QTemporaryDir own;
        // A 64 by 64 template still reports the tray's 18 by 18.
        QVERIFY(writeFile(own.filePath("vemi-template.svg"),
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\"><rect width=\"64\" "
            "height=\"64\"/></svg>"));
        VemiImages::setSearchFolders({ empty.path(), own.path(), QStringLiteral(":/Vemi") });
        QVERIFY(VemiImages::regular());
        QCOMPARE(VemiImages::regular()->size(), QSizeF(108, 100));
        QVERIFY(!VemiImages::regular()->isTemplate());
        QVERIFY(VemiImages::templateImage());
        QCOMPARE(VemiImages::templateImage()->size(), QSizeF(18, 18));
        QVERIFY(VemiImages::templateImage()->isTemplate());
        const QImage icon = VemiImages::templateImage()->pixmap(QSize(18, 18), 1, Qt::red).toImage();
        QVERIFY(near(icon.pixelColor(9, 9), Qt::red));
        VemiImages::setSearchFolders(folders);
    }

    void unreadableOrMissingArtworkFallsBack()
    {
        const QStringList folders = VemiImages::searchFolders();
        QTemporaryDir broken;
        QVERIFY(writeFile(broken.filePath("vemi.svg"), "this is not an svg"));
        VemiImages::setSearchFolders({ broken.path() });
        QVERIFY(!VemiImages::load(QStringLiteral("vemi"), false).has_value());
        QVERIFY(!VemiImages::regular());
        QVERIFY(!VemiImages::templateImage());
        // The state view and the template icon draw their symbols instead.
        QWidget window;
        window.setPalette(AppearancePalettes::light());
        auto *view = new VemiStateView(VemiState::idle, 40, false, &window);
        view->setGeometry(0, 0, 80, 48);
        auto *icon = new VemiTemplateIcon(&window);
        icon->setGeometry(0, 50, 18, 18);
        window.resize(80, 70);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(near(view->grab().toImage().pixelColor(40, 20), VemiPalette::vemiTeal(), 6));
        QVERIFY(inkedPixels(icon->grab().toImage()) > 0);
        VemiImages::setSearchFolders(folders);
        QVERIFY(VemiImages::regular());
    }

    void everySymbolTheWindowsUseExists()
    {
        const QStringList used = { "arrow.down.circle", "bubble.left", "bubble.left.fill", "checkmark",
            "checkmark.circle", "checkmark.circle.fill", "circle.fill", "clock", "clock.arrow.circlepath",
            "doc.badge.clock", "doc.text", "dot.radiowaves.left.and.right", "ellipsis.circle", "envelope",
            "exclamationmark", "exclamationmark.circle.fill", "exclamationmark.shield.fill",
            "exclamationmark.triangle", "exclamationmark.triangle.fill", "folder", "gearshape", "hand.raised",
            "info.circle.fill", "internaldrive", "keyboard", "lock.fill", "menubar.rectangle",
            "minus.magnifyingglass", "pencil", "plus.magnifyingglass", "record.circle",
            "rectangle.arrowtriangle.2.outward", "sidebar.trailing", "stop.circle", "text.viewfinder",
            "viewfinder", "waveform", "xmark.circle.fill" };
        for (const QString &name : used) {
            QVERIFY2(VemiSymbols::contains(name), qPrintable(name));
            const QImage image = drawn(name, 32, Qt::blue);
            QVERIFY2(inkedPixels(image) > 20, qPrintable(name));
        }
        QCOMPARE(VemiSymbols::names().size(), used.size());
        QVERIFY(!VemiSymbols::contains(QStringLiteral("no.such.symbol")));
        QCOMPARE(inkedPixels(drawn(QStringLiteral("no.such.symbol"), 32, Qt::blue)), 0);
    }

    void symbolsTakeTheTintAndKeepTheirHoles()
    {
        const QColor coral = VemiPalette::vemiCoral();
        const QImage image = drawn(QStringLiteral("xmark.circle.fill"), 48, coral);
        // Inside the disc, off the cross: the tint. On the cross: a hole.
        QVERIFY(near(image.pixelColor(24, 8), coral));
        QCOMPARE(image.pixelColor(24, 24).alpha(), 0);
        QCOMPARE(image.pixelColor(1, 1).alpha(), 0);
        const QIcon icon = VemiSymbols::icon(QStringLiteral("xmark.circle.fill"), coral);
        QVERIFY(near(icon.pixmap(48, 48).toImage().pixelColor(24, 8), coral));
    }

    void decorativeWidgetsAreHiddenFromAssistiveTechnology()
    {
        QWidget window;
        auto *decorative = new VemiStateView(VemiState::saved, 40, true, &window);
        auto *speaking = new VemiStateView(VemiState::saved, 40, false, &window);
        speaking->move(100, 0);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QAccessibleInterface *hidden = QAccessible::queryAccessibleInterface(decorative);
        QVERIFY(hidden);
        QVERIFY(hidden->state().invisible);
        QAccessibleInterface *shown = QAccessible::queryAccessibleInterface(speaking);
        QVERIFY(!shown->state().invisible);
        QCOMPARE(shown->role(), QAccessible::Graphic);
        QCOMPARE(shown->text(QAccessible::Name), QStringLiteral("Vemi saved the capture"));
        speaking->setState(VemiState::needsAttention);
        QCOMPARE(shown->text(QAccessible::Name), QStringLiteral("Vemi needs attention"));
        speaking->setDecorative(true);
        QVERIFY(shown->state().invisible);

        auto *status = new VemiStatusLabel(QStringLiteral("Ready"), VemiColor::teal, QString(), &window);
        const QList<VemiSymbolView *> icons = status->findChildren<VemiSymbolView *>();
        QCOMPARE(icons.size(), 1);
        QVERIFY(QAccessible::queryAccessibleInterface(icons.first())->state().invisible);
        QVERIFY(QAccessible::queryAccessibleInterface(new VemiTemplateIcon(&window))->state().invisible);
    }

    void statusLabelShowsADotOrASymbol()
    {
        QWidget window;
        window.setPalette(AppearancePalettes::light());
        auto *label
            = new VemiStatusLabel(QStringLiteral("Ready to recover"), VemiColor::coral, QString(), &window);
        label->setGeometry(0, 0, 240, 24);
        window.resize(240, 24);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *icon = label->findChild<VemiSymbolView *>();
        QCOMPARE(icon->sizeHint(), QSize(8, 8));
        QImage image = label->grab().toImage();
        const QPoint dot = icon->geometry().center();
        QVERIFY(near(image.pixelColor(dot), VemiPalette::vemiCoral(), 4));
        QCOMPARE(icon->geometry().left(), 0);
        QCOMPARE(label->findChild<QLabel *>()->geometry().left(), icon->geometry().right() + 1 + 7);

        label->setSystemImage(QStringLiteral("lock.fill"));
        QVERIFY(icon->sizeHint().width() > 8);
        // Secondary text: the window text, lighter.
        const QColor text = label->findChild<QLabel *>()->palette().color(QPalette::WindowText);
        QVERIFY(text.alphaF() < 0.9f && text.alphaF() > 0.3f);
    }
};

QTEST_MAIN(TestVemiDesign)
#include "tst_VemiDesign.moc"

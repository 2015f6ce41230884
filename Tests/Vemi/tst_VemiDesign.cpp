#include "AppearancePalettes.h"
#include "TestSupport.h"
#include "Vemi/VemiCharacter.h"
#include "Vemi/VemiDesign.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

namespace {

using TestSupport::writeFile;

bool near(const QColor &a, const QColor &b, int tolerance = 4)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance && std::abs(a.alpha() - b.alpha()) <= tolerance;
}

int inkedPixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 128;
    return count;
}

bool isHidden(QWidget *widget)
{
    return QAccessible::queryAccessibleInterface(widget)->state().invisible;
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
        QTest::newRow("dark desktop") << QColor(45, 45, 48) << true;
        QTest::newRow("our dark canvas") << VemiPalette::vemiCanvas(VemiAppearance::dark) << true;
        QTest::newRow("light desktop") << QColor(239, 239, 239) << false;
        QTest::newRow("middle grey counts as light") << QColor(188, 188, 188) << false;
        QTest::newRow("saturated blue is dark") << QColor(0, 0, 255) << true;
    }

    void appearanceFollowsTheWindowColour()
    {
        QFETCH(QColor, window);
        QFETCH(bool, dark);
        QPalette palette;
        palette.setColor(QPalette::Window, window);
        QCOMPARE(VemiPalette::appearance(palette), dark ? VemiAppearance::dark : VemiAppearance::light);
        // A panel repaints in the colours of a palette it is given later.
        QWidget holder;
        auto *panel = new VemiPanel(12, nullptr, &holder);
        panel->resize(120, 80);
        holder.setPalette(palette);
        const QColor fill = VemiPalette::vemiPanel(VemiPalette::appearance(palette));
        const QImage image = panel->grab().toImage();
        QVERIFY(near(image.pixelColor(60, 40), fill));
        QVERIFY(!near(image.pixelColor(60, 0), fill)); // the hairline on the edge
    }

    void nearestReduceMotionOverrideWins_data()
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

    void nearestReduceMotionOverrideWins()
    {
        QFETCH(bool, system);
        QFETCH(int, application);
        QFETCH(int, outer);
        QFETCH(int, inner);
        QFETCH(bool, expected);
        auto tri = [](int v) { return v < 0 ? std::nullopt : std::optional<bool>(v == 1); };
        QWidget window;
        QWidget middle(&window);
        auto *view = new VemiStateView(VemiState::reading, 64, false, &middle);
        window.show();
        QVERIFY(view->readingDotsAnimating());
        // Set after the view exists: every change reaches it.
        VemiMotion::setSystemReduceMotion(system);
        VemiMotion::setApplicationReduceMotionOverride(tri(application));
        VemiMotion::setReduceMotionOverride(&window, tri(outer));
        VemiMotion::setReduceMotionOverride(&middle, tri(inner));
        QCOMPARE(VemiMotion::reduceMotion(view), expected);
        QCOMPARE(view->readingDotsAnimating(), !expected);
        // A new state fades in, growing into place only with full motion; the dots stop with reading.
        view->setState(VemiState::saved);
        QCOMPARE(view->incomingScale() < 1, !expected);
        QTRY_VERIFY(!view->isTransitioning());
        QVERIFY(!view->readingDotsAnimating());
    }

    // Nonsense sizes are tamed, small ones stay visible, the natural size has room for every overlay.
    void characterSizes_data()
    {
        QTest::addColumn<qreal>("size");
        QTest::addColumn<qreal>("expected");
        QTest::newRow("NaN") << qQNaN() << 104.0;
        QTest::newRow("infinite") << qInf() << 104.0;
        QTest::newRow("negative") << -5.0 << 104.0;
        QTest::newRow("zero") << 0.0 << 104.0;
        QTest::newRow("huge") << 1e12 << 4096.0;
        QTest::newRow("tiny") << 10.0 << 10.0;
        QTest::newRow("ordinary") << 40.0 << 40.0;
    }

    void characterSizes()
    {
        QFETCH(qreal, size);
        QFETCH(qreal, expected);
        VemiStateView view(VemiState::reading, size);
        view.setCharacterSize(qQNaN());
        QCOMPARE(view.characterSize(), expected);
        const auto layout = VemiStateView::layout(expected, QPointF(0, 0), true);
        const auto dots = VemiReadingDots::geometry(expected);
        QVERIFY(layout.cornerLineWidth >= 2 && dots.diameter >= 4);
        const auto wave = VemiWaveform::geometry(layout.waveform.size());
        QVERIFY(wave.lineWidth >= 1.5);
        for (const QLineF &bar : wave.bars)
            QVERIFY(bar.length() >= 2.0 - 1e-9);
        // Without the artwork the symbol fills an s square and the badge stays where it was.
        const auto fallback = VemiStateView::layout(expected, QPointF(0, 0), false);
        QCOMPARE(fallback.character.size(), QSizeF(expected, expected));
        QCOMPARE(fallback.badge, layout.badge);
        const qreal half = view.sizeHint().width() / 2.0;
        QVERIFY(half >= layout.dotsCentre.x() + 1.5 * dots.diameter + dots.spacing - 0.5);
        QVERIFY(half >= std::max(layout.waveform.right(), layout.badge.right()) - 0.5);
        VemiSymbolView symbol(QStringLiteral("checkmark"), VemiColor::teal, size);
        QVERIFY(symbol.sizeHint().width() >= 0 && symbol.sizeHint().width() <= 4096);
        VemiCaptureCorners corners(VemiColor::coral, size, size);
        corners.resize(40, 30);
        QVERIFY(!corners.grab().isNull());
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
        if (!file.isEmpty())
            QVERIFY(writeFile(home.filePath(file), contents));
        const std::optional<bool> answer = VemiMotion::desktopReduceMotion(home.path());
        QCOMPARE(answer.has_value(), expected >= 0);
        if (answer)
            QCOMPARE(*answer, expected == 1);
    }

    void artworkComesFromTheFirstFolderThatHasItElseSymbols()
    {
        const QStringList folders = VemiImages::searchFolders();
        QTemporaryDir empty;
        QTemporaryDir own;
        // A 64 by 64 template still reports the tray's 18 by 18.
        QVERIFY(writeFile(own.filePath("vemi-template.svg"),
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\"><rect width=\"64\" "
            "height=\"64\"/></svg>"));
        VemiImages::setSearchFolders({ empty.path(), own.path(), QStringLiteral(":/Vemi") });
        QVERIFY(VemiImages::regular() && !VemiImages::regular()->isTemplate());
        QCOMPARE(VemiImages::templateImage()->size(), QSizeF(18, 18));
        QVERIFY(VemiImages::templateImage()->isTemplate());
        const QImage icon = VemiImages::templateImage()->pixmap(QSize(18, 18), 1, Qt::red).toImage();
        QVERIFY(near(icon.pixelColor(9, 9), Qt::red));

        // Unreadable artwork: the state view and the tray icon draw their symbols instead.
        QVERIFY(writeFile(empty.filePath("vemi.svg"), "this is not an svg"));
        VemiImages::setSearchFolders({ empty.path() });
        QVERIFY(!VemiImages::load(QStringLiteral("vemi"), false).has_value());
        QVERIFY(!VemiImages::regular() && !VemiImages::templateImage());
        QWidget window;
        window.setPalette(AppearancePalettes::light());
        auto *view = new VemiStateView(VemiState::idle, 40, false, &window);
        view->setGeometry(0, 0, 80, 48);
        auto *tray = new VemiTemplateIcon(&window);
        tray->setGeometry(0, 50, 18, 18);
        window.show();
        QVERIFY(near(view->grab().toImage().pixelColor(40, 20), VemiPalette::vemiTeal(), 6));
        QVERIFY(inkedPixels(tray->grab().toImage()) > 0);
        VemiImages::setSearchFolders(folders);
        QVERIFY(VemiImages::regular());
    }

    // A status label's dot or symbol and decorative pieces are not read aloud; the character is.
    void statusLabelsAndTheCharacterForAssistiveTechnology()
    {
        QWidget window;
        window.setPalette(AppearancePalettes::light());
        auto *decorative = new VemiStateView(VemiState::saved, 40, true, &window);
        auto *speaking = new VemiStateView(VemiState::saved, 40, false, &window);
        auto *label
            = new VemiStatusLabel(QStringLiteral("Ready to recover"), VemiColor::coral, QString(), &window);
        label->setGeometry(0, 60, 240, 24);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *dot = label->findChild<VemiSymbolView *>();
        QCOMPARE(dot->sizeHint(), QSize(8, 8));
        QVERIFY(near(label->grab().toImage().pixelColor(dot->geometry().center()),
            VemiPalette::coralInk(VemiAppearance::light)));
        label->setSystemImage(QStringLiteral("lock.fill"));
        QVERIFY(dot->sizeHint().width() > 8);
        QVERIFY(isHidden(dot) && isHidden(decorative) && isHidden(new VemiTemplateIcon(&window)));
        QVERIFY(!isHidden(speaking));
        QAccessibleInterface *shown = QAccessible::queryAccessibleInterface(speaking);
        QCOMPARE(shown->role(), QAccessible::Graphic);
        speaking->setState(VemiState::needsAttention);
        QCOMPARE(shown->text(QAccessible::Name), VemiStates::sentence(VemiState::needsAttention));
        speaking->setDecorative(true);
        QVERIFY(isHidden(speaking));
    }
};

QTEST_MAIN(TestVemiDesign)
#include "tst_VemiDesign.moc"

// Whole scrolling captures against a real scrolling window (scroll_target) on an X server of the
// test's own: the stitched tiles against a rendering of the whole column, the recognized text, the
// limits, and every way a capture fails.
#include "Capture/OCRService.h"
#include "Capture/ScreenCaptureService.h"
#include "Documents/ImageNormalization.h"
#include "PrivateXvfb.h"
#include "ScrollTargetProcess.h"
#include "Scrolling/ScrollingCaptureCoordinator.h"
#include "Scrolling/ScrollingControlPanel.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(ScrollingCaptureLimits)
Q_DECLARE_METATYPE(ScrollingCaptureError)

namespace {

PrivateXvfb *server = nullptr;

QByteArray testKey()
{
    return QByteArray(32, '\x5a');
}

// What one run left behind.
struct Outcome
{
    std::optional<CaptureDraft> draft;
    std::optional<ScrollingCaptureError> error;
    QString otherError;
};

class Harness
{
public:
    Harness()
        : store(dir.path(), testKey())
    { }

    std::unique_ptr<ScrollingCaptureCoordinator> make(const ScrollTargetProcess &target,
        QRect region = QRect(), ScrollingCaptureLimits limits = ScrollingCaptureLimits::production,
        ScrollingCaptureEnvironment environment = ScrollingCaptureEnvironment::live())
    {
        if (region.isNull())
            region = target.region();
        const ScrollingCaptureCoordinator::FrameFunctions frames
            = ScrollingCaptureCoordinator::defaultFrameFunctions();
        ScreenCaptureService *screens = &service;
        auto coordinator = std::make_unique<ScrollingCaptureCoordinator>(
            ScrollTargetProcess::geometryOf(region), target.captureTarget(), QUuid::createUuid(), store,
            [screens](ScrollingRegionGeometry geometry) { return screens->scrollingViewport(geometry); },
            recognize, limits, environment, frames.prepareFrame, frames.alignFrames, frames.frameDifference);
        return coordinator;
    }

    static Outcome run(ScrollingCaptureCoordinator &coordinator, std::function<void()> during = {})
    {
        Outcome outcome;
        bool finished = false;
        Task<void> task = Task<void>::spawn(&coordinator, [&]() -> Task<void> {
            try {
                Task<CaptureDraft> running = coordinator.run();
                outcome.draft = co_await running;
            } catch (const ScrollingCaptureFailure &failure) {
                outcome.error = failure.error();
            } catch (const std::exception &error) {
                outcome.otherError = QString::fromUtf8(error.what());
            }
            finished = true;
        });
        if (during)
            during();
        if (!QTest::qWaitFor([&] { return finished; }, 120000))
            outcome.otherError = QStringLiteral("the capture did not finish");
        return outcome;
    }

    bool storeIsEmpty() const
    {
        return !QFile::exists(store.draftFilePath()) && !QDir(store.tileDirectoryPath()).exists();
    }

    // The tiles placed at their document rows, read back from the store.
    QImage stitched(const CaptureDraft &draft) const
    {
        const ScrollingCaptureManifest &manifest = *draft.scrollingCapture;
        QImage image(manifest.pixelWidth, manifest.pixelHeight, QImage::Format_RGB32);
        image.fill(Qt::magenta);
        for (const ScrollingCaptureTile &tile : manifest.tiles) {
            const QImage part = QImage::fromData(store.loadTilePNG(draft.id, tile.index), "PNG");
            if (part.size() != QSize(tile.pixelWidth, tile.pixelHeight))
                return QImage();
            for (int y = 0; y < part.height(); ++y) {
                for (int x = 0; x < part.width(); ++x)
                    image.setPixel(x, tile.documentTop + y, part.pixel(x, y) | 0xff000000u);
            }
        }
        return image;
    }

    QTemporaryDir dir;
    EncryptedDraftStore store;
    ScreenCaptureService service;
    OCRService ocr;
    ScrollingCaptureCoordinator::RecognizeText recognize
        = [this](QImage image) { return ocr.recognizeText(std::move(image)); };
};

// Rows of `actual` that differ from `expected` over `columns`, outside `ignore`; -1 for a size mismatch.
int differingRows(const QImage &actual, const QImage &expected, int columns, const QRect &ignore = QRect())
{
    if (actual.height() != expected.height() || actual.width() < columns || expected.width() < columns)
        return -1;
    int rows = 0;
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < columns; ++x) {
            if (ignore.contains(x, y))
                continue;
            if ((actual.pixel(x, y) & 0xffffff) != (expected.pixel(x, y) & 0xffffff)) {
                ++rows;
                break;
            }
        }
    }
    return rows;
}

// Each "Line <n>" of the text, counted.
QMap<int, int> numberedLines(const QString &text)
{
    QMap<int, int> seen;
    const QRegularExpression pattern(QStringLiteral("\\bLine (\\d+)\\b"));
    for (auto it = pattern.globalMatch(text); it.hasNext();)
        ++seen[it.next().captured(1).toInt()];
    return seen;
}

} // namespace

class TestScrollingCaptureCoordinator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(server && server->isRunning()); }

    // The capture runs to the end of the column by itself; its tiles, placed at their rows, are the
    // column pixel for pixel, and each numbered line is in the text once.
    void capturesTheWholeColumn_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("withScrollbar");
        QTest::addColumn<bool>("readsText");
        QTest::newRow("plain") << QStringList { "--lines", "55" } << false << true;
        QTest::newRow("sticky header and footer")
            << QStringList { "--lines", "45", "--sticky" } << false << true;
        QTest::newRow("repeated blocks") << QStringList { "--lines", "18", "--repeat" } << false << true;
        QTest::newRow("dark theme") << QStringList { "--lines", "35", "--dark" } << false << false;
        QTest::newRow("large steps") << QStringList { "--lines", "70", "--large-step" } << false << false;
        QTest::newRow("blinking caret") << QStringList { "--lines", "30", "--caret" } << false << false;
        QTest::newRow("scrollbar inside the region") << QStringList { "--lines", "35" } << true << false;
    }
    void capturesTheWholeColumn()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, withScrollbar);
        QFETCH(bool, readsText);
        const QImage expected = ScrollTargetProcess::render(arguments);
        QVERIFY(!expected.isNull());
        ScrollTargetProcess target;
        QVERIFY(target.start(arguments));
        Harness harness;
        QRect region = target.region();
        if (withScrollbar)
            region.setRight(target.scrollbar().right());
        if (!readsText)
            harness.recognize = [](QImage) -> Task<OCRResult> { co_return OCRResult {}; };
        auto coordinator = harness.make(target, region);
        const Outcome outcome = Harness::run(*coordinator);
        QVERIFY2(outcome.draft, qPrintable(outcome.otherError));

        const CaptureDraft &draft = *outcome.draft;
        QVERIFY(draft.scrollingCapture);
        QCOMPARE(draft.scrollingCapture->pixelWidth, region.width());
        QCOMPARE(draft.scrollingCapture->pixelHeight, expected.height());
        const QImage stitched = harness.stitched(draft);
        QCOMPARE(
            differingRows(stitched, expected, target.region().width(), target.caret().adjusted(-1, -1, 1, 1)),
            0);

        if (!readsText)
            return;
        const int lines = arguments.at(1).toInt();
        const QMap<int, int> seen = numberedLines(draft.reviewedText);
        QStringList wrong;
        for (int n = 1; n <= lines; ++n) {
            if (seen.value(n) != 1)
                wrong << QStringLiteral("%1 x%2").arg(n).arg(seen.value(n));
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral(", "))));
    }

    // The draft is complete and saved before run() answers; it reloads with its tiles.
    void returnedDraftReloads()
    {
        ScrollTargetProcess target;
        QVERIFY(target.start({ "--lines", "30", "--sticky" }));
        Harness harness;
        auto coordinator = harness.make(target);
        const Outcome outcome = Harness::run(*coordinator);
        QVERIFY2(outcome.draft, qPrintable(outcome.otherError));
        const CaptureDraft &draft = *outcome.draft;
        QCOMPARE(harness.store.load(), std::optional<CaptureDraft>(draft));
        QVERIFY(draft.pngData.isEmpty());
        QCOMPARE(draft.recognizedText, std::optional<QString>(draft.reviewedText));
        QCOMPARE(draft.ocrLanguages, QStringList { "en" });
        QCOMPARE(draft.applicationName, std::optional<QString>("Scroll target"));
        QCOMPARE(draft.applicationBundleID, std::optional<QString>("scroll_target"));
        QVERIFY(draft.note.isEmpty() && draft.tags.isEmpty() && !draft.destinationFolder);
        QVERIFY(!draft.observations.isEmpty());
        for (const CaptureTextObservation &line : draft.observations)
            QVERIFY(QRectF(0, 0, 1, 1).contains(line.boundingBox));
        int top = 0;
        for (const ScrollingCaptureTile &tile : draft.scrollingCapture->tiles) {
            QCOMPARE(tile.documentTop, top);
            top += tile.pixelHeight;
            QVERIFY(!harness.store.loadTilePNG(draft.id, tile.index).isEmpty());
        }
        QCOMPARE(top, draft.scrollingCapture->pixelHeight);
    }

    // A limit reached once a tile exists ends the capture normally with what it has, and that is
    // the top of the column.
    void limitsEndNormally_data()
    {
        QTest::addColumn<ScrollingCaptureLimits>("limits");
        QTest::addColumn<int>("maxTiles");
        ScrollingCaptureLimits oneTile = ScrollingCaptureLimits::production;
        oneTile.maxTiles = 1;
        ScrollingCaptureLimits pixels = ScrollingCaptureLimits::production;
        pixels.maxPixels = 700 * 1100;
        ScrollingCaptureLimits time = ScrollingCaptureLimits::production;
        time.maxDuration = 1ms;
        // Room for a tile of a little more than 1024 rows, never for two.
        const QImage column = ScrollTargetProcess::render({ "--lines", "120" });
        ScrollingCaptureLimits bytes = ScrollingCaptureLimits::production;
        bytes.maxEncryptedBytes
            = ImageNormalization::pngData(column.copy(0, 0, column.width(), 1900))->size();
        QTest::newRow("tiles") << oneTile << 1;
        QTest::newRow("pixels") << pixels << 2;
        QTest::newRow("duration") << time << 1;
        QTest::newRow("encrypted bytes") << bytes << 1;
    }
    void limitsEndNormally()
    {
        QFETCH(ScrollingCaptureLimits, limits);
        QFETCH(int, maxTiles);
        const QStringList arguments { "--lines", "120" };
        const QImage expected = ScrollTargetProcess::render(arguments);
        ScrollTargetProcess target;
        QVERIFY(target.start(arguments));
        Harness harness;
        harness.recognize = [](QImage) -> Task<OCRResult> { co_return OCRResult {}; };
        auto coordinator = harness.make(target, QRect(), limits);
        const Outcome outcome = Harness::run(*coordinator);
        QVERIFY2(outcome.draft, qPrintable(outcome.otherError));
        const ScrollingCaptureManifest &manifest = *outcome.draft->scrollingCapture;
        QVERIFY(!manifest.tiles.isEmpty());
        QVERIFY(manifest.tiles.size() <= maxTiles);
        QVERIFY(manifest.pixelHeight < expected.height());
        QVERIFY(qint64(manifest.pixelWidth) * manifest.pixelHeight <= limits.maxPixels);
        const QImage stitched = harness.stitched(*outcome.draft);
        QCOMPARE(differingRows(
                     stitched, expected.copy(0, 0, expected.width(), stitched.height()), stitched.width()),
            0);
    }

    // When not even the first tile fits, the capture fails and leaves nothing behind.
    void storageLimitAtTheFirstTile_data()
    {
        QTest::addColumn<ScrollingCaptureLimits>("limits");
        ScrollingCaptureLimits bytes = ScrollingCaptureLimits::production;
        bytes.maxEncryptedBytes = 4096;
        ScrollingCaptureLimits pixels = ScrollingCaptureLimits::production;
        pixels.maxPixels = 10'000;
        ScrollingCaptureLimits tiles = ScrollingCaptureLimits::production;
        tiles.maxTiles = 0;
        QTest::newRow("bytes") << bytes;
        QTest::newRow("pixels") << pixels;
        QTest::newRow("no tiles") << tiles;
    }
    void storageLimitAtTheFirstTile()
    {
        QFETCH(ScrollingCaptureLimits, limits);
        ScrollTargetProcess target;
        QVERIFY(target.start({ "--lines", "60" }));
        Harness harness;
        auto coordinator = harness.make(target, QRect(), limits);
        const Outcome outcome = Harness::run(*coordinator);
        QCOMPARE(outcome.error, std::optional(ScrollingCaptureError::storageLimitReached));
        QVERIFY(harness.storeIsEmpty());
    }

    // Every way out that is not a finished capture fails with its own error and removes the draft
    // and its tiles.
    void failuresLeaveNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<ScrollingCaptureError>("error");
        QTest::newRow("Cancel on the panel") << "panel" << ScrollingCaptureError::canceled;
        QTest::newRow("cancelRequested") << "flag" << ScrollingCaptureError::canceled;
        QTest::newRow("target window closed") << "close" << ScrollingCaptureError::targetUnavailable;
        QTest::newRow("display changed") << "display" << ScrollingCaptureError::displayChanged;
    }
    void failuresLeaveNothing()
    {
        QFETCH(QString, how);
        QFETCH(ScrollingCaptureError, error);
        ScrollTargetProcess target;
        QVERIFY(target.start({ "--lines", "400", "--sticky" }));
        Harness harness;
        harness.recognize = [](QImage) -> Task<OCRResult> { co_return OCRResult {}; };
        auto coordinator = harness.make(target);
        ScrollingCaptureCoordinator *running = coordinator.get();
        const Outcome outcome = Harness::run(*coordinator, [&] {
            // Late enough that tiles exist already.
            (void)QTest::qWaitFor([&] { return QDir(harness.store.tileDirectoryPath()).exists(); }, 30000);
            QVERIFY(QDir(harness.store.tileDirectoryPath()).exists());
            if (how == "panel")
                QTest::mouseClick(running->controlPanel()->cancelButton(), Qt::LeftButton);
            else if (how == "flag")
                running->setCancelRequested(true);
            else if (how == "close")
                target.stop();
            else if (how == "display")
                emit QGuiApplication::primaryScreen()->geometryChanged(QRect(0, 0, 1280, 1024));
        });
        QCOMPARE(outcome.error, std::optional(error));
        QVERIFY(harness.storeIsEmpty());
        QVERIFY(!running->controlPanel()->isVisible());
    }

    // Done on the panel ends the capture at once with what it has.
    void doneEndsNormally()
    {
        ScrollTargetProcess target;
        QVERIFY(target.start({ "--lines", "400" }));
        Harness harness;
        harness.recognize = [](QImage) -> Task<OCRResult> { co_return OCRResult {}; };
        auto coordinator = harness.make(target);
        ScrollingCaptureCoordinator *running = coordinator.get();
        const Outcome outcome = Harness::run(*coordinator, [&] {
            QTest::qWait(1500);
            QTest::mouseClick(running->controlPanel()->doneButton(), Qt::LeftButton);
        });
        QVERIFY2(outcome.draft, qPrintable(outcome.otherError));
        QVERIFY(outcome.draft->scrollingCapture->pixelHeight > target.region().height());
        QVERIFY(outcome.draft->scrollingCapture->pixelHeight < 400 * 26);
        QVERIFY(outcome.draft->reviewedText.isEmpty());
        QCOMPARE(outcome.draft->title, QStringLiteral("Untitled capture"));
    }
};

int main(int argc, char **argv)
{
    PrivateXvfb display;
    server = &display;
    if (display.isRunning()) {
        qputenv("DISPLAY", display.display().toLocal8Bit());
        qunsetenv("QT_QPA_PLATFORM");
    }
    QApplication app(argc, argv);
    TestScrollingCaptureCoordinator test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ScrollingCaptureCoordinator.moc"

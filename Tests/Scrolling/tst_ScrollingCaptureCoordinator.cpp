// Whole scrolling captures through one harness: against the scroll_target window on an X server of
// the test's own, and against synthetic columns drawn at their scroll position on the manual clock.
// The stitched tiles must be the column pixel for pixel, every row once, and the capture must end
// by itself at the real end, or say which limit or pause ended it; every failure leaves nothing.
#include "Capture/OCRService.h"
#include "Capture/ScreenCaptureService.h"
#include "Documents/ImageNormalization.h"
#include "PrivateXvfb.h"
#include "ScrollTargetProcess.h"
#include "Scrolling/ScrollingCaptureCoordinator.h"
#include "Scrolling/ScrollingControlPanel.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

PrivateXvfb *server = nullptr;

enum class Overlay { none, floatingButton, footerFromScroll, animatedBox, fixedSpinner };

// A synthetic column from top to bottom: 't' numbered lines of text, 'c' identical cards, 'b' empty
// rows, 'p' rows of a flat panel; each with its count.
using Pieces = QList<std::pair<char, int>>;

QImage column(const Pieces &pieces)
{
    static const QStringList words = { "alpha", "stitch", "render", "quiet", "window", "signal", "harbor",
        "granite", "ledger", "orbit", "violet", "tunnel", "beacon", "meadow", "copper", "drift" };
    int height = 0;
    for (const auto &[kind, count] : pieces)
        height += kind == 't' ? 22 * count : kind == 'c' ? 70 * count : count;
    QImage image(640, height, QImage::Format_RGB32);
    image.fill(QColor(250, 250, 248));
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(14);
    painter.setFont(font);
    int y = 0;
    int line = 0;
    for (const auto &[kind, count] : pieces) {
        for (int i = 0; kind == 't' && i < count; ++i, y += 22) {
            QString text = QStringLiteral("Line %1:").arg(++line, 4, 10, QLatin1Char('0'));
            for (quint32 seed = line * 2654435761u, n = 2 + seed % 7; n > 0; --n)
                text += QLatin1Char(' ') + words.at(int((seed = seed * 1664525u + 1013904223u) >> 28));
            painter.setPen(QColor(20, 20, 24));
            painter.drawText(QRect(12 + (line % 3) * 8, y, 600, 22), Qt::AlignVCenter, text);
            if (line % 11 == 0)
                painter.fillRect(QRect(550, y + 4, 60, 14), QColor(70, 130, 180));
        }
        for (int i = 0; kind == 'c' && i < count; ++i, y += 70) {
            painter.setPen(QColor(120, 130, 150));
            painter.setBrush(QColor(238, 242, 247));
            painter.drawRect(20, y + 6, 600, 58);
            painter.setPen(QColor(20, 20, 24));
            painter.drawText(
                QRect(34, y + 10, 560, 24), Qt::AlignVCenter, QStringLiteral("Recommended item"));
            painter.drawText(
                QRect(34, y + 34, 560, 24), Qt::AlignVCenter, QStringLiteral("the same card text"));
        }
        if (kind == 'p')
            painter.fillRect(QRect(20, y, 600, count), QColor(214, 220, 228));
        if (kind == 'b' || kind == 'p')
            y += count;
    }
    return image;
}

// The window of a synthetic run: a column, what sits over it, and a wheel that moves it
// `delay` after each event on the manual clock.
struct FakeWindow
{
    static constexpr int viewHeight = 400;
    QImage document;
    Overlay overlay = Overlay::none;
    int footerFrom = 0;
    int perNotch = 40;
    std::chrono::milliseconds delay { 0 };
    ManualTaskClock *clock = nullptr;
    int scroll = 0;
    int looks = 0;
    std::multimap<TaskClock::TimePoint, int> moves;

    int maximumScroll() const { return document.height() - viewHeight; }
    QRect floatingRect() const { return QRect(560, 320, 56, 56); }
    QRect footerRect() const { return QRect(0, viewHeight - 40, document.width(), 40); }
    QRect boxInDocument() const { return QRect(300, 620, 200, 100); }

    void wheel(int notches) { moves.emplace(clock->now() + delay, notches * perNotch); }

    QImage look()
    {
        while (!moves.empty() && moves.begin()->first <= clock->now()) {
            scroll = std::min(maximumScroll(), scroll + moves.begin()->second);
            moves.erase(moves.begin());
        }
        QImage frame = document.copy(0, scroll, document.width(), viewHeight);
        QPainter painter(&frame);
        const int phase = looks++;
        const auto animate = [&](const QRect &box) {
            painter.fillRect(box, QColor::fromHsv((phase * 47) % 360, 150, 220));
            painter.fillRect(
                QRect(box.x() + (phase * 17) % box.width(), box.y(), 8, box.height()), Qt::black);
        };
        if (overlay == Overlay::floatingButton) {
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(22, 160, 133));
            painter.drawEllipse(floatingRect());
            painter.setPen(QPen(Qt::white, 3));
            painter.drawLine(
                floatingRect().center() + QPoint(-8, 4), floatingRect().center() + QPoint(0, -6));
        } else if (overlay == Overlay::footerFromScroll && scroll >= footerFrom) {
            painter.fillRect(footerRect(), QColor(30, 40, 60));
            painter.setPen(Qt::white);
            painter.drawText(
                footerRect().adjusted(12, 0, 0, 0), Qt::AlignVCenter, QStringLiteral("Subscribe"));
        } else if (overlay == Overlay::animatedBox) {
            animate(boxInDocument().translated(0, -scroll));
        } else if (overlay == Overlay::fixedSpinner) {
            animate(floatingRect());
        }
        return frame;
    }
};

struct Scenario
{
    QStringList live; // scroll_target's arguments; a synthetic column when empty
    Pieces pieces;
    Overlay overlay = Overlay::none;
    int footerFrom = 0;
    int perNotch = 40;
    std::chrono::milliseconds delay { 0 };
    ScrollingCaptureLimits limits = ScrollingCaptureLimits::production;
    // How it ends; none: it fails with storageLimitReached.
    std::optional<ScrollingCaptureEnd> end = ScrollingCaptureEnd::endOfContent;
    bool readsText = false;
    bool recognizerUnavailable = false;
    bool withScrollbar = false;
};

// What one run left behind.
struct Outcome
{
    std::optional<ScrollingCaptureResult> result;
    std::optional<ScrollingCaptureError> error;
    QString otherError;
    bool pausedWithMessage = false;
};

class Harness
{
public:
    Harness()
        : store(dir.path(), QByteArray(32, '\x5a'))
    { }

    std::unique_ptr<ScrollingCaptureCoordinator> live(const ScrollTargetProcess &target, QRect region,
        ScrollingCaptureLimits limits = ScrollingCaptureLimits::production)
    {
        ScreenCaptureService *screens = &service;
        return make(
            ScrollTargetProcess::geometryOf(region), target.captureTarget(),
            [screens](ScrollingRegionGeometry geometry) { return screens->scrollingViewport(geometry); },
            ScrollingCaptureEnvironment::live(), limits);
    }

    std::unique_ptr<ScrollingCaptureCoordinator> synthetic(FakeWindow &window, ScrollingCaptureLimits limits)
    {
        ScrollingRegionGeometry geometry;
        geometry.globalRect = QRectF(0, 0, window.document.width(), FakeWindow::viewHeight);
        geometry.pixelRect = QRect(0, 0, window.document.width(), FakeWindow::viewHeight);
        ScrollingCaptureEnvironment environment;
        environment.observesDisplayChanges = false;
        environment.clock = window.clock = &manualClock;
        environment.scrollDown = [&window](QPoint, int notches) {
            window.wheel(notches);
            return true;
        };
        return make(
            geometry, ScrollingCaptureTarget {},
            [&window](ScrollingRegionGeometry) -> Task<QImage> { co_return window.look(); }, environment,
            limits);
    }

    // Runs the capture to its end; the manual clock moves whenever the capture only waits for it.
    // A pause is answered with Done once the panel shows why.
    Outcome run(ScrollingCaptureCoordinator &coordinator, std::function<void()> during = {})
    {
        Outcome outcome;
        bool finished = false;
        QObject::connect(&coordinator, &ScrollingCaptureCoordinator::paused, &coordinator, [&] {
            outcome.pausedWithMessage = coordinator.controlPanel()->message()->isVisible()
                && coordinator.controlPanel()->message()->text()
                    == ScrollingCaptureErrors::description(ScrollingCaptureError::alignmentAmbiguous);
            coordinator.controlPanel()->doneButton()->click();
        });
        Task<void> task = Task<void>::spawn(&coordinator, [&]() -> Task<void> {
            try {
                Task<ScrollingCaptureResult> running = coordinator.run();
                outcome.result = co_await running;
            } catch (const ScrollingCaptureFailure &failure) {
                outcome.error = failure.error();
            } catch (const std::exception &error) {
                outcome.otherError = QString::fromUtf8(error.what());
            }
            finished = true;
        });
        if (during)
            during();
        const QDeadlineTimer deadline(120s);
        while (!finished && !deadline.hasExpired()) {
            QCoreApplication::processEvents();
            if (!finished && usesManualClock && manualClock.pendingTimers() > 0)
                manualClock.advance(5ms);
            else if (!finished)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        if (!finished)
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
        QPainter painter(&image);
        for (const ScrollingCaptureTile &tile : manifest.tiles)
            painter.drawImage(0, tile.documentTop, QImage::fromData(store.loadTilePNG(draft.id, tile.index)));
        return image;
    }

    QTemporaryDir dir;
    EncryptedDraftStore store;
    ScreenCaptureService service;
    OCRService ocr;
    ManualTaskClock manualClock;
    bool usesManualClock = false;
    ScrollingCaptureCoordinator::RecognizeText recognize
        = [](QImage) -> Task<OCRResult> { co_return OCRResult {}; };

private:
    std::unique_ptr<ScrollingCaptureCoordinator> make(const ScrollingRegionGeometry &geometry,
        const ScrollingCaptureTarget &target, ScrollingCaptureCoordinator::CaptureViewport viewport,
        const ScrollingCaptureEnvironment &environment, ScrollingCaptureLimits limits)
    {
        usesManualClock = environment.clock == &manualClock;
        const auto frames = ScrollingCaptureCoordinator::defaultFrameFunctions();
        return std::make_unique<ScrollingCaptureCoordinator>(geometry, target, QUuid::createUuid(), store,
            viewport, recognize, limits, environment, frames.prepareFrame, frames.alignFrames,
            frames.frameDifference);
    }
};

// Rows of `actual` that differ from `expected` outside `ignore`; -1 when their sizes differ.
int differingRows(const QImage &actual, const QImage &expected, const QRect &ignore = QRect())
{
    if (actual.size() != expected.size())
        return -1;
    int rows = 0;
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            if (!ignore.contains(x, y) && (actual.pixel(x, y) ^ expected.pixel(x, y)) & 0xffffff) {
                ++rows;
                break;
            }
        }
    }
    return rows;
}

ScrollingCaptureLimits limited(const std::function<void(ScrollingCaptureLimits &)> &change)
{
    ScrollingCaptureLimits limits = ScrollingCaptureLimits::production;
    change(limits);
    return limits;
}

} // namespace

Q_DECLARE_METATYPE(Scenario)
Q_DECLARE_METATYPE(std::optional<ScrollingCaptureError>)

class TestScrollingCaptureCoordinator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(server && server->isRunning()); }

    void capture_data()
    {
        QTest::addColumn<Scenario>("scenario");
        using End = ScrollingCaptureEnd;
        const Pieces text { { 't', 80 } };
        const auto fake = [](Pieces pieces, Overlay overlay = Overlay::none, int footerFrom = 0) {
            Scenario scenario;
            scenario.pieces = pieces;
            scenario.overlay = overlay;
            scenario.footerFrom = footerFrom;
            return scenario;
        };
        QTest::newRow("synthetic plain column") << fake(text);
        QTest::newRow("floating button") << fake(text, Overlay::floatingButton);
        QTest::newRow("footer comes into view early") << fake(text, Overlay::footerFromScroll, 200);
        QTest::newRow("footer comes into view late") << fake(text, Overlay::footerFromScroll, 900);
        QTest::newRow("animated box in the content") << fake(text, Overlay::animatedBox);
        QTest::newRow("spinner fixed over the content") << fake(text, Overlay::fixedSpinner);
        // Each of these ended after about a screen, or dropped whole blocks, as a complete capture.
        QTest::newRow("identical cards, taller than the view")
            << fake({ { 't', 6 }, { 'c', 24 }, { 't', 6 } });
        QTest::newRow("runs of identical cards between headings")
            << fake({ { 't', 3 }, { 'c', 9 }, { 't', 2 }, { 'c', 9 }, { 't', 1 }, { 'c', 12 }, { 't', 6 } });
        QTest::newRow("blank gap taller than the view") << fake({ { 't', 25 }, { 'b', 900 }, { 't', 25 } });
        QTest::newRow("flat panel taller than the view") << fake({ { 't', 25 }, { 'p', 700 }, { 't', 25 } });
        Scenario slow = fake(text);
        slow.delay = 1s;
        QTest::newRow("moves a second after each event") << slow;
        Scenario timed = slow;
        timed.pieces = { { 't', 200 } };
        timed.limits.maxDuration = 8s;
        timed.end = End::durationLimit;
        QTest::newRow("time limit says so") << timed;
        slow.perNotch = FakeWindow::viewHeight - 60;
        QTest::newRow("moves a second late, large steps") << slow;
        Scenario noEngine = fake(text);
        noEngine.recognizerUnavailable = true;
        QTest::newRow("recognizer cannot run: tiles kept, no text") << noEngine;
        Scenario lost = fake({ { 'c', 40 } });
        lost.end = End::paused;
        QTest::newRow("nothing to place a step by pauses") << lost;

        const auto real = [](QStringList arguments, bool readsText = false) {
            Scenario scenario;
            scenario.live = arguments;
            scenario.readsText = readsText;
            return scenario;
        };
        QTest::newRow("live plain") << real({ "--lines", "55" }, true);
        QTest::newRow("live sticky header and footer") << real({ "--lines", "45", "--sticky" }, true);
        QTest::newRow("live repeated lines") << real({ "--lines", "18", "--repeat" }, true);
        QTest::newRow("live identical cards") << real({ "--lines", "9", "--cards", "30" });
        QTest::newRow("live dark theme") << real({ "--lines", "35", "--dark" });
        QTest::newRow("live large steps") << real({ "--lines", "70", "--large-step" });
        QTest::newRow("live blinking caret") << real({ "--lines", "30", "--caret" });
        QTest::newRow("live, a second late") << real({ "--lines", "30", "--delay", "1000" });
        QTest::newRow("live, a second late, large steps")
            << real({ "--lines", "40", "--large-step", "--delay", "1000" });
        Scenario scrollbar = real({ "--lines", "35" });
        scrollbar.withScrollbar = true;
        QTest::newRow("live scrollbar inside the region") << scrollbar;

        const QStringList tall { "--lines", "120" };
        const QImage rendered = ScrollTargetProcess::render(tall);
        const QImage top = rendered.copy(0, 0, rendered.width(), 1900);
        const std::pair<const char *, ScrollingCaptureLimits> limits[] = {
            { "tiles", limited([](auto &l) { l.maxTiles = 1; }) },
            { "pixels", limited([](auto &l) { l.maxPixels = 700 * 1100; }) },
            { "duration", limited([](auto &l) { l.maxDuration = 1ms; }) },
            // Room for a tile of a little more than 1024 rows, never for two.
            { "bytes",
                limited([&](auto &l) { l.maxEncryptedBytes = ImageNormalization::pngData(top)->size(); }) },
            { "first tile: bytes", limited([](auto &l) { l.maxEncryptedBytes = 4096; }) },
            { "first tile: pixels", limited([](auto &l) { l.maxPixels = 10'000; }) },
            { "first tile: none allowed", limited([](auto &l) { l.maxTiles = 0; }) },
        };
        const End ends[] = { End::tileLimit, End::pixelLimit, End::durationLimit, End::byteLimit };
        for (int i = 0; i < 7; ++i) {
            Scenario limit = real(tall);
            limit.limits = limits[i].second;
            limit.end = i < 4 ? std::optional(ends[i]) : std::nullopt;
            QTest::newRow(qPrintable(QStringLiteral("live limit: %1").arg(limits[i].first))) << limit;
        }
    }
    void capture()
    {
        QFETCH(Scenario, scenario);
        Harness harness;
        if (scenario.readsText)
            harness.recognize
                = [&harness](QImage image) { return harness.ocr.recognizeText(std::move(image)); };
        if (scenario.recognizerUnavailable)
            harness.recognize = [](QImage) -> Task<OCRResult> {
                throw OCRError("The text recognition engine could not load its English language data.");
                co_return OCRResult {};
            };
        FakeWindow window;
        window.document = column(scenario.pieces);
        window.overlay = scenario.overlay;
        window.footerFrom = scenario.footerFrom;
        window.perNotch = scenario.perNotch;
        window.delay = scenario.delay;
        ScrollTargetProcess target;
        QImage expected = window.document;
        QRect ignore;
        std::unique_ptr<ScrollingCaptureCoordinator> coordinator;
        if (scenario.live.isEmpty()) {
            coordinator = harness.synthetic(window, scenario.limits);
            const int end = window.maximumScroll();
            if (scenario.overlay == Overlay::floatingButton || scenario.overlay == Overlay::fixedSpinner)
                ignore = window.floatingRect().translated(0, end);
            else if (scenario.overlay == Overlay::footerFromScroll)
                ignore = window.footerRect().translated(0, end);
            else if (scenario.overlay == Overlay::animatedBox)
                ignore = window.boxInDocument();
        } else {
            expected = ScrollTargetProcess::render(scenario.live);
            QVERIFY(!expected.isNull() && target.start(scenario.live));
            QRect region = target.region();
            if (scenario.withScrollbar)
                region.setRight(target.scrollbar().right());
            coordinator = harness.live(target, region, scenario.limits);
            ignore = target.caret().adjusted(-1, -1, 1, 1);
        }
        const Outcome outcome = harness.run(*coordinator);
        if (!scenario.end) {
            QCOMPARE(outcome.error, std::optional(ScrollingCaptureError::storageLimitReached));
            QVERIFY(harness.storeIsEmpty());
            return;
        }
        QVERIFY2(outcome.result, qPrintable(outcome.otherError));
        QCOMPARE(outcome.result->end, *scenario.end);
        QCOMPARE(outcome.pausedWithMessage, scenario.end == ScrollingCaptureEnd::paused);
        const CaptureDraft &draft = outcome.result->draft;
        QCOMPARE(outcome.result->recognitionError.has_value(), scenario.recognizerUnavailable);
        if (scenario.recognizerUnavailable)
            QVERIFY(
                draft.reviewedText.isEmpty() && draft.observations.isEmpty() && draft.ocrLanguages.isEmpty());
        const ScrollingCaptureManifest &manifest = *draft.scrollingCapture;
        QVERIFY(manifest.tiles.size() <= scenario.limits.maxTiles);
        QVERIFY(qint64(manifest.pixelWidth) * manifest.pixelHeight <= scenario.limits.maxPixels);
        // Every row once: the whole column at its end, else the top of it.
        const QImage stitched = harness.stitched(draft);
        QCOMPARE(stitched.height() == expected.height(), scenario.end == ScrollingCaptureEnd::endOfContent);
        if (scenario.live.isEmpty())
            QCOMPARE(
                window.scroll == window.maximumScroll(), scenario.end == ScrollingCaptureEnd::endOfContent);
        // A floating element's faint antialiased top edge may be left in a strip or two (a few
        // rows); the element itself never is.
        const int tolerated = scenario.overlay == Overlay::floatingButton ? 6 : 0;
        const int differing = differingRows(stitched.copy(0, 0, expected.width(), stitched.height()),
            expected.copy(0, 0, expected.width(), stitched.height()), ignore);
        QVERIFY2(differing >= 0 && differing <= tolerated, qPrintable(QString::number(differing)));
        if (!scenario.readsText)
            return;

        // Each numbered line is read once; the draft was saved before it was answered, with the
        // target's name and its lines placed within the document.
        QMap<int, int> seen;
        const QRegularExpression numbered(QStringLiteral("\\bLine (\\d+)\\b"));
        for (auto it = numbered.globalMatch(draft.reviewedText); it.hasNext();)
            ++seen[it.next().captured(1).toInt()];
        QStringList wrong;
        for (int n = 1; n <= scenario.live.at(1).toInt(); ++n) {
            if (seen.value(n) != 1)
                wrong << QStringLiteral("%1 x%2").arg(n).arg(seen.value(n));
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral(", "))));
        QCOMPARE(harness.store.load(), std::optional<CaptureDraft>(draft));
        QCOMPARE(draft.recognizedText, std::optional<QString>(draft.reviewedText));
        QCOMPARE(draft.ocrLanguages, QStringList { "en" });
        QCOMPARE(draft.applicationName, std::optional<QString>("Scroll target"));
        QVERIFY(draft.pngData.isEmpty() && draft.note.isEmpty() && !draft.destinationFolder);
        for (const CaptureTextObservation &line : draft.observations)
            QVERIFY(QRectF(0, 0, 1, 1).contains(line.boundingBox));
    }

    // Every way out that is not a finished capture fails with its own error and removes the draft
    // and its tiles; Done keeps what was captured so far.
    void interrupted_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<std::optional<ScrollingCaptureError>>("error");
        QTest::newRow("Cancel on the panel") << "panel" << std::optional(ScrollingCaptureError::canceled);
        QTest::newRow("cancelRequested") << "flag" << std::optional(ScrollingCaptureError::canceled);
        QTest::newRow("target window closed")
            << "close" << std::optional(ScrollingCaptureError::targetUnavailable);
        QTest::newRow("display changed") << "display" << std::optional(ScrollingCaptureError::displayChanged);
        QTest::newRow("Done") << "done" << std::optional<ScrollingCaptureError>();
    }
    void interrupted()
    {
        QFETCH(QString, how);
        QFETCH(std::optional<ScrollingCaptureError>, error);
        ScrollTargetProcess target;
        QVERIFY(target.start({ "--lines", "400", "--sticky" }));
        Harness harness;
        auto coordinator = harness.live(target, target.region());
        ScrollingCaptureCoordinator *running = coordinator.get();
        const Outcome outcome = harness.run(*coordinator, [&] {
            // Late enough that tiles exist already.
            QTRY_VERIFY_WITH_TIMEOUT(QDir(harness.store.tileDirectoryPath()).exists(), 30000);
            if (how == "panel")
                QTest::mouseClick(running->controlPanel()->cancelButton(), Qt::LeftButton);
            else if (how == "done")
                QTest::mouseClick(running->controlPanel()->doneButton(), Qt::LeftButton);
            else if (how == "flag")
                running->setCancelRequested(true);
            else if (how == "close")
                target.stop();
            else if (how == "display")
                emit QGuiApplication::primaryScreen()->geometryChanged(QRect(0, 0, 1280, 1024));
        });
        QCOMPARE(outcome.error, error);
        QVERIFY(!running->controlPanel()->isVisible());
        if (error) {
            QVERIFY(harness.storeIsEmpty());
            return;
        }
        QVERIFY2(outcome.result, qPrintable(outcome.otherError));
        QCOMPARE(outcome.result->end, ScrollingCaptureEnd::done);
        const int height = outcome.result->draft.scrollingCapture->pixelHeight;
        QVERIFY(height > target.region().height() && height < 400 * 26);
        QCOMPARE(outcome.result->draft.title, QStringLiteral("Untitled capture"));
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

// Whole scrolling captures through one harness: against the scroll_target window on an X server of
// the test's own, and against synthetic columns drawn at their scroll position on the manual clock.
// The stitched tiles must be the column pixel for pixel, every row once, and the capture must end
// by itself at the real end, or say which limit or pause ended it; every failure leaves nothing.
// Also the desktop pieces: wheel steps through XTest, the panel and outline outside the region.
#include "Capture/OCRService.h"
#include "Capture/ScreenCaptureService.h"
#include "Documents/ImageNormalization.h"
#include "HideWatch.h"
#include "Platform/XTestScrollSteps.h"
#include "PrivateXvfb.h"
#include "ScopedEnvironment.h"
#include "ScrollTargetProcess.h"
#include "Scrolling/ScrollingCaptureCoordinator.h"
#include "Scrolling/ScrollingControlPanel.h"
#include "Scrolling/ScrollingOutlineChrome.h"
#include "SyntheticColumn.h"

#include <QApplication>
#include <QCursor>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QPromise>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

PrivateXvfb *server = nullptr;

enum class Overlay { none, floatingButton, footerFromScroll, animatedBox, animatedBanner, fixedSpinner };

// A synthetic column from top to bottom: 't' numbered lines, 'c' identical 70-row cards, 'k'
// identical 160-row blocks, 'b' empty rows, 'p' rows of a flat framed panel; each with its count.
using Pieces = QList<std::pair<char, int>>;

QImage column(const Pieces &pieces)
{
    SyntheticColumn::Style style;
    style.lines = 400;
    static const QImage lines = SyntheticColumn::document(style);
    const auto rowsOf = [](char kind, int count) {
        return kind == 't' ? 22 * count : kind == 'c' ? 70 * count : kind == 'k' ? 160 * count : count;
    };
    int height = 0;
    for (const auto &[kind, count] : pieces)
        height += rowsOf(kind, count);
    QImage image(lines.width(), height, QImage::Format_RGB32);
    image.fill(lines.pixel(0, 0));
    QPainter painter(&image);
    int y = 0;
    int line = 0;
    for (const auto &[kind, count] : pieces) {
        if (kind == 't')
            painter.drawImage(0, y, lines, 0, 6 + 22 * line, -1, 22 * count);
        for (int i = 0; kind == 'c' && i < count; ++i) {
            painter.setPen(QColor(120, 130, 150));
            painter.setBrush(QColor(238, 242, 247));
            painter.drawRect(20, y + 70 * i + 6, 600, 58);
            painter.drawText(
                QRect(34, y + 70 * i + 10, 560, 48), QStringLiteral("Recommended item\nthe same text"));
        }
        for (int i = 0; kind == 'k' && i < count; ++i) {
            const QRect block(24, y + 160 * i + 12, 584, 136);
            painter.setPen(QColor(120, 130, 150));
            painter.setBrush(QColor(238, 242, 247));
            painter.drawRect(block);
            painter.fillRect(QRect(block.right() - 90, block.top() + 14, 70, 22), QColor(46, 134, 193));
            painter.drawText(
                block.adjusted(16, 12, -110, -12), QStringLiteral("Recommended item\nthe same block"));
        }
        if (kind == 'p') {
            // Its sides fall inside the analyzer's bands, as a real panel's do.
            painter.fillRect(QRect(17, y, 597, count), QColor(214, 220, 228));
            painter.fillRect(QRect(17, y, 1, count), QColor(150, 160, 172));
            painter.fillRect(QRect(613, y, 1, count), QColor(150, 160, 172));
            painter.fillRect(QRect(21, y, 2, count), QColor(240, 244, 248));
        }
        line += kind == 't' ? count : 0;
        y += rowsOf(kind, count);
    }
    return image;
}

struct Scenario
{
    QStringList live; // scroll_target's arguments; a synthetic column when empty
    Pieces pieces { { 't', 80 } };
    Overlay overlay = Overlay::none;
    int footerFrom = 0;
    int perNotch = 40;
    // Once the view's top is at this row, a notch moves `laterPerNotch` rows instead (0: never).
    int changesFrom = 0;
    int laterPerNotch = 0;
    std::chrono::milliseconds delay { 0 };
    // Each notch of a step moves this long after the one before it.
    std::chrono::milliseconds notchGap { 0 };
    // Once the view's top is at row `lateFrom`, the rows a move brings into view stay blank for
    // `lateDraw` after it (0: drawn at once).
    int lateFrom = 0;
    std::chrono::milliseconds lateDraw { 0 };
    // Of the rows a late move brings into view, these at the top are drawn at once.
    int lateDrawnRows = 0;
    // Which moves are drawn late: every `lateEvery`th, else each with `lateChance` (a fixed seed),
    // else all. A torn move shows the rows below the middle of the view where they were before it.
    int lateEvery = 0;
    double lateChance = 0;
    bool lateTorn = false;
    // Every `stallEvery`th step from row `lateFrom` on, the notches after its first (or the last
    // two thirds of a step of one) move `stall` later: a window busy in the middle of a step.
    int stallEvery = 0;
    std::chrono::milliseconds stall { 0 };
    // The first step from row `slowFrom` on moves `slowDelay` late, after the capture took it for
    // still (0: none).
    int slowFrom = 0;
    std::chrono::milliseconds slowDelay { 0 };
    // Each step glides this long, a part every 16 ms, as a smooth-scrolling window draws it (0: at
    // once); every `freezeEvery`th glide stops halfway until the next wheel event brings the rest.
    std::chrono::milliseconds glide { 0 };
    int freezeEvery = 0;
    // Once the view's top reaches row `busyFrom`, the window moves nothing for `busyFor`: every step
    // posted meanwhile starts when it is over (0: never).
    int busyFrom = 0;
    std::chrono::milliseconds busyFor { 0 };
    // Steps the capture must have taken on their first look, and whether any must have been taken
    // again from a settled look (none: either).
    int firstLooks = 0;
    std::optional<bool> retakes = false;
    ScrollingCaptureLimits limits = ScrollingCaptureLimits::production;
    // How it ends; none: it fails with storageLimitReached.
    std::optional<ScrollingCaptureEnd> end = ScrollingCaptureEnd::endOfContent;
    // It may pause instead, with the top of the column.
    bool mayPause = false;
    bool readsText = false;
    bool recognizerUnavailable = false;
    bool withScrollbar = false;
    // Drawn over the view, darker at the first look after each move than at those after it: an
    // overlay scrollbar that appears and fades (none when empty).
    QRect indicator {};
};

// The window of a synthetic run: a column, what sits over it, and a wheel that moves it `delay`
// after each event on the manual clock.
struct FakeWindow
{
    static constexpr int viewHeight = 400;
    Scenario scenario;
    QImage document = column(scenario.pieces);
    Overlay overlay = scenario.overlay;
    ManualTaskClock *clock = nullptr;
    int scroll = 0;
    int looks = 0;
    int steps = 0;
    std::function<void()> onLook {};
    std::multimap<TaskClock::TimePoint, int> moves {};
    // Document rows [first, second) not drawn yet, until `drawnAt`.
    std::pair<int, int> undrawn {};
    TaskClock::TimePoint drawnAt {};
    int tornFrom = 0; // scroll position the torn rows show
    int lateMoves = 0; // moves drawn late so far
    int movesSeen = 0;
    int frozenRows = 0; // of a glide stopped halfway
    int looksSinceMove = 0;
    std::optional<TaskClock::TimePoint> busyUntil {};
    bool slowed = false;
    QRandomGenerator random { 7 };

    bool drawsLate(int before)
    {
        if (scenario.lateDraw.count() <= 0 || before < scenario.lateFrom)
            return false;
        ++movesSeen;
        if (scenario.lateEvery > 0)
            return movesSeen % scenario.lateEvery == 0;
        if (scenario.lateChance > 0)
            return random.generateDouble() < scenario.lateChance;
        return true;
    }

    int maximumScroll() const { return document.height() - viewHeight; }
    QRect floatingRect() const { return QRect(560, 320, 56, 56); }
    QRect footerRect() const { return QRect(0, viewHeight - 40, document.width(), 40); }
    // An animation in the content, or the rows it moves with.
    QRect boxInDocument() const
    {
        return overlay == Overlay::animatedBanner ? QRect(0, 560, document.width(), 64)
                                                  : QRect(300, 620, 200, 100);
    }
    bool movesWithContent() const
    {
        return overlay == Overlay::animatedBox || overlay == Overlay::animatedBanner;
    }
    // Where what sits over the content shows in the stitched column: where the last frame had it, or
    // anywhere it animated.
    QRect overlayInDocument() const
    {
        if (overlay == Overlay::none || movesWithContent())
            return overlay == Overlay::none ? QRect() : boxInDocument();
        return (overlay == Overlay::footerFromScroll ? footerRect() : floatingRect())
            .translated(0, maximumScroll());
    }

    QImage look()
    {
        for (auto due = moves.begin(); due != moves.end() && due->first <= clock->now();
             due = moves.erase(due)) {
            const int before = scroll;
            scroll = std::min(maximumScroll(), scroll + due->second);
            looksSinceMove = scroll > before ? 0 : looksSinceMove;
            if (scroll > before && drawsLate(before)) {
                ++lateMoves;
                undrawn
                    = { std::min(scroll, before + scenario.lateDrawnRows) + viewHeight, scroll + viewHeight };
                tornFrom = before;
                drawnAt = due->first + scenario.lateDraw;
            }
        }
        QImage frame = document.copy(0, scroll, document.width(), viewHeight);
        QPainter painter(&frame);
        if (clock->now() < drawnAt && scenario.lateTorn)
            painter.drawImage(0, viewHeight / 2, document, 0, tornFrom + viewHeight / 2, -1, viewHeight / 2);
        else if (clock->now() < drawnAt)
            painter.fillRect(QRect(0, undrawn.first - scroll, frame.width(), undrawn.second - undrawn.first),
                QColor(document.pixel(0, 0)));
        const int phase = looks++;
        if (!scenario.indicator.isEmpty())
            painter.fillRect(
                scenario.indicator, looksSinceMove++ == 0 ? QColor(60, 60, 60) : QColor(150, 150, 150));
        if (onLook)
            onLook();
        const QRect box = movesWithContent() ? boxInDocument().translated(0, -scroll) : floatingRect();
        if (movesWithContent() || overlay == Overlay::fixedSpinner) {
            painter.fillRect(box, QColor::fromHsv((phase * 47) % 360, 150, 220));
            painter.fillRect(
                QRect(box.x() + (phase * 17) % box.width(), box.y(), 8, box.height()), Qt::black);
        } else if (overlay == Overlay::floatingButton) {
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(22, 160, 133));
            painter.drawEllipse(box);
            painter.setPen(QPen(Qt::white, 3));
            painter.drawPolyline(QPolygon(
                { box.center() + QPoint(-8, 4), box.center() + QPoint(0, -6), box.center() + QPoint(8, 4) }));
        } else if (overlay == Overlay::footerFromScroll && scroll >= scenario.footerFrom) {
            painter.fillRect(footerRect(), QColor(30, 40, 60));
            painter.setPen(Qt::white);
            painter.drawText(
                footerRect().adjusted(12, 0, 0, 0), Qt::AlignVCenter, QStringLiteral("Subscribe"));
        }
        return frame;
    }
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
        ScrollingCaptureLimits limits = ScrollingCaptureLimits::production,
        ScrollingCaptureEnvironment environment = ScrollingCaptureEnvironment::live())
    {
        ScreenCaptureService *screens = &service;
        return make(
            ScrollTargetProcess::geometryOf(region), target.captureTarget(),
            [screens](ScrollingRegionGeometry geometry) { return screens->scrollingViewport(geometry); },
            environment, limits);
    }

    std::unique_ptr<ScrollingCaptureCoordinator> synthetic(FakeWindow &window, ScrollingCaptureLimits limits)
    {
        ScrollingCaptureEnvironment environment;
        environment.observesDisplayChanges = false;
        environment.clock = window.clock = &manualClock;
        environment.isTargetAvailable = [this](quint64) { return targetAvailable; };
        environment.scrollDown = [&window](QPoint, int notches) {
            ++window.steps;
            const Scenario &s = window.scenario;
            const bool changed = s.changesFrom > 0 && window.scroll >= s.changesFrom;
            const int rows = changed ? s.laterPerNotch : s.perNotch;
            auto delay = s.delay;
            if (s.slowDelay.count() > 0 && !window.slowed && window.scroll >= s.slowFrom) {
                window.slowed = true;
                delay += s.slowDelay;
            }
            if (s.busyFor.count() > 0 && !window.busyUntil && window.scroll >= s.busyFrom)
                window.busyUntil = window.clock->now() + s.busyFor;
            if (window.busyUntil)
                delay = std::max<std::chrono::milliseconds>(delay,
                    std::chrono::ceil<std::chrono::milliseconds>(*window.busyUntil - window.clock->now()));
            if (window.frozenRows > 0) {
                window.moves.emplace(window.clock->now() + delay, window.frozenRows);
                window.frozenRows = 0;
            }
            if (s.glide.count() > 0) {
                const int total = notches * rows;
                const int parts = int(s.glide / 16ms);
                const bool freezes = s.freezeEvery > 0 && window.steps % s.freezeEvery == 0;
                for (int part = 1, given = 0; part <= parts; ++part) {
                    if (freezes && part > parts / 2) {
                        window.frozenRows = total - given;
                        break;
                    }
                    const int upTo = total * part / parts;
                    window.moves.emplace(window.clock->now() + delay + part * 16ms, upTo - given);
                    given = upTo;
                }
            } else if (s.stallEvery > 0 && window.scroll >= s.lateFrom && window.steps % s.stallEvery == 0) {
                // A step of one notch scrolls smoothly, and stops a third of the way.
                const int first = notches > 1 ? rows : rows / 3;
                window.moves.emplace(window.clock->now() + delay, first);
                window.moves.emplace(window.clock->now() + delay + s.stall, notches * rows - first);
            } else if (s.notchGap.count() > 0) {
                for (int notch = 0; notch < notches; ++notch)
                    window.moves.emplace(window.clock->now() + delay + notch * s.notchGap, rows);
            } else {
                window.moves.emplace(window.clock->now() + delay, notches * rows);
            }
            return true;
        };
        return make(
            ScrollTargetProcess::geometryOf(QRect(0, 0, window.document.width(), FakeWindow::viewHeight)),
            ScrollingCaptureTarget {},
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
            const QLabel *message = coordinator.controlPanel()->message();
            outcome.pausedWithMessage = message->isVisible()
                && message->text()
                    == ScrollingCaptureErrors::description(ScrollingCaptureError::alignmentAmbiguous);
            coordinator.controlPanel()->doneButton()->click();
        });
        Task<void> task = Task<void>::spawn(&coordinator, [&]() -> Task<void> {
            try {
                Task<ScrollingCaptureResult> running = coordinator.run();
                Task<ScrollingCaptureResult> reading = coordinator.withRecognizedText(co_await running);
                outcome.result = co_await reading;
            } catch (const ScrollingCaptureFailure &failure) {
                outcome.error = failure.error();
            } catch (const std::exception &error) {
                outcome.otherError = QString::fromUtf8(error.what());
            }
            finished = true;
        });
        if (during)
            during();
        for (const QDeadlineTimer deadline(120s); !finished && !deadline.hasExpired();) {
            QCoreApplication::processEvents();
            if (!finished && usesManualClock && manualClock.pendingTimers() > 0) {
                if (beforeAdvance)
                    beforeAdvance();
                manualClock.advance(5ms);
            } else if (!finished)
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
    // Called while the capture waits for the manual clock, before it moves.
    std::function<void()> beforeAdvance;
    // What the synthetic window's isTargetAvailable answers.
    bool targetAvailable = true;
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

QImage grab(const QRect &rect)
{
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, rect.x(), rect.y(), rect.width(), rect.height())
        .toImage();
}

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
        const auto add = [](const char *name, const std::function<void(Scenario &)> &change) {
            Scenario scenario;
            change(scenario);
            QTest::newRow(name) << scenario;
        };
        const auto over = [](Overlay overlay, int footerFrom = 0) {
            return [=](Scenario &s) {
                s.overlay = overlay;
                s.footerFrom = footerFrom;
            };
        };
        const auto of = [](Pieces pieces) { return [=](Scenario &s) { s.pieces = pieces; }; };
        add("synthetic plain column", over(Overlay::none));
        add("floating button", over(Overlay::floatingButton));
        add("footer comes into view early", over(Overlay::footerFromScroll, 200));
        add("footer comes into view late", over(Overlay::footerFromScroll, 900));
        add("animated box in the content", over(Overlay::animatedBox));
        add("animated banner across the content", over(Overlay::animatedBanner));
        add("spinner fixed over the content", over(Overlay::fixedSpinner));
        // Each of these ended after about a screen, or dropped whole blocks, as a complete capture.
        add("identical cards, taller than the view", of({ { 't', 6 }, { 'c', 24 }, { 't', 6 } }));
        add("runs of identical cards between headings",
            of({ { 't', 3 }, { 'c', 9 }, { 't', 2 }, { 'c', 9 }, { 't', 1 }, { 'c', 12 }, { 't', 6 } }));
        add("blank gap taller than the view", of({ { 't', 25 }, { 'b', 900 }, { 't', 25 } }));
        // A flat panel after confirmed steps is crossed on the expected step and placed for good once
        // text after it moves as expected.
        add("flat panel a view tall", of({ { 't', 25 }, { 'p', 400 }, { 't', 25 } }));
        add("flat panel two views tall", of({ { 't', 25 }, { 'p', 800 }, { 't', 25 } }));
        add("flat panel five views tall", of({ { 't', 25 }, { 'p', 2000 }, { 't', 25 } }));
        // Text that does not come back where the steps through the panel put it: back to the rows
        // before the panel, and a pause.
        add("flat panel, the wheel's step changed inside it", [](Scenario &s) {
            s.pieces = { { 't', 25 }, { 'p', 800 }, { 't', 25 } };
            s.changesFrom = 25 * 22 + 100;
            s.laterPerNotch = 46;
            s.end = End::paused;
        });
        add("flat first screen pauses", [](Scenario &s) {
            s.pieces = { { 'p', 600 }, { 't', 30 } };
            s.end = End::paused;
        });
        // Identical blocks down to the end, which the last step meets somewhere inside a block: every
        // row once, at the end, since steps stay under one block. A notch taller than a block steps
        // past one; where the end cuts a step short by just a block, nothing tells that step from the
        // whole one, and the capture pauses with the rows it knows.
        for (const int phase : { 0, 30, 75, 120, 150 })
            add(qPrintable(QStringLiteral("identical blocks to the end, phase %1").arg(phase)),
                of({ { 't', 6 }, { 'b', phase }, { 'k', 14 } }));
        for (const int phase : { 30, 78 })
            add(qPrintable(
                    QStringLiteral("identical blocks, notch taller than a block, phase %1").arg(phase)),
                [=](Scenario &s) {
                    s.pieces = { { 't', 6 }, { 'b', phase }, { 'k', 14 } };
                    s.perNotch = 170;
                    s.end = phase == 78 ? End::paused : End::endOfContent;
                });
        add("moves a second after each event", [](Scenario &s) { s.delay = 1s; });
        // A window that draws each notch of a step in turn is seen part of the way first; one that
        // draws the rows a step brings into view a little later, from the start or only once its
        // steps were seen drawn at once, is never taken before it has drawn them.
        add("each notch drawn in turn", [](Scenario &s) {
            s.pieces = { { 't', 300 } };
            s.notchGap = 6ms;
        });
        add("identical blocks, each notch drawn in turn", [](Scenario &s) {
            s.pieces = { { 't', 6 }, { 'b', 30 }, { 'k', 30 } };
            s.notchGap = 6ms;
        });
        for (const int from : { 0, 1500, 3000 })
            add(qPrintable(QStringLiteral("new rows drawn late from row %1").arg(from)), [=](Scenario &s) {
                s.pieces = { { 't', 6 }, { 'k', 30 } };
                s.lateFrom = from;
                s.lateDraw = 20ms;
                s.retakes = from > 0;
            });
        add("plain column, new rows drawn late", [](Scenario &s) {
            s.pieces = { { 't', 300 } };
            s.lateFrom = 2000;
            s.lateDraw = 20ms;
        });
        // Drawn later than a settled look waits: the blank rows are taken from the next step's look;
        // drawn so late that the rows the next step shares with that look would be blank as well,
        // the look is waited for until it is drawn.
        for (const auto &[name, overlay, drawnAtOnce] :
            { std::tuple("plain column, new rows drawn after the look settled", Overlay::none, 180),
                std::tuple(
                    "over a footer, new rows drawn after the look settled", Overlay::footerFromScroll, 180),
                std::tuple("plain column, most new rows drawn after the look settled", Overlay::none, 20) })
            add(name, [=](Scenario &s) {
                s.pieces = { { 't', 300 } };
                s.overlay = overlay;
                s.lateFrom = 1200;
                s.lateDraw = 60ms;
                s.lateDrawnRows = drawnAtOnce;
                s.lateEvery = 3;
                s.retakes = std::nullopt;
            });
        // The step after such a look moves late, once those rows are drawn where they were: the
        // look of that step is not placed as the step it was expected to be.
        add("new rows drawn after the look settled, the next step late", [](Scenario &s) {
            s.pieces = { { 't', 300 } };
            s.lateFrom = 1200;
            s.lateDraw = 60ms;
            s.lateDrawnRows = 180;
            s.lateEvery = 3;
            s.slowFrom = 2120;
            s.slowDelay = 200ms;
            s.retakes = std::nullopt;
            s.mayPause = true;
        });
        // A window that has drawn its steps at once for a while and then, now and then, draws a
        // step late: the new rows blank, or the lower half of the view still where it was. Rows
        // taken from a first look that later looks show otherwise are taken again, never paused on.
        const Pieces blocks { { 't', 6 }, { 'b', 30 }, { 'k', 30 } };
        const Pieces cards { { 't', 6 }, { 'c', 60 }, { 't', 6 } };
        const Pieces plain { { 't', 300 } };
        for (const auto &[content, pieces] : { std::pair("identical blocks", blocks),
                 std::pair("identical cards", cards), std::pair("plain column", plain) }) {
            const bool repeats = pieces != plain;
            for (const auto &[how, torn, every] :
                { std::tuple("new rows", false, 3), std::tuple("new rows", false, 0),
                    std::tuple("lower half", true, 3), std::tuple("lower half", true, 0) }) {
                const QString name
                    = QStringLiteral("%1, %2 drawn late %3")
                          .arg(content, how,
                              every ? QStringLiteral("every 3rd step") : QStringLiteral("at random"));
                add(qPrintable(name), [=](Scenario &s) {
                    s.pieces = pieces;
                    s.lateFrom = 1200;
                    s.lateDraw = 20ms;
                    s.lateEvery = every;
                    s.lateChance = every ? 0 : 0.3;
                    s.lateTorn = torn;
                    s.firstLooks = repeats ? 5 : 0;
                    // A late step the capture checks with a second look ends first looks instead.
                    s.retakes = every ? std::optional(repeats && !torn) : std::nullopt;
                });
            }
        }
        // A window that stops for a while between the notches of a step, after which a settled look
        // shows the step part of the way: the rest comes with the next step, which identical rows
        // would fit a whole block shorter as well.
        // Cards take steps of one notch at 40 rows a notch: 20 gives steps of several.
        for (const auto &[content, pieces, perNotch] :
            { std::tuple("identical blocks", Pieces { { 't', 6 }, { 'b', 30 }, { 'k', 20 } }, 40),
                std::tuple(
                    "identical blocks, other phase", Pieces { { 't', 6 }, { 'b', 120 }, { 'k', 20 } }, 40),
                std::tuple("identical cards", cards, 20) }) {
            for (const int every : { 2, 3, 5 }) {
                const QString name
                    = QStringLiteral("%1, a pause between notches every %2 steps").arg(content).arg(every);
                add(qPrintable(name), [=](Scenario &s) {
                    s.pieces = pieces;
                    s.perNotch = perNotch;
                    s.lateFrom = 600;
                    s.stallEvery = every;
                    s.stall = 60ms;
                    s.retakes = std::nullopt;
                });
            }
        }
        // The same over text under a floating button, whose steps already fill the rows above it:
        // the rest of a step must not carry the next one past them.
        for (const int every : { 2, 3 }) {
            const QString name
                = QStringLiteral("floating button, a pause between notches every %1 steps").arg(every);
            add(qPrintable(name), [=](Scenario &s) {
                s.overlay = Overlay::floatingButton;
                s.lateFrom = 200;
                s.stallEvery = every;
                s.stall = 60ms;
                s.retakes = std::nullopt;
            });
        }
        // One step that moves only after the capture took it for still, near the end of identical
        // blocks: the next step, which moves it too, fits a block shorter as well. Every row once at
        // the end, or a pause with the rows known, never a block missing.
        for (const int phase : { 0, 40, 80, 120 }) {
            const QString name
                = QStringLiteral("identical blocks, a step moving late near the end, phase %1").arg(phase);
            add(qPrintable(name), [=](Scenario &s) {
                s.pieces = { { 't', 6 }, { 'b', phase }, { 'k', 14 } };
                s.slowFrom = 6 * 22 + phase + 14 * 160 - FakeWindow::viewHeight - 120;
                s.slowDelay = 700ms;
                s.retakes = std::nullopt;
                s.mayPause = true;
            });
        }
        // A window that glides through each step (smooth scrolling) is taken only once it stands
        // still; one that stops a glide halfway until the next step, or starts one late, loses
        // nothing, ends at the real end and never pauses.
        add("smooth scrolling", [](Scenario &s) {
            s.pieces = { { 't', 200 } };
            s.glide = 160ms;
        });
        add("smooth scrolling, glides stopping halfway", [](Scenario &s) {
            s.pieces = { { 't', 200 } };
            s.glide = 160ms;
            s.freezeEvery = 3;
        });
        add("smooth scrolling, busy for a while near the end", [](Scenario &s) {
            s.pieces = { { 't', 200 } };
            s.glide = 160ms;
            s.busyFrom = 200 * 22 - FakeWindow::viewHeight - 500;
            s.busyFor = 1500ms;
        });
        // A busy window that stands still for well over a second after a step it moved all the way,
        // then moves what it was sent: a whole step is never the last, the capture goes on to the end.
        for (const auto &[what, overlay] :
            { std::pair("plain column", Overlay::none), std::pair("fixed footer", Overlay::footerFromScroll),
                std::pair("floating button", Overlay::floatingButton) }) {
            for (const auto stall : { 1500ms, 3000ms }) {
                const QString name
                    = QStringLiteral("%1, still for %2 ms after a whole step").arg(what).arg(stall.count());
                add(qPrintable(name), [=](Scenario &s) {
                    s.pieces = { { 't', 120 } };
                    s.overlay = overlay;
                    s.footerFrom = 200;
                    s.busyFrom = 900;
                    s.busyFor = stall;
                    s.retakes = std::nullopt;
                });
            }
        }
        add("moves a second late, large steps", [](Scenario &s) {
            s.delay = 1s;
            s.perNotch = FakeWindow::viewHeight - 60;
        });
        add("time limit says so", [](Scenario &s) {
            s.pieces = { { 't', 200 } };
            s.delay = 1s;
            s.limits.maxDuration = 8s;
            s.end = End::durationLimit;
        });
        add("recognizer cannot run: tiles kept, no text",
            [](Scenario &s) { s.recognizerUnavailable = true; });
        add("nothing to place a step by pauses", [](Scenario &s) {
            s.pieces = { { 'c', 40 } };
            s.end = End::paused;
        });

        const auto real = [](QStringList arguments, bool readsText = false) {
            return [=](Scenario &s) {
                s.live = arguments;
                s.readsText = readsText;
            };
        };
        add("live plain", real({ "--lines", "55" }, true));
        add("live, all of it in view", real({ "--lines", "4" }, true));
        add("live sticky header and footer", real({ "--lines", "45", "--sticky" }, true));
        add("live repeated lines", real({ "--lines", "18", "--repeat" }, true));
        add("live identical cards", real({ "--lines", "9", "--cards", "30" }));
        add("live identical blocks to the end", real({ "--pieces", "t6,b14" }));
        add("live flat panel a view tall", real({ "--pieces", "t30,p520,t30" }));
        add("live flat panel five views tall", real({ "--pieces", "t30,p2600,t30" }));
        add("live flat first screen pauses", [&](Scenario &s) {
            real({ "--pieces", "p700,t30" })(s);
            s.end = End::paused;
        });
        add("live dark theme", real({ "--lines", "35", "--dark" }));
        add("live large steps", real({ "--lines", "70", "--large-step" }));
        add("live blinking caret", real({ "--lines", "30", "--caret" }));
        add("live, a second late", real({ "--lines", "30", "--delay", "1000" }));
        add("live, a second late, large steps", real({ "--lines", "40", "--large-step", "--delay", "1000" }));
        add("live scrollbar inside the region", [&](Scenario &s) {
            real({ "--lines", "35" })(s);
            s.withScrollbar = true;
        });
        // A limit reached once a tile exists ends the capture with the top of the column, and says
        // which; when not even the first tile fits, it fails and leaves nothing.
        const QImage rendered = ScrollTargetProcess::render({ "--lines", "120" });
        const auto limit
            = [&](std::optional<End> end, const std::function<void(ScrollingCaptureLimits &)> &set) {
                  return [=](Scenario &s) {
                      real({ "--lines", "120" })(s);
                      set(s.limits);
                      s.end = end;
                  };
              };
        add("live limit: tiles", limit(End::tileLimit, [](auto &l) { l.maxTiles = 1; }));
        add("live limit: pixels", limit(End::pixelLimit, [](auto &l) { l.maxPixels = 700 * 1100; }));
        add("live limit: duration", limit(End::durationLimit, [](auto &l) { l.maxDuration = 1ms; }));
        // Room for a tile of a little more than 1024 rows, never for two.
        const qint64 oneTile
            = ImageNormalization::pngData(rendered.copy(0, 0, rendered.width(), 1900))->size();
        add("live limit: bytes", limit(End::byteLimit, [=](auto &l) { l.maxEncryptedBytes = oneTile; }));
        add("live limit, first tile: bytes",
            limit(std::nullopt, [](auto &l) { l.maxEncryptedBytes = 4096; }));
        add("live limit, first tile: pixels", limit(std::nullopt, [](auto &l) { l.maxPixels = 10'000; }));
        add("live limit, first tile: none allowed", limit(std::nullopt, [](auto &l) { l.maxTiles = 0; }));
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
        FakeWindow window { scenario };
        ScrollTargetProcess target;
        QImage expected = window.document;
        QRect ignore = window.overlayInDocument();
        std::unique_ptr<ScrollingCaptureCoordinator> coordinator;
        if (!scenario.live.isEmpty()) {
            expected = ScrollTargetProcess::render(scenario.live);
            QVERIFY(!expected.isNull() && target.start(scenario.live));
            QRect region = target.region();
            if (scenario.withScrollbar)
                region.setRight(target.scrollbar().right());
            coordinator = harness.live(target, region, scenario.limits);
            ignore = target.caret().adjusted(-1, -1, 1, 1);
        } else {
            coordinator = harness.synthetic(window, scenario.limits);
        }
        const Outcome outcome = harness.run(*coordinator);
        QVERIFY(coordinator->times().firstLooks >= scenario.firstLooks);
        if (scenario.retakes && scenario.live.isEmpty())
            QCOMPARE(coordinator->times().retaken > 0, *scenario.retakes);
        if (!scenario.end) {
            QCOMPARE(outcome.error, std::optional(ScrollingCaptureError::storageLimitReached));
            QVERIFY(harness.storeIsEmpty());
            return;
        }
        QVERIFY2(outcome.result, qPrintable(outcome.otherError));
        const ScrollingCaptureEnd end
            = scenario.mayPause && outcome.result->end == ScrollingCaptureEnd::paused
            ? ScrollingCaptureEnd::paused
            : *scenario.end;
        QCOMPARE(outcome.result->end, end);
        // Only content that fits the view leaves it standing still to the end.
        if (end == ScrollingCaptureEnd::endOfContent)
            QCOMPARE(outcome.result->stoodStill,
                scenario.live.isEmpty() ? window.maximumScroll() == 0
                                        : expected.height() <= target.region().height());
        QCOMPARE(outcome.pausedWithMessage, end == ScrollingCaptureEnd::paused);
        const CaptureDraft &draft = outcome.result->draft;
        QCOMPARE(outcome.result->recognitionError.has_value(), scenario.recognizerUnavailable);
        const ScrollingCaptureManifest &manifest = *draft.scrollingCapture;
        QVERIFY(manifest.tiles.size() <= scenario.limits.maxTiles);
        // Every tile, the last one too, gets as many rows of the one above stacked on it for
        // recognition as any: a line cut by a seam is read whole.
        for (qsizetype i = 1; i < manifest.tiles.size(); ++i) {
            const int above = manifest.tiles[i - 1].pixelHeight;
            QCOMPARE(ScrollingCaptureCoordinator::recognitionOverlap(above, manifest.tiles[i].pixelHeight),
                ScrollingCaptureCoordinator::recognitionOverlap(above, 1 << 20));
        }
        QVERIFY(qint64(manifest.pixelWidth) * manifest.pixelHeight <= scenario.limits.maxPixels);
        // Every row once: the whole column at its end, else the top of it.
        const QImage stitched = harness.stitched(draft);
        QCOMPARE(stitched.height() == expected.height(), end == ScrollingCaptureEnd::endOfContent);
        // A limit stops short of the end; a pause may come there (a step it could not place).
        if (scenario.live.isEmpty() && end != ScrollingCaptureEnd::paused)
            QCOMPARE(window.scroll == window.maximumScroll(), end == ScrollingCaptureEnd::endOfContent);
        // A floating element's faint antialiased top edge may be left in a strip or two (a few rows).
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
        for (int n = 1; n <= scenario.live.at(1).toInt(); ++n)
            QVERIFY2(seen.value(n) == 1,
                qPrintable(QStringLiteral("line %1 read %2 times").arg(n).arg(seen.value(n))));
        QCOMPARE(harness.store.load(), std::optional<CaptureDraft>(draft));
        QCOMPARE(draft.recognizedText, std::optional<QString>(draft.reviewedText));
        QCOMPARE(draft.ocrLanguages, QStringList { "en" });
        QCOMPARE(draft.applicationName, std::optional<QString>("Scroll target"));
        for (const CaptureTextObservation &line : draft.observations)
            QVERIFY(QRectF(0, 0, 1, 1).contains(line.boundingBox));
    }

    // A look that differs from the one before it only in a narrow strip, at a side of the view or
    // not, is looked at again as after any change: a change at a side is not always an overlay
    // scrollbar's, and a GTK list paused at once where such looks were taken as settled.
    void stripLooksAgain_data()
    {
        QTest::addColumn<QRect>("indicator");
        const int width = column({ { 't', 1 } }).width();
        QTest::newRow("at the right side") << QRect(width - 6, 20, 6, 100);
        QTest::newRow("at the left side") << QRect(0, 150, 10, 160);
        QTest::newRow("in the middle") << QRect(width / 2, 20, 6, 100);
        QTest::newRow("wider, at the right side") << QRect(width - 80, 20, 80, 100);
    }
    void stripLooksAgain()
    {
        QFETCH(QRect, indicator);
        const auto looksPerStep = [](const QRect &strip) {
            Scenario scenario;
            scenario.indicator = strip;
            FakeWindow window { scenario };
            Harness harness;
            const auto coordinator = harness.synthetic(window, ScrollingCaptureLimits::production);
            const Outcome outcome = harness.run(*coordinator);
            if (!outcome.result || outcome.result->end != ScrollingCaptureEnd::endOfContent)
                return -1.0;
            // The content is whole where the strip is not.
            const QImage stitched = harness.stitched(outcome.result->draft);
            if (differingRows(
                    stitched, window.document, QRect(strip.x(), 0, strip.width(), stitched.height()))
                != 0)
                return -1.0;
            return double(coordinator->times().frames) / coordinator->times().steps;
        };
        const double plain = looksPerStep({});
        const double withStrip = looksPerStep(indicator);
        QVERIFY(plain > 0 && withStrip > 0);
        // Looked at again: a look more each step.
        QVERIFY2(withStrip > plain + 0.5,
            qPrintable(QStringLiteral("%1 looks a step, %2 without").arg(withStrip).arg(plain)));
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
            if (how == "panel" || how == "done")
                QTest::mouseClick(how == "done" ? running->controlPanel()->doneButton()
                                                : running->controlPanel()->cancelButton(),
                    Qt::LeftButton);
            else if (how == "flag")
                running->setCancelRequested(true);
            else if (how == "close")
                target.stop();
            else if (how == "display")
                emit QGuiApplication::primaryScreen()->geometryChanged(QRect(0, 0, 1280, 1024));
        });
        QCOMPARE(outcome.error, error);
        QVERIFY(!running->controlPanel()->isVisible());
        QCOMPARE(harness.storeIsEmpty(), error.has_value());
        if (error)
            return;
        QVERIFY2(outcome.result, qPrintable(outcome.otherError));
        QCOMPARE(outcome.result->end, ScrollingCaptureEnd::done);
        const int height = outcome.result->draft.scrollingCapture->pixelHeight;
        QVERIFY(height > target.region().height() && height < 400 * 26);
    }

    // Interrupted while it takes a step's rows again, or right after a step taken on its first look
    // whose new rows the window had not drawn yet: Cancel and a closed window end it at once, with
    // nothing left; Done keeps exactly the rows drawn, never the undrawn ones.
    void interruptedAroundFirstLooks_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<QString>("how");
        QTest::addColumn<std::optional<ScrollingCaptureError>>("error");
        for (const QString when : { "retaking", "after an undrawn first look" }) {
            const auto row = [&](const char *how, std::optional<ScrollingCaptureError> error) {
                QTest::addRow("%s, %s", qPrintable(when), how) << when << QString(how) << error;
            };
            row("cancel", ScrollingCaptureError::canceled);
            row("window closed", ScrollingCaptureError::targetUnavailable);
            row("done", std::nullopt);
        }
    }
    void interruptedAroundFirstLooks()
    {
        QFETCH(QString, when);
        QFETCH(QString, how);
        QFETCH(std::optional<ScrollingCaptureError>, error);
        Scenario scenario;
        scenario.pieces = { { 't', 6 }, { 'b', 30 }, { 'k', 30 } };
        scenario.lateFrom = 1200;
        scenario.lateDraw = 20ms;
        scenario.lateEvery = 3;
        FakeWindow window { scenario };
        Harness harness;
        auto coordinator = harness.synthetic(window, ScrollingCaptureLimits::production);
        const ScrollingCaptureCoordinator &running = *coordinator;
        int looksThen = -1;
        int stepsThen = -1;
        // While it waits to settle the frame it retakes, or as it looks at a step not drawn yet
        // once it takes steps on their first look.
        const auto interrupt = [&](bool retaking) {
            const ScrollingCaptureTimes &times = running.times();
            const bool now = retaking
                ? times.retaken > 0
                : times.firstLooks >= 5 && times.retaken == 0 && window.clock->now() < window.drawnAt;
            if (looksThen >= 0 || !now)
                return;
            looksThen = window.looks;
            stepsThen = window.steps;
            if (how == "cancel")
                coordinator->setCancelRequested(true);
            else if (how == "window closed")
                harness.targetAvailable = false;
            else
                coordinator->controlPanel()->doneButton()->click();
        };
        if (when == "retaking")
            harness.beforeAdvance = [&] { interrupt(true); };
        else
            window.onLook = [&] { interrupt(false); };
        const Outcome outcome = harness.run(*coordinator);
        QVERIFY2(looksThen >= 0, "the capture never got there");
        QCOMPARE(outcome.error, error);
        if (error) {
            QVERIFY(harness.storeIsEmpty());
            // The wait it was in ends with a check: at most the look that wait was for.
            QVERIFY(window.looks <= looksThen + 1);
            QCOMPARE(window.steps, stepsThen);
            return;
        }
        QVERIFY2(outcome.result, qPrintable(outcome.otherError));
        QCOMPARE(outcome.result->end, ScrollingCaptureEnd::done);
        QVERIFY(window.steps <= stepsThen + 1);
        const QImage stitched = harness.stitched(outcome.result->draft);
        QVERIFY(stitched.height() > FakeWindow::viewHeight && stitched.height() < window.document.height());
        QCOMPARE(differingRows(stitched, window.document.copy(0, 0, stitched.width(), stitched.height())), 0);
    }

    // Done acts at once wherever the capture is: scrolling on while recognition is behind (sealed
    // tiles wait in the draft) or waiting for a window slow to move after a step. No step follows it.
    void doneAtAnyMoment_data()
    {
        QTest::addColumn<bool>("backlog");
        QTest::addColumn<bool>("stalls");
        QTest::newRow("recognition behind") << true << false;
        QTest::newRow("window slow to move") << false << false;
        QTest::newRow("window standing still after a whole step") << false << true;
    }
    void doneAtAnyMoment()
    {
        QFETCH(bool, backlog);
        QFETCH(bool, stalls);
        Scenario scenario;
        scenario.pieces = { { 't', backlog ? 400 : 300 } };
        if (stalls) {
            scenario.busyFrom = 900;
            scenario.busyFor = 4s;
        } else if (!backlog) {
            scenario.delay = 600ms;
        }
        FakeWindow window { scenario };
        Harness harness;
        QPromise<void> reading;
        reading.start();
        if (backlog) {
            harness.recognize = [held = reading.future()](QImage) -> Task<OCRResult> {
                QFuture<void> waiting = held;
                co_await waiting;
                co_return OCRResult {};
            };
        }
        auto coordinator = harness.synthetic(window, ScrollingCaptureLimits::production);
        ScrollingControlPanel *panel = coordinator->controlPanel();
        std::optional<TaskClock::TimePoint> doneAt;
        int stepsThen = 0;
        bool scrolledOn = false;
        const auto done = [&] {
            doneAt = window.clock->now();
            stepsThen = window.steps;
            panel->doneButton()->click();
            reading.finish();
        };
        if (backlog) {
            // More tiles sealed than the recognizer, held, was ever given at once.
            harness.beforeAdvance = [&] {
                if (!doneAt && QDir(harness.store.tileDirectoryPath()).entryList(QDir::Files).size() >= 6) {
                    scrolledOn = true;
                    done();
                }
            };
        } else {
            // Two seconds into the stall: the capture still waits for the window to move.
            window.onLook = [&] {
                if (!doneAt
                    && (stalls ? window.busyUntil && window.clock->now() >= *window.busyUntil - 2s
                               : window.steps == 3))
                    done();
            };
        }
        std::optional<TaskClock::TimePoint> endedAt;
        HideWatch hidden([&] { endedAt = endedAt ? endedAt : std::optional(window.clock->now()); });
        panel->installEventFilter(&hidden);
        const Outcome outcome = harness.run(*coordinator);
        if (!doneAt)
            reading.finish();
        QVERIFY2(doneAt, "the capture never got there");
        QVERIFY(scrolledOn || !backlog);
        QVERIFY2(outcome.result, qPrintable(outcome.otherError));
        QCOMPARE(outcome.result->end, ScrollingCaptureEnd::done);
        QCOMPARE(window.steps, stepsThen);
        QVERIFY(endedAt);
        QVERIFY(*endedAt - *doneAt <= 200ms);
        const QImage stitched = harness.stitched(outcome.result->draft);
        QCOMPARE(differingRows(stitched, window.document.copy(0, 0, stitched.width(), stitched.height())), 0);
    }

    // A recognizer slower than the scrolling never holds it: tiles sealed while it is busy wait in
    // the draft and are read back from it in turn, no more than a few held at once. Every tile is
    // read once, with the rows of the one above on top, and its text placed as it is when the
    // recognizer keeps up.
    void readsSealedTilesInTurn_data()
    {
        // No section is answered until the scrolling has ended.
        QTest::addColumn<bool>("busy");
        QTest::newRow("recognizer keeps up") << false;
        QTest::newRow("recognizer busy until the scrolling ends") << true;
    }
    void readsSealedTilesInTurn()
    {
        QFETCH(bool, busy);
        struct Read
        {
            QList<QImage> segments;
            int mostAtOnce = 0;
            int givenWhenEnded = -1; // sections given to the recognizer when the panel went away
            std::optional<ScrollingCaptureResult> result;
            QList<QImage> expected; // each tile from the draft, the rows of the one above on top
        };
        const auto capture = [](bool held) {
            Read read;
            Scenario scenario;
            scenario.pieces = { { 't', 400 } };
            FakeWindow window { scenario };
            Harness harness;
            QPromise<void> busy;
            busy.start();
            int atOnce = 0;
            harness.recognize = [&, held, answered = busy.future()](QImage image) -> Task<OCRResult> {
                const QImage segment = image.convertToFormat(QImage::Format_RGB32);
                read.segments << segment;
                read.mostAtOnce = std::max(read.mostAtOnce, ++atOnce);
                if (held) {
                    QFuture<void> waiting = answered;
                    co_await waiting;
                }
                --atOnce;
                // One line near the bottom of the segment, named by its pixels.
                OCRResult result;
                result.observations << CaptureTextObservation {
                    QStringLiteral("s%1").arg(qHashBits(segment.constBits(), segment.sizeInBytes())),
                    QRectF(0.1, 0.05, 0.5, 0.04), 0.9
                };
                co_return result;
            };
            auto coordinator = harness.synthetic(window, ScrollingCaptureLimits::production);
            const TaskClock::TimePoint started = window.clock->now();
            const auto release = [&] {
                if (!busy.future().isFinished())
                    busy.finish();
            };
            HideWatch hidden([&] {
                if (read.givenWhenEnded < 0)
                    read.givenWhenEnded = int(read.segments.size());
                release();
            });
            coordinator->controlPanel()->installEventFilter(&hidden);
            // A capture that waits for the recognizer would wait for ever.
            harness.beforeAdvance = [&] {
                if (window.clock->now() - started > 60s)
                    release();
            };
            read.result = harness.run(*coordinator).result;
            release();
            if (!read.result)
                return read;
            const ScrollingCaptureManifest &manifest = *read.result->draft.scrollingCapture;
            QImage above;
            for (const ScrollingCaptureTile &tile : manifest.tiles) {
                const QImage image
                    = QImage::fromData(harness.store.loadTilePNG(read.result->draft.id, tile.index))
                          .convertToFormat(QImage::Format_RGB32);
                const int overlap = above.isNull()
                    ? 0
                    : ScrollingCaptureCoordinator::recognitionOverlap(above.height(), image.height());
                QImage segment(image.width(), overlap + image.height(), QImage::Format_RGB32);
                QPainter painter(&segment);
                painter.drawImage(0, 0, above, 0, above.height() - overlap, image.width(), overlap);
                painter.drawImage(0, overlap, image);
                painter.end();
                read.expected << segment;
                above = image;
            }
            return read;
        };
        const Read keepingUp = capture(false);
        const Read read = capture(busy);
        QVERIFY(keepingUp.result && read.result);
        QCOMPARE(read.result->end, ScrollingCaptureEnd::endOfContent);
        QVERIFY(read.expected.size() > 6);
        // Sections read back from the draft may reach the recognizer out of turn; their text is
        // taken in turn.
        QCOMPARE(read.segments.size(), read.expected.size());
        for (qsizetype i = 0; i < read.expected.size(); ++i)
            QVERIFY2(
                read.segments.count(read.expected[i]) == 1, qPrintable(QStringLiteral("section %1").arg(i)));
        QVERIFY2(read.mostAtOnce <= 4, qPrintable(QString::number(read.mostAtOnce)));
        QCOMPARE(read.result->draft.reviewedText, keepingUp.result->draft.reviewedText);
        QCOMPARE(read.result->draft.observations, keepingUp.result->draft.observations);
        QCOMPARE(read.result->draft.reviewedText.count(u's'), read.expected.size());
        // The scrolling went on to the end while the recognizer had not answered once.
        if (busy)
            QVERIFY2(read.givenWhenEnded <= 4, qPrintable(QString::number(read.givenWhenEnded)));
    }

    // The wheel reaches the window under the region, moves its content by the window's own step,
    // and the pointer ends where it was.
    void scrollsTheWindowAndPutsThePointerBack()
    {
        ScrollTargetProcess target;
        QVERIFY(target.start({}));
        XTestScrollSteps steps;
        QVERIFY(steps.isAvailable());
        QVERIFY(steps.isWindowViewable(target.window()));

        const QPoint rest(5, 1070);
        QCursor::setPos(rest);
        QTRY_COMPARE(steps.pointerPosition(), rest);
        QVERIFY(!steps.scrollDown(target.region().center(), 0));

        const QImage before = grab(target.region());
        QVERIFY(steps.scrollDown(target.region().center(), 2));
        QCOMPARE(steps.pointerPosition(), rest);
        // Moved, and drawn: two grabs in a row agree.
        QImage after = before;
        const auto drawn = [&] {
            const QImage next = grab(target.region());
            const bool done = next != before && next == after;
            after = next;
            return done;
        };
        QTRY_VERIFY(drawn());

        const auto previous = ScrollingFrameAnalyzer::prepareFrame(before);
        const auto current = ScrollingFrameAnalyzer::prepareFrame(after);
        const ScrollingAlignment alignment = ScrollingFrameAnalyzer::alignFrames(*previous, *current);
        QCOMPARE(alignment.offset, 2 * 3 * 20); // two notches of three 20-pixel lines
        QVERIFY(alignment.isConfident());

        target.stop();
        QTRY_VERIFY(!steps.isWindowViewable(target.window()));
        QVERIFY(!steps.isWindowViewable(0));
        QVERIFY(!steps.isWindowViewable(0x7ffffff0));
    }

    void panelPlacement_data()
    {
        QTest::addColumn<QRect>("region");
        QTest::addColumn<QRect>("expected");
        // A 300x60 panel on a 1920x1080 screen.
        QTest::newRow("room below") << QRect(100, 100, 600, 400) << QRect(400, 510, 300, 60);
        QTest::newRow("room above only") << QRect(100, 300, 600, 760) << QRect(400, 230, 300, 60);
        QTest::newRow("full height, room right") << QRect(100, 0, 600, 1080) << QRect(710, 1020, 300, 60);
        QTest::newRow("full height, room left") << QRect(1400, 0, 520, 1080) << QRect(1090, 1020, 300, 60);
        QTest::newRow("whole screen") << QRect(0, 0, 1920, 1080) << QRect(1620, 1020, 300, 60);
        QTest::newRow("near the left edge") << QRect(0, 100, 200, 300) << QRect(0, 410, 300, 60);
    }
    void panelPlacement()
    {
        QFETCH(QRect, region);
        QFETCH(QRect, expected);
        const QRect placed
            = ScrollingControlPanel::placement(region, QRect(0, 0, 1920, 1080), QSize(300, 60));
        QCOMPARE(placed, expected);
        if (region != QRect(0, 0, 1920, 1080))
            QVERIFY(!placed.intersects(region));
    }

    // On screen, the panel and the outline sit outside the region and the buttons answer.
    void panelAndOutlineStayOutside()
    {
        const QRect region(400, 200, 700, 500);
        ScrollingControlPanel panel;
        panel.placeOutside(region);
        panel.show();
        ScrollingOutlineChrome outline;
        outline.show(region);
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QVERIFY(!panel.frameGeometry().intersects(region));
        for (QWidget *edge : outline.edges()) {
            QVERIFY(edge->isVisible());
            QVERIFY(!edge->geometry().intersects(region));
            QVERIFY(edge->geometry().intersects(region.adjusted(-3, -3, 3, 3)));
        }
        // Nothing of ours shows inside the region's pixels (a blank root window stays blank there)
        // once the outline is drawn around it.
        const QColor blank = grab(region).pixelColor(0, 0);
        QTRY_VERIFY(grab(outline.edges().first()->geometry()).pixelColor(1, 1) != blank);
        const QImage inside = grab(region);
        QCOMPARE(inside.pixelColor(0, 0), inside.pixelColor(inside.width() - 1, inside.height() - 1));

        QSignalSpy done(&panel, &ScrollingControlPanel::doneRequested);
        QSignalSpy cancel(&panel, &ScrollingControlPanel::cancelRequested);
        QTest::mouseClick(panel.doneButton(), Qt::LeftButton);
        QTest::mouseClick(panel.cancelButton(), Qt::LeftButton);
        QCOMPARE(done.count(), 1);
        QCOMPARE(cancel.count(), 1);
        QVERIFY(!panel.doneButton()->hasFocus());
        outline.hide();
        for (QWidget *edge : outline.edges())
            QVERIFY(!edge->isVisible());
    }

    // A server without XTEST offers no scroll steps, and a capture that would need them fails as a
    // revoked permission before it reads anything, leaving nothing behind.
    void withoutXTestNothingIsPosted()
    {
        PrivateXvfb bare({ QStringLiteral("-extension"), QStringLiteral("XTEST") });
        QVERIFY(bare.isRunning());
        ScopedEnvironment onBare;
        onBare.set("DISPLAY", bare.display().toLocal8Bit());
        XTestScrollSteps steps;
        onBare.restore();
        QVERIFY(steps.isConnected() && !steps.isAvailable());
        QVERIFY(!steps.scrollDown(QPoint(100, 100), 1));

        ScrollTargetProcess target;
        QVERIFY(target.start({ "--lines", "80" }));
        ScrollingCaptureEnvironment environment = ScrollingCaptureEnvironment::live();
        environment.scrollDown
            = [&steps](QPoint point, int notches) { return steps.scrollDown(point, notches); };
        environment.canPostScrollSteps = [&steps] { return steps.isAvailable(); };
        Harness harness;
        int recognitions = 0;
        harness.recognize = [&recognitions](QImage) -> Task<OCRResult> {
            ++recognitions;
            co_return OCRResult {};
        };
        auto coordinator
            = harness.live(target, target.region(), ScrollingCaptureLimits::production, environment);
        QCOMPARE(harness.run(*coordinator).error, std::optional(ScrollingCaptureError::permissionRevoked));
        QCOMPARE(recognitions, 0);
        QVERIFY(harness.storeIsEmpty());
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

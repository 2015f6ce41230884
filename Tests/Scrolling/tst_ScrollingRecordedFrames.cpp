// Frames that real applications showed a scrolling capture (Tests/Scrolling/recordings, described
// in the README there), replayed through the frame alignment offline: the same pairs of looks,
// with what was seen changing at rest and the steps the capture expected, as the capture asked.
// A step the pixels tell must be placed where the content went, with what stays put over it left
// out of the new rows; one they cannot tell only where the capture expected it. And the same looks
// shown to a whole capture, on the manual clock, by windows that move as the recorded ones did: the
// stitched tiles must hold every recorded row once, in order, and the capture must take the still
// window after the last look for the end of the content. And single steps of a capture driven by
// hand from recorded looks: where it decides the end, and how it takes rows drawn late again.
#include "RecordedWindow.h"
#include "ScrollTargetProcess.h"
#include "Scrolling/ScrollingCaptureCoordinator.h"
#include "Scrolling/ScrollingFrameAnalyzer.h"
#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

struct Pair
{
    QString folder;
    QJsonObject event; // the recorded alignment
    QJsonObject truth;
};

std::vector<quint32> marksOf(const QJsonValue &value)
{
    std::vector<quint32> marks;
    for (const QJsonValue &bands : value.toArray())
        marks.push_back(quint32(bands.toInteger()));
    return marks;
}

QString recordingsFolder()
{
    return TestSupport::sourceDir() + QStringLiteral("/Scrolling/recordings");
}

// The first row of `stitched` that differs from `content`, with how many rows of `content` it
// holds no copy of and how many it holds twice or more; empty when they are alike.
QString differences(const QImage &stitched, const QImage &content)
{
    const auto rowOf = [](const QImage &image, int y) {
        return QByteArray(reinterpret_cast<const char *>(image.constScanLine(y)), image.width() * 4);
    };
    QHash<QByteArray, int> counts;
    for (int y = 0; y < stitched.height(); ++y)
        ++counts[rowOf(stitched, y)];
    int firstDifference = -1;
    int lost = 0;
    int doubled = 0;
    QHash<QByteArray, int> expected;
    for (int y = 0; y < content.height(); ++y)
        ++expected[rowOf(content, y)];
    for (auto row = expected.cbegin(); row != expected.cend(); ++row) {
        const int found = counts.value(row.key());
        lost += found == 0 ? row.value() : 0;
        doubled += found > row.value() ? found - row.value() : 0;
    }
    for (int y = 0; y < std::min(stitched.height(), content.height()) && firstDifference < 0; ++y) {
        if (rowOf(stitched, y) != rowOf(content, y))
            firstDifference = y;
    }
    if (firstDifference < 0 && stitched.height() == content.height())
        return {};
    return QStringLiteral("%1 rows stitched, %2 recorded; first difference at row %3; %4 rows lost, %5 "
                          "doubled")
        .arg(stitched.height())
        .arg(content.height())
        .arg(firstDifference < 0 ? std::min(stitched.height(), content.height()) : firstDifference)
        .arg(lost)
        .arg(doubled);
}

// The recorded steps of one folder: each alignment's earlier and later look, as the analyzer was
// given them, and what the capture expected of it.
struct RecordedStep
{
    ScrollingFramePtr from;
    ScrollingFramePtr to;
    QList<int> expected;
};

QList<RecordedStep> recordedSteps(const QString &name)
{
    const QString folder = recordingsFolder() + QLatin1Char('/') + name;
    const QJsonObject manifest
        = QJsonDocument::fromJson(TestSupport::readFile(folder + QStringLiteral("/manifest.json"))).object();
    const QJsonArray images = manifest.value(QStringLiteral("images")).toArray();
    QHash<int, QImage> lookImages;
    QList<RecordedStep> steps;
    for (const QJsonValue &value : manifest.value(QStringLiteral("events")).toArray()) {
        const QJsonObject event = value.toObject();
        const QString kind = event.value(QStringLiteral("kind")).toString();
        if (kind == QStringLiteral("look"))
            lookImages.insert(event.value(QStringLiteral("look")).toInt(),
                QImage(
                    QDir(folder).filePath(images.at(event.value(QStringLiteral("image")).toInt()).toString()))
                    .convertToFormat(QImage::Format_RGB32));
        if (kind != QStringLiteral("align"))
            continue;
        const auto frame = [&](const QString &role) {
            return std::make_shared<const ScrollingFrame>(lookImages.value(event.value(role).toInt()),
                marksOf(event.value(role + "Changed")), marksOf(event.value(role + "Volatile")));
        };
        RecordedStep step { frame(QStringLiteral("from")), frame(QStringLiteral("to")), {} };
        for (const QJsonValue &offset : event.value(QStringLiteral("expected")).toArray())
            step.expected << offset.toInt();
        steps << step;
    }
    return steps;
}

// A capture driven one step at a time by hand: each step's look is a recorded one, placed against
// the frame before it as the capture would place it.
class SteppedCapture : public ScrollingCaptureCoordinator
{
public:
    using ScrollingCaptureCoordinator::Placed;

    explicit SteppedCapture(const EncryptedDraftStore &store)
        : ScrollingCaptureCoordinator(
            ScrollTargetProcess::geometryOf(QRect(0, 0, 1, 1)), ScrollingCaptureTarget {},
            QUuid::createUuid(), store, [](ScrollingRegionGeometry) -> Task<QImage> { co_return QImage(); },
            [](QImage) -> Task<OCRResult> { co_return OCRResult {}; }, ScrollingCaptureLimits::production,
            quietEnvironment(), {}, {}, {})
    { }

    // Starts on `first` after steps of `notches` that each moved `perNotch` rows a notch.
    void start(const ScrollingFramePtr &first, int notches, double perNotch)
    {
        startOn(m_state, Frame { first->image(), first });
        m_state.at.notches = notches;
        m_state.at.perNotch = { perNotch };
    }
    // The rows of the frame the capture stands on are already in the document, as a step's.
    void takeRows(int fixedBottom)
    {
        appendRows(m_state.previous.image, 0, m_state.height - fixedBottom);
        m_state.firstTaken = true;
        m_state.at.fixedBottom = fixedBottom;
    }
    // A step whose settled look is `look`, aligned as the capture aligns it.
    Placed stepTo(const ScrollingFramePtr &look)
    {
        StepLook step;
        step.before = m_state.at;
        step.expected = expectedSteps(m_state.at);
        step.current = Frame { look->image(), look };
        step.aligned = ScrollingFrameAnalyzer::alignFrames(*m_state.previous.prepared, *look, step.expected);
        return place(m_state, step);
    }
    // A step after which the window stood still.
    Placed stillStep()
    {
        StepLook step;
        step.before = m_state.at;
        step.expected = expectedSteps(m_state.at);
        step.current = m_state.previous;
        step.look.changed = false;
        return place(m_state, step);
    }
    std::optional<ScrollingCaptureEnd> end() const { return m_state.end; }
    int scroll() const { return m_state.at.scroll; }
    int fixedBottom() const { return m_state.at.fixedBottom; }
    QImage document() const { return pendingImage(); }

    static ScrollingCaptureEnvironment quietEnvironment()
    {
        ScrollingCaptureEnvironment environment;
        environment.showsPanel = false;
        environment.observesDisplayChanges = false;
        return environment;
    }

private:
    CaptureState m_state;
};

} // namespace

Q_DECLARE_METATYPE(Pair)
Q_DECLARE_METATYPE(RecordedWindow)

class TestScrollingRecordedFrames : public QObject
{
    Q_OBJECT

private:
    // The look's frame as the analyzer was given it.
    ScrollingFramePtr frameOf(const Pair &pair, const QString &role)
    {
        const int look = pair.event.value(role).toInt(-1);
        const QString file = QDir(pair.folder).filePath(m_imageOfLook.value(pair.folder).value(look));
        const QImage image(file);
        if (image.isNull())
            return nullptr;
        return std::make_shared<const ScrollingFrame>(
            image, marksOf(pair.event.value(role + "Changed")), marksOf(pair.event.value(role + "Volatile")));
    }

    QHash<QString, QHash<int, QString>> m_imageOfLook;

private slots:
    void aligns_data()
    {
        QTest::addColumn<Pair>("pair");
        const QDir recordings(recordingsFolder());
        const QStringList folders = recordings.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        QVERIFY2(!folders.isEmpty(), qPrintable(recordings.path()));
        int withTruth = 0;
        for (const QString &name : folders) {
            const QString folder = recordings.filePath(name);
            const QJsonObject manifest
                = QJsonDocument::fromJson(TestSupport::readFile(folder + QStringLiteral("/manifest.json")))
                      .object();
            QVERIFY2(manifest.value(QStringLiteral("format")).toInt() == 1, qPrintable(folder));
            const QJsonArray images = manifest.value(QStringLiteral("images")).toArray();
            QHash<int, QString> &imageOfLook = m_imageOfLook[folder];
            int step = 0;
            for (const QJsonValue &value : manifest.value(QStringLiteral("events")).toArray()) {
                const QJsonObject event = value.toObject();
                const QString kind = event.value(QStringLiteral("kind")).toString();
                if (kind == QStringLiteral("look"))
                    imageOfLook.insert(event.value(QStringLiteral("look")).toInt(),
                        images.at(event.value(QStringLiteral("image")).toInt()).toString());
                if (kind != QStringLiteral("align"))
                    continue;
                ++step;
                const QJsonObject truth = event.value(QStringLiteral("truth")).toObject();
                if (truth.isEmpty())
                    continue;
                ++withTruth;
                QTest::addRow("%s, alignment %d", qPrintable(name), step) << Pair { folder, event, truth };
            }
        }
        QVERIFY(withTruth > 0);
    }
    void aligns()
    {
        QFETCH(Pair, pair);
        const ScrollingFramePtr from = frameOf(pair, QStringLiteral("from"));
        const ScrollingFramePtr to = frameOf(pair, QStringLiteral("to"));
        QVERIFY(from && to);
        QList<int> expected;
        for (const QJsonValue &offset : pair.event.value(QStringLiteral("expected")).toArray())
            expected << offset.toInt();
        const ScrollingAlignment alignment = ScrollingFrameAnalyzer::alignFrames(*from, *to, expected);
        const QString answer
            = QString::asprintf("offset %d, confidence %.2f, fixed %d/%d, period %d", alignment.offset,
                alignment.confidence, alignment.fixedTop, alignment.fixedBottom, alignment.period);

        const QJsonValue offset = pair.truth.value(QStringLiteral("offset"));
        if (offset.isDouble()) {
            // The pixels tell it: placed, where the content went.
            QVERIFY2(alignment.isConfident(), qPrintable(answer));
            QCOMPARE(alignment.offset, offset.toInt());
        } else {
            // The pixels cannot tell it (rows that repeat): only the step the capture expected may be
            // taken.
            QVERIFY2(
                !alignment.isConfident() || (!expected.isEmpty() && alignment.offset == expected.first()),
                qPrintable(answer));
        }
        // What stays put over the bottom of the content is left out of the new rows, and no more
        // than a little around it.
        const QJsonValue fixedBottom = pair.truth.value(QStringLiteral("fixedBottom"));
        if (fixedBottom.isDouble() && alignment.isConfident()) {
            QVERIFY2(alignment.fixedBottom >= fixedBottom.toInt(), qPrintable(answer));
            QVERIFY2(alignment.fixedBottom <= fixedBottom.toInt() + 16, qPrintable(answer));
        }
        // Rows the earlier look showed blank, not drawn yet, come from the later one: from the
        // first of them, or none.
        if (alignment.isConfident())
            QCOMPARE(alignment.undrawnFrom, pair.truth.value(QStringLiteral("undrawnFrom")).toInt(-1));
        // A later look whose lower part the window had not drawn yet is told from every other.
        QCOMPARE(ScrollingFrameAnalyzer::blankTail(*from, *to),
            pair.truth.value(QStringLiteral("blankFrom")).toInt(to->height()));
    }

    // The end of the content is decided on the still looks after the last step alone: at once after
    // a step that fell short of the one expected, only at the second after one that went all the way
    // (a busy window stands still before it moves).
    void decidesEnd_data()
    {
        QTest::addColumn<QString>("recording");
        QTest::addColumn<int>("notches");
        QTest::addColumn<double>("perNotch");
        QTest::addColumn<int>("stillLooks");
        QTest::newRow("a list's step that met its end") << "gtk-list-alternating-rows-end" << 3 << 207.0 << 1;
        QTest::newRow("an article's steps that went all the way")
            << "firefox-no-smooth-scrolling" << 1 << 138.0 << 2;
        QTest::newRow("identical lines' steps that went all the way")
            << "xterm-less-identical-lines" << 1 << 95.0 << 2;
    }
    void decidesEnd()
    {
        QFETCH(QString, recording);
        QFETCH(int, notches);
        QFETCH(double, perNotch);
        QFETCH(int, stillLooks);
        const QList<RecordedStep> steps = recordedSteps(recording);
        QVERIFY(!steps.isEmpty());
        QTemporaryDir dir;
        SteppedCapture capture(EncryptedDraftStore(dir.path(), QByteArray(32, '\x5a')));
        capture.start(steps.first().from, notches, perNotch);
        for (const RecordedStep &step : steps)
            QVERIFY(capture.stepTo(step.to) == SteppedCapture::Placed::moved);
        int looks = 0;
        while (!capture.end() && looks < stillLooks + 1) {
            QVERIFY(capture.stillStep() == SteppedCapture::Placed::still);
            ++looks;
        }
        QCOMPARE(capture.end(), std::optional(ScrollingCaptureEnd::endOfContent));
        QCOMPARE(looks, stillLooks);
    }

    // Rows a look showed blank, before the window drew them, are taken again from the next look that
    // shows them drawn, whether it moved on or stood still: the document ends as that look shows the
    // content, with no blank row and no row twice.
    void retakesUndrawnRows_data()
    {
        QTest::addColumn<QString>("recording");
        QTest::addColumn<int>("fixedBottom"); // of the frame the capture stands on
        QTest::addColumn<int>("scroll"); // where the last look stands
        QTest::newRow("drawn by the step after") << "firefox-no-smooth-scrolling-drawn-late" << 0 << 552;
        QTest::newRow("drawn by the step after, over a footer")
            << "firefox-fixed-footer-drawn-late" << 48 << 828;
        QTest::newRow("drawn where they were") << "firefox-no-smooth-scrolling-late-step" << 0 << 0;
        QTest::newRow("drawn where they were, above a footer") << "firefox-fixed-footer-late-step" << 0 << 0;
    }
    void retakesUndrawnRows()
    {
        QFETCH(QString, recording);
        QFETCH(int, fixedBottom);
        QFETCH(int, scroll);
        const QList<RecordedStep> steps = recordedSteps(recording);
        QVERIFY(!steps.isEmpty());
        QTemporaryDir dir;
        SteppedCapture capture(EncryptedDraftStore(dir.path(), QByteArray(32, '\x5a')));
        capture.start(steps.first().from, 1, steps.first().expected.value(0));
        capture.takeRows(fixedBottom);
        for (const RecordedStep &step : steps)
            QVERIFY(capture.stepTo(step.to) != SteppedCapture::Placed::pause);
        QCOMPARE(capture.scroll(), scroll);
        const QImage last = steps.last().to->image();
        const int rows = last.height() - capture.fixedBottom();
        const QImage document = capture.document();
        QCOMPARE(document.height(), scroll + rows);
        QCOMPARE(document.copy(0, scroll, last.width(), rows), last.copy(0, 0, last.width(), rows));
    }

    // What a busy window showed while it drew the page again after a step, not moved yet, with some
    // rows blank that it had shown, is told from every look it showed when it had drawn a step or
    // stood still.
    void blankedRows_data()
    {
        QTest::addColumn<QImage>("before");
        QTest::addColumn<QImage>("after");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        const QDir recordings(recordingsFolder());
        int blanked = 0;
        for (const QString &name : recordings.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            QString error;
            const QList<RecordedWindow> runs = RecordedWindow::runsOf(recordings.filePath(name), &error);
            QVERIFY2(!runs.isEmpty(), qPrintable(error));
            for (const RecordedWindow &run : runs) {
                for (int step = 1; step <= run.steps(); ++step) {
                    QTest::addRow("%s, step %d", qPrintable(run.name()), step)
                        << run.lookBefore(step) << run.lookAfter(step) << 0 << 0;
                    for (const RecordedWindow::Meanwhile &shown : run.meanwhile(step)) {
                        QTest::addRow("%s, step %d, until %d ms", qPrintable(run.name()), step,
                            int(shown.until.count()))
                            << run.lookBefore(step) << shown.image << shown.blanked.first
                            << shown.blanked.second;
                        blanked += shown.blanked.first < shown.blanked.second;
                    }
                }
            }
        }
        QVERIFY(blanked > 0);
    }
    void blankedRows()
    {
        QFETCH(QImage, before);
        QFETCH(QImage, after);
        QFETCH(int, first);
        QFETCH(int, last);
        const auto rows = ScrollingFrameAnalyzer::blankedRows(
            *ScrollingFrameAnalyzer::prepareFrame(before), *ScrollingFrameAnalyzer::prepareFrame(after));
        QCOMPARE(rows.second > rows.first, last > first);
        if (last > first) {
            QCOMPARE(rows.first, first);
            QCOMPARE(rows.second, last);
        }
    }

    void captures_data()
    {
        QTest::addColumn<RecordedWindow>("window");
        const QDir recordings(recordingsFolder());
        const QStringList folders = recordings.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString &name : folders) {
            QString error;
            const QList<RecordedWindow> runs = RecordedWindow::runsOf(recordings.filePath(name), &error);
            QVERIFY2(!runs.isEmpty(), qPrintable(error));
            for (const RecordedWindow &run : runs) {
                // Runs the capture cannot be started on: a look taken while a smooth scroll still
                // moved, whose step no look shows settled.
                // Looks with rows not drawn yet, which the first look of those rows shows blank.
                if (run.name() == QStringLiteral("firefox-smooth-scrolling from image 2")
                    || name.endsWith(QStringLiteral("-drawn-late"))
                    || name.endsWith(QStringLiteral("-late-step")))
                    continue;
                QTest::newRow(qPrintable(run.name())) << run;
            }
            // A late notch carried the first step past the rows above a floating button.
            if (name == QStringLiteral("firefox-floating-button-long-step"))
                QTest::newRow("firefox-floating-button-long-step, a first step past the button")
                    << runs.first().after(1);
            // A busy browser stood still for over a second after a step it then moved all the way.
            if (name == QStringLiteral("firefox-no-smooth-scrolling")) {
                RecordedWindow busy = runs.first();
                busy.moveLate(2, std::chrono::milliseconds(1500));
                QTest::newRow("firefox-no-smooth-scrolling, the second step 1.5 s late") << busy;
            }
        }
    }
    void captures()
    {
        QFETCH(RecordedWindow, window);
        ManualTaskClock clock;
        window.setClock(&clock);
        ScrollingCaptureEnvironment environment;
        environment.showsPanel = false;
        environment.observesDisplayChanges = false;
        environment.clock = &clock;
        environment.scrollDown = [&](QPoint, int notches) { return window.scrollDown(notches); };
        auto frames = ScrollingCaptureCoordinator::defaultFrameFunctions();
        const auto align = frames.alignFrames;
        frames.alignFrames
            = [&window, align](ScrollingFramePtr from, ScrollingFramePtr to, QList<int> expected) {
                  window.expects(expected);
                  return align(std::move(from), std::move(to), std::move(expected));
              };
        QTemporaryDir dir;
        const EncryptedDraftStore store(dir.path(), QByteArray(32, '\x5a'));
        ScrollingCaptureCoordinator coordinator(
            ScrollTargetProcess::geometryOf(QRect(QPoint(0, 0), window.size())), ScrollingCaptureTarget {},
            QUuid::createUuid(), store,
            [&window](ScrollingRegionGeometry) -> Task<QImage> { co_return window.look(); },
            [](QImage) -> Task<OCRResult> { co_return OCRResult {}; }, ScrollingCaptureLimits::production,
            environment, frames.prepareFrame, frames.alignFrames, frames.frameDifference);

        std::optional<ScrollingCaptureResult> result;
        QString failure;
        bool finished = false;
        Task<void> task = Task<void>::spawn(&coordinator, [&]() -> Task<void> {
            try {
                Task<ScrollingCaptureResult> running = coordinator.run();
                result = co_await running;
            } catch (const std::exception &error) {
                failure = QString::fromUtf8(error.what());
            }
            finished = true;
        });
        // The clock moves whenever the capture only waits for it; a capture that asks what the
        // recording does not hold stops there.
        for (const QDeadlineTimer deadline(120s);
             !finished && !deadline.hasExpired() && window.fault().isEmpty();) {
            QCoreApplication::processEvents();
            if (!finished && clock.pendingTimers() > 0)
                clock.advance(5ms);
            else if (!finished)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        QVERIFY2(window.fault().isEmpty(), qPrintable(window.fault()));
        QVERIFY2(finished, "the capture did not finish");
        QVERIFY2(result, qPrintable(failure));
        // Rows that no look shows clear of what stays put over them pause the capture before them.
        const int steps = window.placeableSteps();
        QCOMPARE(result->end,
            steps == window.steps() ? ScrollingCaptureEnd::endOfContent : ScrollingCaptureEnd::paused);

        const ScrollingCaptureManifest &manifest = *result->draft.scrollingCapture;
        QImage stitched(manifest.pixelWidth, manifest.pixelHeight, QImage::Format_RGB32);
        stitched.fill(Qt::magenta);
        QPainter painter(&stitched);
        for (const ScrollingCaptureTile &tile : manifest.tiles)
            painter.drawImage(
                0, tile.documentTop, QImage::fromData(store.loadTilePNG(result->draft.id, tile.index)));
        painter.end();
        const QString difference = differences(stitched, window.content(steps));
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }
};

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TestScrollingRecordedFrames test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ScrollingRecordedFrames.moc"

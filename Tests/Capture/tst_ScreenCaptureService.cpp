// The display-still retries, the choice of a scrolling target and the viewport reader's release, on
// injected displays and windows.

#include "Capture/ScreenCaptureService.h"

#include <QGuiApplication>
#include <QTest>
#include <QThreadPool>

#include <atomic>

using namespace std::chrono_literals;

namespace {

// Displays whose arrangement changes at the start of the first `unstable` attempts to read them:
// "generation" moves on, or "topology" gains a display.
struct FakeDesktop
{
    QList<DisplayDescription> displays { { "left", QRect(0, 0, 200, 100), 1.0 },
        { "right", QRect(200, 0, 100, 50), 2.0 } };
    quint64 generation = 41;
    QString change;
    int unstable = 0;
    int grabs = 0;
    bool grabsFail = false;

    ScreenCaptureService::Backend backend()
    {
        ScreenCaptureService::Backend backend;
        backend.displays = [this] { return displays; };
        backend.grabDisplay = [this](const QString &id) -> QImage {
            if (id == "left" && unstable-- > 0) {
                if (change == "generation")
                    ++generation;
                else
                    displays.append({ QString("extra-%1").arg(grabs), QRect(0, 100, 10, 10), 1.0 });
            }
            ++grabs;
            const auto display = std::find_if(displays.begin(), displays.end(),
                [&](const DisplayDescription &d) { return d.displayID == id; });
            if (grabsFail || display == displays.end())
                return {};
            QImage image(display->frame.size() * display->devicePixelRatio, QImage::Format_RGB32);
            image.fill(Qt::gray);
            return image;
        };
        return backend;
    }
};

ApplicationWindow window(
    quint64 id, QRect geometry, QString bundleID, qint64 pid = 100, QStringList types = {})
{
    ApplicationWindow item;
    item.window.windowID = id;
    item.window.geometry = geometry;
    item.window.pid = pid;
    item.window.windowTypes = types;
    item.bundleID = bundleID;
    item.name = bundleID.toUpper();
    return item;
}

// The error a capture ended with: -1 for none, -2 for a cancel.
int errorOf(const Task<QList<DisplaySnapshot>> &task)
{
    try {
        task.result();
    } catch (const ScreenCaptureError &error) {
        return error.code();
    } catch (const TaskCancelled &) {
        return -2;
    }
    return -1;
}

} // namespace

class TestScreenCaptureService : public QObject
{
    Q_OBJECT

private slots:
    // Stills are accepted only when the arrangement and the generation held still across them.
    void snapshots_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("unstableAttempts");
        QTest::addColumn<int>("expectedError");
        QTest::addColumn<int>("expectedGrabs");
        const int changed = ScreenCaptureError::displaysChanged;
        const int none = ScreenCaptureError::noDisplays;
        QTest::newRow("stable displays are read once") << "" << 0 << -1 << 2;
        QTest::newRow("generation moves once") << "generation" << 1 << -1 << 4;
        QTest::newRow("generation moves twice") << "generation" << 2 << -1 << 6;
        QTest::newRow("generation never settles") << "generation" << 100 << changed << 6;
        QTest::newRow("a display is added once") << "topology" << 1 << -1 << 5;
        QTest::newRow("topology never settles") << "topology" << 100 << changed << 9;
        QTest::newRow("no display") << "no displays" << 0 << none << 0;
        QTest::newRow("no display can be read") << "unreadable" << 0 << none << 2;
        // The pause is cut short and no further attempt is made.
        QTest::newRow("cancelled while settling") << "cancel" << 100 << -2 << 2;
    }

    void snapshots()
    {
        QFETCH(QString, change);
        QFETCH(int, unstableAttempts);
        QFETCH(int, expectedError);
        QFETCH(int, expectedGrabs);
        FakeDesktop desktop;
        if (change == "no displays")
            desktop.displays.clear();
        desktop.grabsFail = change == "unreadable";
        desktop.change = change == "cancel" ? "generation" : change;
        desktop.unstable = unstableAttempts;
        ManualTaskClock clock;
        ScreenCaptureService service(desktop.backend(), clock);
        std::optional<quint64> accepted;
        Task<QList<DisplaySnapshot>> task = service.snapshots(
            [&desktop] { return desktop.generation; }, [&](quint64 generation) { accepted = generation; });
        if (change == "cancel") {
            QTRY_COMPARE(clock.pendingTimers(), 1);
            task.cancel();
        }
        // The pauses between attempts pass on the manual clock.
        QTRY_VERIFY((clock.advance(change == "cancel" ? 0s : 1s), task.isFinished()));
        QCOMPARE(errorOf(task), expectedError);
        QCOMPARE(desktop.grabs, expectedGrabs);
        QCOMPARE(accepted.has_value(), expectedError == -1);
        if (expectedError != -1)
            return;
        QCOMPARE(*accepted, desktop.generation);
        const QList<DisplaySnapshot> stills = task.result();
        QCOMPARE(stills.size(), desktop.displays.size());
        for (qsizetype i = 0; i < stills.size(); ++i) {
            const DisplayDescription &display = desktop.displays[i];
            QCOMPARE(stills[i].displayID, display.displayID);
            QCOMPARE(stills[i].screenFrame, display.frame);
            QCOMPARE(stills[i].image.size(), display.frame.size() * display.devicePixelRatio);
        }
    }

    // What the viewport reads keep between them (a buffer shared with the X server) goes once they
    // stop, not while a capture keeps reading, and the next read brings it back.
    void viewportReaderLetGo_data()
    {
        QTest::addColumn<QList<int>>("readsAtMs");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<QList<int>>("releasesAtMs"); // expected, on the same clock

        const int idle = int(std::chrono::milliseconds(ScreenCaptureService::readerIdleTime).count());
        QTest::newRow("one read") << QList<int> { 0 } << true << QList<int> { idle };
        QTest::newRow("a capture reading all along")
            << QList<int> { 0, 400, 900, 2500, idle + 2400 } << true << QList<int> { 2 * idle + 2400 };
        QTest::newRow("two captures apart")
            << QList<int> { 0, 200, idle + 5000 } << true << QList<int> { idle + 200, 2 * idle + 5000 };
        QTest::newRow("an unreadable rectangle") << QList<int> { 0 } << false << QList<int> { idle };
    }

    void viewportReaderLetGo()
    {
        QFETCH(QList<int>, readsAtMs);
        QFETCH(bool, readable);
        QFETCH(QList<int>, releasesAtMs);
        ManualTaskClock clock;
        std::atomic<int> released { 0 };
        std::atomic<int> reads { 0 };
        ScreenCaptureService::Backend backend;
        backend.grabRootRect = [&](const QRect &rect) {
            ++reads;
            QImage image(rect.size(), QImage::Format_RGB32);
            image.fill(Qt::white);
            return readable ? image : QImage();
        };
        backend.grabRect = [](const QString &, const QRect &) { return QImage(); };
        backend.releaseRootReader = [&] { ++released; };
        ScreenCaptureService service(backend, clock);
        const ScrollingRegionGeometry geometry { "screen", QRect(0, 0, 400, 300), QRectF(10, 10, 100, 80),
            QRect(10, 10, 100, 80), QSize(400, 300) };

        // The clock moves a millisecond at a time; the release itself runs on a worker.
        QList<int> releases;
        qsizetype next = 0;
        for (int at = 0; at <= releasesAtMs.last() + 1000; ++at) {
            if (next < readsAtMs.size() && readsAtMs[next] == at) {
                Task<QImage> reading = service.scrollingViewport(geometry);
                QTRY_VERIFY(reading.isFinished());
                QCOMPARE(reading.result().isNull(), !readable);
                ++next;
            }
            clock.advance(1ms);
            QThreadPool::globalInstance()->waitForDone();
            if (released.load() > int(releases.size()))
                releases << at + 1;
        }
        QCOMPARE(reads.load(), int(readsAtMs.size()));
        QCOMPARE(releases, releasesAtMs);
    }

    void targetChoice_data()
    {
        QTest::addColumn<QList<ApplicationWindow>>("windows");
        QTest::addColumn<QRect>("outline");
        QTest::addColumn<QString>("preferred");
        QTest::addColumn<quint64>("expected");
        const auto editor = window(1, QRect(0, 0, 500, 500), "org.example.Editor");
        const auto browser = window(2, QRect(300, 300, 500, 500), "org.example.Browser");
        const auto own = window(3, QRect(0, 0, 1000, 1000), "org.example.Quorvel", 4242);
        const auto dock = window(4, QRect(0, 0, 1000, 40), "panel", 100, { "_NET_WM_WINDOW_TYPE_DOCK" });
        auto hidden = window(5, QRect(0, 0, 1000, 1000), "org.example.Minimized");
        hidden.window.hidden = true;
        const auto left = window(6, QRect(0, 0, 400, 800), "org.example.Left");
        const auto right = window(7, QRect(400, 0, 400, 800), "org.example.Right");
        const auto popup = window(8, QRect(350, 350, 50, 50), "org.example.Editor");
        const QRect overlap(350, 350, 100, 100);
        const QString editorID = "org.example.Editor";

        // Front to back.
        QTest::newRow("front window under the outline") << QList { browser, editor } << overlap << "" << 2ull;
        QTest::newRow("only the back window reaches it")
            << QList { browser, editor } << QRect(10, 10, 50, 50) << "" << 1ull;
        QTest::newRow("preferred application wins")
            << QList { browser, editor } << overlap << editorID << 1ull;
        QTest::newRow("preferred application not there")
            << QList { browser, editor } << QRect(600, 600, 10, 10) << editorID << 2ull;
        QTest::newRow("own windows are skipped")
            << QList { own, browser } << QRect(350, 350, 10, 10) << "" << 2ull;
        QTest::newRow("desktop chrome and hidden windows are skipped")
            << QList { dock, hidden, editor } << QRect(10, 10, 10, 10) << "" << 1ull;
        QTest::newRow("side by side: larger part wins")
            << QList { right, left } << QRect(100, 100, 400, 100) << "" << 6ull;
        QTest::newRow("side by side: front wins an equal part")
            << QList { right, left } << QRect(300, 100, 200, 100) << "" << 7ull;
        QTest::newRow("small window in front still wins")
            << QList { popup, browser } << QRect(300, 300, 200, 200) << "" << 8ull;
        QTest::newRow("nothing there") << QList { editor } << QRect(600, 600, 10, 10) << "" << 0ull;
        QTest::newRow("no windows") << QList<ApplicationWindow> {} << QRect(0, 0, 10, 10) << "" << 0ull;
    }

    void targetChoice()
    {
        QFETCH(QList<ApplicationWindow>, windows);
        QFETCH(QRect, outline);
        QFETCH(QString, preferred);
        QFETCH(quint64, expected);
        const std::optional<ScrollingCaptureTarget> target = ScreenCaptureService::chooseTarget(
            windows, outline, 4242, preferred.isEmpty() ? std::nullopt : std::optional<QString>(preferred));
        QCOMPARE(target ? target->windowID : quint64(0), expected);
        for (const ApplicationWindow &item : windows) {
            if (target && item.window.windowID == expected) {
                QCOMPARE(target->bundleID, item.bundleID);
                QCOMPARE(target->name, item.name);
            }
        }
    }

    // A window's application among the installed ones: the ID it announced, its class as an entry's
    // StartupWMClass, or an entry named after its class.
    void applicationEntry_data()
    {
        QTest::addColumn<QString>("announced");
        QTest::addColumn<QString>("instance");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("expected");
        const QList<QStringList> rows { { "announced ID", "org.example.Mail", "mail", "Mail",
                                            "org.example.Mail" },
            { "announced ID with suffix", "org.example.Mail.desktop", "", "", "org.example.Mail" },
            { "StartupWMClass before an entry of that name", "", "navigator", "Webby", "webby-browser" },
            { "StartupWMClass in other case", "", "navigator", "WEBBY", "webby-browser" },
            { "ID equals the class", "", "chat", "Chat", "chat" },
            { "last part of a reverse-DNS ID", "", "org.example.files", "Files", "org.example.Files" },
            { "unknown", "", "mystery", "Mystery", "" } };
        for (const QStringList &row : rows)
            QTest::newRow(qPrintable(row[0])) << row[1] << row[2] << row[3] << row[4];
    }

    void applicationEntry()
    {
        QFETCH(QString, announced);
        QFETCH(QString, instance);
        QFETCH(QString, className);
        QFETCH(QString, expected);
        QList<DesktopEntry> entries;
        for (const auto &[id, wmClass] :
            QList<std::pair<QString, QString>> { { "org.example.Mail", "" }, { "webby", "" },
                { "webby-browser", "Webby" }, { "chat", "" }, { "org.example.Files", "" } }) {
            entries << DesktopEntry();
            entries.back().id = id;
            entries.back().startupWMClass = wmClass;
        }
        const std::optional<DesktopEntry> entry
            = ScreenCaptureService::applicationEntry(entries, announced, instance, className);
        QCOMPARE(entry ? entry->id : QString(), expected);
    }
};

QTEST_MAIN(TestScreenCaptureService)
#include "tst_ScreenCaptureService.moc"

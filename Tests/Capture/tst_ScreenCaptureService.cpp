// The display-still retries and the choice of a scrolling target, on injected displays and windows.

#include "Capture/ScreenCaptureService.h"

#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

// Displays whose arrangement a test changes while they are being read.
struct FakeDesktop
{
    QList<DisplayDescription> displays { { "left", QRect(0, 0, 200, 100), 1.0 },
        { "right", QRect(200, 0, 100, 50), 2.0 } };
    quint64 generation = 0;
    int grabs = 0;
    // Called before each grab with its running number (from 1).
    std::function<void(int)> duringGrab;
    bool grabsFail = false;

    ScreenCaptureService::Backend backend()
    {
        ScreenCaptureService::Backend backend;
        backend.displays = [this] { return displays; };
        backend.grabDisplay = [this](const QString &id) -> QImage {
            ++grabs;
            if (duringGrab)
                duringGrab(grabs);
            if (grabsFail)
                return {};
            for (const DisplayDescription &display : displays) {
                if (display.displayID == id) {
                    QImage image(
                        display.frame.size() * display.devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
                    image.fill(Qt::gray);
                    return image;
                }
            }
            return {};
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

} // namespace

class TestScreenCaptureService : public QObject
{
    Q_OBJECT

    // Runs a snapshots call to its end, moving the fake clock along.
    static Task<QList<DisplaySnapshot>> run(ScreenCaptureService &service, ManualTaskClock &clock,
        FakeDesktop &desktop, std::optional<quint64> *accepted)
    {
        Task<QList<DisplaySnapshot>> task = service.snapshots([&desktop] { return desktop.generation; },
            [accepted](quint64 generation) { *accepted = generation; });
        QElapsedTimer wall;
        wall.start();
        while (!task.isFinished() && wall.elapsed() < 10000) {
            QCoreApplication::processEvents();
            clock.advance(50ms);
        }
        return task;
    }

    static int errorCode(const Task<QList<DisplaySnapshot>> &task)
    {
        try {
            task.result();
        } catch (const ScreenCaptureError &error) {
            return error.code();
        }
        return -1;
    }

private slots:
    void stableDisplaysAreReadOnce()
    {
        FakeDesktop desktop;
        desktop.generation = 41;
        ManualTaskClock clock;
        ScreenCaptureService service(desktop.backend(), clock);
        std::optional<quint64> accepted;
        Task<QList<DisplaySnapshot>> task = run(service, clock, desktop, &accepted);
        QVERIFY(task.isFinished());
        const QList<DisplaySnapshot> stills = task.result();
        QCOMPARE(stills.size(), 2);
        QCOMPARE(desktop.grabs, 2);
        QCOMPARE(accepted, std::optional<quint64>(41));
        QCOMPARE(stills[1].displayID, QString("right"));
        QCOMPARE(stills[1].screenFrame, QRect(200, 0, 100, 50));
        QCOMPARE(stills[1].image.size(), QSize(200, 100));
    }

    void changesDuringTheCaptureAreRetried_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("unstableAttempts");
        QTest::addColumn<int>("expectedError");
        QTest::addColumn<int>("expectedGrabs");
        QTest::newRow("generation moves once") << "generation" << 1 << -1 << 4;
        QTest::newRow("generation moves twice") << "generation" << 2 << -1 << 6;
        QTest::newRow("generation never settles")
            << "generation" << 100 << int(ScreenCaptureError::displaysChanged) << 6;
        QTest::newRow("a display is added once") << "topology" << 1 << -1 << 5;
        QTest::newRow("topology never settles")
            << "topology" << 100 << int(ScreenCaptureError::displaysChanged) << 9;
    }

    void changesDuringTheCaptureAreRetried()
    {
        QFETCH(QString, change);
        QFETCH(int, unstableAttempts);
        QFETCH(int, expectedError);
        QFETCH(int, expectedGrabs);
        FakeDesktop desktop;
        int attempts = 0;
        int lastAttemptGrab = 0;
        desktop.duringGrab = [&](int number) {
            const bool firstOfAttempt = number == lastAttemptGrab + 1;
            if (!firstOfAttempt)
                return;
            ++attempts;
            lastAttemptGrab = number + int(desktop.displays.size()) - 1;
            if (attempts > unstableAttempts)
                return;
            if (change == "generation")
                ++desktop.generation;
            else
                desktop.displays.append({ QString("extra-%1").arg(attempts), QRect(0, 100, 10, 10), 1.0 });
        };
        ManualTaskClock clock;
        ScreenCaptureService service(desktop.backend(), clock);
        std::optional<quint64> accepted;
        Task<QList<DisplaySnapshot>> task = run(service, clock, desktop, &accepted);
        QVERIFY(task.isFinished());
        QCOMPARE(errorCode(task), expectedError);
        QCOMPARE(desktop.grabs, expectedGrabs);
        if (expectedError < 0) {
            QCOMPARE(accepted, std::optional<quint64>(desktop.generation));
            QCOMPARE(task.result().size(), desktop.displays.size());
        } else {
            QVERIFY(!accepted);
            QCOMPARE(ScreenCaptureError(ScreenCaptureError::Code(expectedError)).description(),
                QString(
                    "Displays changed or are still settling. Wait a moment, then start the capture again."));
        }
    }

    void nothingToCapture_data()
    {
        QTest::addColumn<bool>("noDisplays");
        QTest::addColumn<bool>("grabsFail");
        QTest::newRow("no display") << true << false;
        QTest::newRow("no display can be read") << false << true;
    }

    void nothingToCapture()
    {
        QFETCH(bool, noDisplays);
        QFETCH(bool, grabsFail);
        FakeDesktop desktop;
        if (noDisplays)
            desktop.displays.clear();
        desktop.grabsFail = grabsFail;
        ManualTaskClock clock;
        ScreenCaptureService service(desktop.backend(), clock);
        std::optional<quint64> accepted;
        Task<QList<DisplaySnapshot>> task = run(service, clock, desktop, &accepted);
        QCOMPARE(errorCode(task), int(ScreenCaptureError::noDisplays));
        QVERIFY(!accepted);
    }

    void cancelledWhileSettling()
    {
        FakeDesktop desktop;
        desktop.duringGrab = [&](int) { ++desktop.generation; };
        ManualTaskClock clock;
        ScreenCaptureService service(desktop.backend(), clock);
        Task<QList<DisplaySnapshot>> task = service.snapshots([&] { return desktop.generation; }, {});
        QTRY_COMPARE(clock.pendingTimers(), 1);
        task.cancel();
        QTRY_VERIFY(task.isFinished());
        QVERIFY_THROWS_EXCEPTION(TaskCancelled, task.result());
        // The pause was cut short and no further attempt was made.
        QCOMPARE(desktop.grabs, 2);
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

        // Front to back.
        QTest::newRow("front window under the outline")
            << QList { browser, editor } << QRect(350, 350, 100, 100) << "" << quint64(2);
        QTest::newRow("only the back window reaches it")
            << QList { browser, editor } << QRect(10, 10, 50, 50) << "" << quint64(1);
        QTest::newRow("preferred application wins")
            << QList { browser, editor } << QRect(350, 350, 100, 100) << "org.example.Editor" << quint64(1);
        QTest::newRow("preferred application not there")
            << QList { browser, editor } << QRect(600, 600, 10, 10) << "org.example.Editor" << quint64(2);
        QTest::newRow("own windows are skipped")
            << QList { own, browser } << QRect(350, 350, 10, 10) << "" << quint64(2);
        QTest::newRow("desktop chrome and hidden windows are skipped")
            << QList { dock, hidden, editor } << QRect(10, 10, 10, 10) << "" << quint64(1);
        QTest::newRow("side by side: larger part wins")
            << QList { right, left } << QRect(100, 100, 400, 100) << "" << quint64(6);
        QTest::newRow("side by side: front wins an equal part")
            << QList { right, left } << QRect(300, 100, 200, 100) << "" << quint64(7);
        QTest::newRow("small window in front still wins")
            << QList { popup, browser } << QRect(300, 300, 200, 200) << "" << quint64(8);
        QTest::newRow("nothing there") << QList { editor } << QRect(600, 600, 10, 10) << "" << quint64(0);
        QTest::newRow("no windows") << QList<ApplicationWindow> {} << QRect(0, 0, 10, 10) << "" << quint64(0);
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
        if (target) {
            for (const ApplicationWindow &item : windows) {
                if (item.window.windowID == expected) {
                    QCOMPARE(target->bundleID, item.bundleID);
                    QCOMPARE(target->name, item.name);
                }
            }
        }
    }

    void desktopEntriesName_data()
    {
        QTest::addColumn<QString>("announced");
        QTest::addColumn<QString>("instance");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("expected");
        QTest::newRow("announced ID") << "org.example.Mail"
                                      << "mail"
                                      << "Mail"
                                      << "org.example.Mail";
        QTest::newRow("announced ID with suffix") << "org.example.Mail.desktop"
                                                  << ""
                                                  << ""
                                                  << "org.example.Mail";
        QTest::newRow("StartupWMClass") << ""
                                        << "navigator"
                                        << "Webby"
                                        << "webby-browser";
        QTest::newRow("StartupWMClass in other case") << ""
                                                      << "navigator"
                                                      << "WEBBY"
                                                      << "webby-browser";
        QTest::newRow("ID equals the class") << ""
                                             << "chat"
                                             << "Chat"
                                             << "chat";
        QTest::newRow("last part of a reverse-DNS ID") << ""
                                                       << "org.example.files"
                                                       << "Files"
                                                       << "org.example.Files";
        QTest::newRow("entry in a subfolder") << ""
                                              << "tool"
                                              << "Kit-Tool"
                                              << "kit-tool";
        QTest::newRow("unknown") << ""
                                 << "mystery"
                                 << "Mystery"
                                 << "";
        QTest::newRow("hidden by the user's own entry") << ""
                                                        << ""
                                                        << "Editor"
                                                        << "editor";
    }

    void desktopEntriesName()
    {
        QFETCH(QString, announced);
        QFETCH(QString, instance);
        QFETCH(QString, className);
        QFETCH(QString, expected);
        QTemporaryDir home;
        QTemporaryDir system;
        const auto write = [](const QString &path, const QByteArray &content) {
            QDir().mkpath(QFileInfo(path).path());
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        };
        write(home.path() + "/applications/editor.desktop",
            "[Desktop Entry]\nType=Application\nName=My Editor\n");
        write(system.path() + "/applications/editor.desktop",
            "[Desktop Entry]\nType=Application\nName=System Editor\nStartupWMClass=Nope\n");
        write(system.path() + "/applications/org.example.Mail.desktop",
            "[Desktop Entry]\nType=Application\nName=Mail\n");
        write(system.path() + "/applications/webby-browser.desktop",
            "[Desktop Entry]\nType=Application\nName=Webby\nStartupWMClass=Webby\n[Desktop Action "
            "new]\nStartupWMClass=Other\n");
        write(system.path() + "/applications/chat.desktop", "[Desktop Entry]\nType=Application\nName=Chat\n");
        write(system.path() + "/applications/org.example.Files.desktop",
            "[Desktop Entry]\nType=Application\nName=Files\n");
        write(system.path() + "/applications/kit/tool.desktop",
            "[Desktop Entry]\nType=Application\nName=Tool\n");
        const QByteArray oldHome = qgetenv("XDG_DATA_HOME");
        const QByteArray oldDirs = qgetenv("XDG_DATA_DIRS");
        qputenv("XDG_DATA_HOME", home.path().toUtf8());
        qputenv("XDG_DATA_DIRS", system.path().toUtf8());
        const QList<DesktopEntry> entries = DesktopEntries::all();
        qputenv("XDG_DATA_HOME", oldHome);
        qputenv("XDG_DATA_DIRS", oldDirs);

        const std::optional<DesktopEntry> entry
            = ScreenCaptureService::applicationEntry(entries, announced, instance, className);
        QCOMPARE(entry ? entry->id : QString(), expected);
        if (expected == "editor")
            QCOMPARE(entry->name, QString("My Editor"));
        if (expected == "webby-browser")
            QCOMPARE(entry->startupWMClass, QString("Webby"));
    }
};

QTEST_MAIN(TestScreenCaptureService)
#include "tst_ScreenCaptureService.moc"

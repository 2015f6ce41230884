#include "PrivateXvfb.h"
#include "SyntheticKeyboard.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstdio>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <X11/keysym.h>
#include <xcb/xcb.h>

// The real program started against what a crash, another program or the user left in its runtime and
// config folders: it either runs and answers a later start, or refuses at once and names the path.
namespace {

// One user's private folders for one run of the program.
struct Home
{
    QTemporaryDir dir;
    QString runtime = dir.filePath("runtime");
    QString instance = runtime + "/com.quorvel.dovrin";
    QString config = dir.filePath("config");
    QString settingsFolder = config + "/com.quorvel.dovrin";

    Home()
    {
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir().mkpath(settingsFolder);
    }

    // On `display` (with X11 as a desktop has it), else offscreen.
    std::unique_ptr<QProcess> start(const QString &display = QString()) const
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : { "DISPLAY", "PULSE_SERVER", "DBUS_SESSION_BUS_ADDRESS" })
            env.remove(name);
        env.insert("QT_QPA_PLATFORM", display.isEmpty() ? "offscreen" : "xcb");
        if (!display.isEmpty())
            env.insert("DISPLAY", display);
        env.insert("HOME", dir.path());
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("XDG_CONFIG_HOME", config);
        env.insert("XDG_DATA_HOME", dir.filePath("data"));
        env.insert("XDG_CACHE_HOME", dir.filePath("cache"));
        process->setProcessEnvironment(env);
        process->start(QStringLiteral(DOVRIN_QUORVEL_EXECUTABLE), {});
        return process;
    }

    // A later start: true when it was handed over to a running one.
    bool handsOver() const
    {
        const auto later = start();
        if (!later->waitForFinished(30000)) {
            later->kill();
            later->waitForFinished();
            return false;
        }
        const QByteArray said = later->readAllStandardError();
        if (later->exitCode() != 0)
            qWarning("later start: %s", said.constData());
        return later->exitCode() == 0 && said.contains("it was brought forward");
    }
};

// Asks the program at `socket` to come forward, as a later start does.
bool answers(const QString &socket)
{
    QLocalSocket client;
    client.connectToServer(socket);
    if (!client.waitForConnected(200) || client.write("activate\n") != 9)
        return false;
    QByteArray answer;
    while (!answer.contains('\n') && client.waitForReadyRead(200))
        answer += client.readAll();
    return answer == "ok\n";
}

void stop(QProcess &process)
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
}

// Puts a file ("file"), FIFO, folder, link to `content` or nothing there, in place of what is at `path`.
bool place(const QString &path, const QString &kind, const QByteArray &content = {})
{
    QDir(path).removeRecursively();
    QFile::remove(path);
    const QByteArray name = QFile::encodeName(path);
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    if (kind == "fifo")
        return ::mkfifo(name.constData(), 0600) == 0;
    if (kind == "folder")
        return QDir().mkpath(path + "/inside");
    if (kind == "link")
        return ::symlink(content.constData(), name.constData()) == 0;
    return TestSupport::writeFile(path, content);
}

// The kind of thing at a path, so a test can tell it was left alone.
QString kindAt(const QString &path)
{
    struct stat info
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return "nothing";
    if (S_ISLNK(info.st_mode))
        return "link";
    if (S_ISDIR(info.st_mode))
        return "folder";
    if (S_ISFIFO(info.st_mode))
        return "fifo";
    return S_ISREG(info.st_mode) ? "file:" + TestSupport::readFile(path).toHex() : "other";
}

// Whether a window with that title is shown on the display.
bool windowShown(const QString &display, const QByteArray &title)
{
    xcb_connection_t *connection = xcb_connect(display.toLatin1().constData(), nullptr);
    bool shown = false;
    if (!xcb_connection_has_error(connection)) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        xcb_query_tree_reply_t *tree
            = xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr);
        const int count = tree ? xcb_query_tree_children_length(tree) : 0;
        const xcb_window_t *children = tree ? xcb_query_tree_children(tree) : nullptr;
        for (int i = 0; i < count && !shown; ++i) {
            xcb_get_window_attributes_reply_t *attributes = xcb_get_window_attributes_reply(
                connection, xcb_get_window_attributes(connection, children[i]), nullptr);
            xcb_get_property_reply_t *name = xcb_get_property_reply(connection,
                xcb_get_property(connection, 0, children[i], XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 256),
                nullptr);
            shown = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE && name
                && QByteArray(static_cast<const char *>(xcb_get_property_value(name)),
                       xcb_get_property_value_length(name))
                    == title;
            free(attributes);
            free(name);
        }
        free(tree);
    }
    xcb_disconnect(connection);
    return shown;
}

} // namespace

class TestHostileStart : public QObject
{
    Q_OBJECT

private slots:
    void leftovers_data()
    {
        QTest::addColumn<QString>("where"); // below the runtime folder of the program
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("says"); // empty: the program must run
        const QString lock = "com.quorvel.dovrin/quorvel.lock", folder = "com.quorvel.dovrin";
        QTest::newRow("lock file empty") << lock << "file" << QByteArray() << "";
        QTest::newRow("lock file garbage")
            << lock << "file" << QByteArray("\xff\xfe garbage\0\x01", 13) << "";
        QTest::newRow("lock file without a pid") << lock << "file" << QByteArray("\nquorvel\nhost\n") << "";
        QTest::newRow("lock file a FIFO") << lock << "fifo" << QByteArray() << "";
        QTest::newRow("lock file a folder")
            << lock << "folder" << QByteArray() << "is a folder, not a lock file";
        QTest::newRow("socket a folder") << "com.quorvel.dovrin/quorvel.socket"
                                         << "folder" << QByteArray() << "is a folder, not a socket";
        QTest::newRow("runtime folder a file")
            << folder << "file" << QByteArray("x") << "is a file, not a folder";
        QTest::newRow("runtime folder a link")
            << folder << "link" << QByteArray("elsewhere") << "is a link, not a folder";
        QTest::newRow("runtime folder a dangling link")
            << folder << "link" << QByteArray("gone") << "is a link, not a folder";
    }

    void leftovers()
    {
        QFETCH(QString, where);
        QFETCH(QString, kind);
        QFETCH(QByteArray, content);
        QFETCH(QString, says);
        Home home;
        QVERIFY(QDir().mkpath(home.runtime + "/elsewhere"));
        const QString path = home.runtime + "/" + where;
        QVERIFY(place(path, kind, content));
        const QString before = kindAt(path);

        const auto first = home.start();
        if (says.isEmpty()) {
            // Runs, and a later start is handed over to it at once.
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(home.instance + "/quorvel.socket"), 20000);
            QVERIFY(home.handsOver());
            QCOMPARE(first->state(), QProcess::Running);
            stop(*first);
            return;
        }
        const bool ended = first->waitForFinished(20000);
        stop(*first);
        QVERIFY2(ended, "started although it cannot make sure it runs only once");
        QCOMPARE(first->exitCode(), 1);
        const QString said = QString::fromUtf8(first->readAllStandardError());
        QVERIFY2(said.contains("Quorvel cannot start: " + path + " " + says), qPrintable(said));
        QCOMPARE(kindAt(path), before);
        // Nothing runs: a later start refuses the same way.
        const auto later = home.start();
        QVERIFY(later->waitForFinished(20000));
        QCOMPARE(later->exitCode(), 1);
    }

    // Started as from the application menu, where standard error goes unread: the refusal is shown
    // in an alert, which Return closes, and the program ends as it does without one.
    void refusalsAreShown_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("says");
        QTest::newRow("lock file a folder") << "com.quorvel.dovrin/quorvel.lock"
                                            << "folder"
                                            << "is a folder, not a lock file";
        QTest::newRow("socket a folder") << "com.quorvel.dovrin/quorvel.socket"
                                         << "folder"
                                         << "is a folder, not a socket";
        QTest::newRow("runtime folder a link") << "com.quorvel.dovrin"
                                               << "link"
                                               << "is a link, not a folder";
    }

    void refusalsAreShown()
    {
        QFETCH(QString, where);
        QFETCH(QString, kind);
        QFETCH(QString, says);
        PrivateXvfb screen;
        QVERIFY(screen.isRunning());
        Home home;
        QVERIFY(QDir().mkpath(home.runtime + "/elsewhere"));
        const QString path = home.runtime + "/" + where;
        QVERIFY(place(path, kind, "elsewhere"));
        const auto first = home.start(screen.display());
        const QByteArray line = ("Quorvel cannot start: " + path + " " + says).toUtf8();
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT(((said += first->readAllStandardError()).contains(line)
                                     && windowShown(screen.display(), "Quorvel cannot start"))
                || first->state() == QProcess::NotRunning,
            30000);
        QVERIFY2(first->state() == QProcess::Running, said.constData());
        SyntheticKeyboard keyboard(screen.display().toLatin1());
        QVERIFY(keyboard.isOpen());
        keyboard.chord({}, XK_Return);
        const bool ended = first->waitForFinished(20000);
        stop(*first);
        QVERIFY2(ended, "the alert did not close on Return");
        QCOMPARE(first->exitCode(), 1);
        QCOMPARE(kindAt(path), kind);
    }

    void unreadableSettings_data()
    {
        QTest::addColumn<QString>("file"); // below XDG_CONFIG_HOME
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("content");
        const QString settings = "com.quorvel.dovrin/com.quorvel.dovrin.settings.ini";
        const QByteArray record = "app-settings-v1=\"{\\\"setupComplete\\\":true,\\\"onboardingStep\\\":4}\"";
        QTest::newRow("readable settings") << settings << "file"
                                           << "[General]\n" + record + "\n";
        QTest::newRow("settings a FIFO") << settings << "fifo" << QByteArray();
        QTest::newRow("standard suite a FIFO") << "com.quorvel.dovrin/com.quorvel.dovrin.ini"
                                               << "fifo" << QByteArray();
        QTest::newRow("desktop motion setting a FIFO") << "kdeglobals"
                                                       << "fifo" << QByteArray();
        QTest::newRow("toolkit settings a FIFO") << "gtk-3.0/settings.ini"
                                                 << "fifo" << QByteArray();
        QTest::newRow("settings a folder") << settings << "folder" << QByteArray();
        QTest::newRow("settings with a format error") << settings << "file"
                                                      << "[General\n" + record + "\n";
    }

    // Starts, and the file is left exactly as it was.
    void unreadableSettings()
    {
        QFETCH(QString, file);
        QFETCH(QString, kind);
        QFETCH(QByteArray, content);
        Home home;
        const QString path = home.config + "/" + file;
        QVERIFY(place(path, kind, content));
        const QString before = kindAt(path);
        const QStringList listed
            = QDir(home.settingsFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

        const auto first = home.start();
        const QString socket = home.instance + "/quorvel.socket";
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 20000);
        // From here on the program reads its settings and starts its event loop, which answers. Opened
        // as a file, a FIFO holds the start for good; a busy machine delays it by seconds at times. Each
        // question is asked once: an answer is not asked for again.
        QElapsedTimer clock;
        clock.start();
        const bool answered = QTest::qWaitFor([&] { return answers(socket); }, 30000);
        const qint64 milliseconds = clock.elapsed();
        QVERIFY2(answered, "start-up did not answer within thirty seconds");
        qInfo("answered %lld ms after it began to listen", milliseconds);
        QVERIFY(home.handsOver());
        QCOMPARE(first->state(), QProcess::Running);
        stop(*first);
        QCOMPARE(kindAt(path), before);
        // Nothing went to the other settings file instead.
        QCOMPARE(QDir(home.settingsFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            listed);
    }

    // Clients that connect and never speak neither hold the program up nor take its socket away.
    void silentClients()
    {
        Home home;
        const auto first = home.start();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(home.instance + "/quorvel.socket"), 20000);
        QVERIFY(home.handsOver());
        std::vector<std::unique_ptr<QProcess>> holders;
        for (int i = 0; i < 2; ++i) {
            holders.push_back(std::make_unique<QProcess>());
            holders.back()->start(QCoreApplication::applicationFilePath(),
                { "--hold", home.instance + "/quorvel.socket", "10000" });
        }
        for (const auto &holder : holders) {
            QTRY_VERIFY_WITH_TIMEOUT(holder->canReadLine() || holder->state() == QProcess::NotRunning, 60000);
            QCOMPARE(holder->readLine(), QByteArray("held 10000\n"));
        }
        QVERIFY(home.handsOver());
        QCOMPARE(first->state(), QProcess::Running);
        QVERIFY(QFileInfo::exists(home.instance + "/quorvel.socket"));
        for (const auto &holder : holders)
            stop(*holder);
        stop(*first);
    }
};

// With "--hold <socket> <count>" this program opens that many connections that never speak, prints
// "held <n>" with how many it got, and keeps them until it is ended.
int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--hold") == 0) {
        rlimit limit {};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, argv[2], sizeof address.sun_path - 1);
        const int count = std::atoi(argv[3]);
        int held = 0;
        for (; held < count; ++held) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            // A full backlog makes connect wait; a server that never accepts must not hold us for good.
            const timeval patience { 10, 0 };
            ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
            if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
                break;
        }
        std::printf("held %d\n", held);
        std::fflush(stdout);
        ::pause();
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestHostileStart test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_HostileStart.moc"

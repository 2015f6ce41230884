// The built program's memory across captures, as the system sees it (VmRSS and RssAnon of
// /proc/<pid>/status), on a private 1920x1080 X server with a tray host (trayer). The program is
// started on its own settings and data folders and driven from outside only, as a person would:
// the global shortcut and the tray menu typed and clicked through XTest, the region dragged on the
// overlay, Ctrl+S in the review. A capture counts as recognized when its encrypted draft holds text.
//
//  - idle: some seconds after the icon docked;
//  - a region capture of a 1000x1000 view of text: right after it is recognized, 60 s later with
//    the review still open, and 60 s after it was saved (the review closed);
//  - a 10-screen scrolling capture of the scroll_target column: the same;
//  - ten more scrolling captures in a row, each saved: after each is recognized, again once the
//    program is quiet (its processor use under 3 % for a second), and 60 s after the last.
//
// memory_of_an_audio_review, on its own sound server (speech from espeak-ng played into both the
// speakers and the microphone): idle, then a 20 s session recorded and stopped from the tray menu,
// its review once the transcripts are shown (the program quiet), and 60 s later with the review open.
//
// memory_of_a_large_note, on its own: a draft whose text is 100 MB, left by an earlier run, resumed
// from "Unfinished Capture" (Return), its review once quiet, and 60 s after it was saved.
//
// Needs Xvfb, trayer and the tests' helper build/<dir>/Tests/scroll_target (DOVRIN_TESTS=ON).
// DOVRIN_BENCH_PROGRAM, when set, is the program to measure instead of the one built beside this.
// DOVRIN_BENCH_WRAPPER, when set, is a command the program is started under (for example
// "heaptrack -o /tmp/quorvel"); the figures are then those of the program below it.
// DOVRIN_BENCH_MAPS, when set, is a folder where each figure's resident kilobytes per mapped file
// (and "[anon]", "[heap]", ...) are written, <figure>.tsv, to tell what grew.
// DOVRIN_BENCH_STOP_AT names a figure (a counter's name without "_rss_MiB", such as "region_60s"):
// once it is taken the program is killed outright, so that a heap profiler's record ends with what
// the program held at that moment.
#include "Documents/AppPaths.h"
#include "Documents/AppSettingsStore.h"
#include "Documents/DefaultsStore.h"
#include "Documents/DraftKeyStore.h"
#include "Documents/EncryptedDraft.h"
#include "Documents/FolderBookmark.h"
#include "Documents/ImageNormalization.h"
#include "Model/ScrollingCaptureFlow.h"
#include "PrivatePulseAudio.h"
#include "PrivateXvfb.h"
#include "ScrollTargetProcess.h"
#include "Services/PermissionController.h"
#include "SyntheticKeyboard.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr int viewport = 1000;
constexpr int lineHeight = 26; // scroll_target's
constexpr int screens = 10;
constexpr int capturesInARow = 10;

struct Memory
{
    double residentMiB = 0;
    double anonymousMiB = 0;
    double fileMiB = 0; // mapped files: the program and its libraries
    double sharedMiB = 0; // shared memory: window buffers, screen reads
};

Memory memoryOf(qint64 pid)
{
    Memory memory;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return memory;
    const auto mib = [](const QByteArray &line) {
        return line.mid(line.indexOf(':') + 1).trimmed().split(' ').value(0).toDouble() / 1024.0;
    };
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            memory.residentMiB = mib(line);
        else if (line.startsWith("RssAnon:"))
            memory.anonymousMiB = mib(line);
        else if (line.startsWith("RssFile:"))
            memory.fileMiB = mib(line);
        else if (line.startsWith("RssShmem:"))
            memory.sharedMiB = mib(line);
    }
    return memory;
}

// Resident kilobytes per mapping name, from /proc/<pid>/smaps.
void writeMaps(qint64 pid, const QString &path)
{
    QFile smaps(QStringLiteral("/proc/%1/smaps").arg(pid));
    QFile out(path);
    if (!smaps.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return;
    QMap<QByteArray, qint64> sizes;
    QByteArray name;
    const QByteArray all = smaps.readAll();
    // The whole of it beside, for what the sums by name hide (one heap or stack among many).
    QFile whole(path + QStringLiteral(".smaps"));
    if (whole.open(QIODevice::WriteOnly))
        whole.write(all);
    for (const QByteArray &line : all.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 5 && fields[0].contains('-'))
            name = fields.size() >= 6 ? fields.mid(5).join(' ') : QByteArrayLiteral("[anon]");
        else if (line.startsWith("Rss:"))
            sizes[name] += fields.value(1).toLongLong();
    }
    for (auto it = sizes.cbegin(); it != sizes.cend(); ++it)
        out.write(QByteArray::number(it.value()) + '\t' + it.key() + '\n');
}

QString commandOf(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll()).trimmed() : QString();
}

// The process named quorvel at or below `pid` (a wrapper runs it as its child).
qint64 programBelow(qint64 pid)
{
    if (commandOf(pid) == QLatin1String("quorvel"))
        return pid;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 child = entry.toLongLong(&number);
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(child));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // pid (comm) state ppid ...: the command may hold spaces, the last ')' ends it.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1).toLongLong() == pid) {
            if (const qint64 found = programBelow(child))
                return found;
        }
    }
    return 0;
}

// The processor time the program has used so far, in clock ticks; -1 when it is gone.
qint64 processorTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // The command name may hold spaces: the fields are counted from its closing parenthesis.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    // utime and stime are fields 14 and 15 of the whole line, 12 and 13 after the name.
    return fields.size() > 12 ? fields.at(11).toLongLong() + fields.at(12).toLongLong() : -1;
}

// Waits until the program has used under 3 % of one processor over a whole second: its
// recognition and other work after a capture has ended. False after `limit`.
bool waitUntilQuiet(qint64 pid, std::chrono::milliseconds limit)
{
    const double ticksPerSecond = double(sysconf(_SC_CLK_TCK));
    QElapsedTimer timer;
    timer.start();
    QList<qint64> ticks; // one every 200 ms
    while (timer.elapsed() <= limit.count()) {
        const qint64 now = processorTicks(pid);
        if (now < 0)
            return false;
        ticks.push_back(now);
        if (ticks.size() > 6)
            ticks.pop_front();
        if (ticks.size() == 6 && double(ticks.back() - ticks.front()) <= 0.03 * ticksPerSecond)
            return true;
        QThread::msleep(200);
    }
    return false;
}

// Waits for `condition`, looking every 20 ms, for up to `limit`.
bool waitFor(const std::function<bool()> &condition, std::chrono::milliseconds limit)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > limit.count())
            return false;
        QThread::msleep(20);
    }
    return true;
}

struct ProgramWindow
{
    Window id = 0;
    QRect geometry;
    bool overrideRedirect = false;
    QString title;
};

class Desktop
{
public:
    Desktop()
        : m_display(XOpenDisplay(nullptr))
    { }
    ~Desktop()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    bool isOpen() const { return m_display != nullptr; }

    // The program's windows on screen, at any depth (the tray icon lives in trayer's panel).
    QList<ProgramWindow> programWindows() const
    {
        QList<ProgramWindow> found;
        collect(DefaultRootWindow(m_display), &found);
        return found;
    }

    std::optional<ProgramWindow> trayIcon() const
    {
        for (const ProgramWindow &window : programWindows()) {
            if (window.geometry.width() <= 64 && window.geometry.top() < 24)
                return window;
        }
        return std::nullopt;
    }

    std::optional<ProgramWindow> overlay() const
    {
        for (const ProgramWindow &window : programWindows()) {
            if (window.geometry.size() == QSize(1920, 1080))
                return window;
        }
        return std::nullopt;
    }

    std::optional<ProgramWindow> titled(const QString &title) const
    {
        for (const ProgramWindow &window : programWindows()) {
            if (window.title == title)
                return window;
        }
        return std::nullopt;
    }

    void click(QPoint at)
    {
        XTestFakeMotionEvent(m_display, -1, at.x(), at.y(), CurrentTime);
        XTestFakeButtonEvent(m_display, 1, True, CurrentTime);
        XTestFakeButtonEvent(m_display, 1, False, 20);
        XSync(m_display, False);
    }

    // A drag with the left button, in a few moves, as a hand makes it.
    void drag(QPoint from, QPoint to)
    {
        XTestFakeMotionEvent(m_display, -1, from.x(), from.y(), CurrentTime);
        XTestFakeButtonEvent(m_display, 1, True, 20);
        for (int step = 1; step <= 8; ++step) {
            const QPoint at = from + (to - from) * step / 8;
            XTestFakeMotionEvent(m_display, -1, at.x(), at.y(), 15);
        }
        XTestFakeButtonEvent(m_display, 1, False, 20);
        XSync(m_display, False);
    }

    void park(QPoint at)
    {
        XTestFakeMotionEvent(m_display, -1, at.x(), at.y(), CurrentTime);
        XSync(m_display, False);
    }

    // What a window manager does for a click on a window's title: raised and given the keyboard.
    void focus(Window window)
    {
        XRaiseWindow(m_display, window);
        XSetInputFocus(m_display, window, RevertToParent, CurrentTime);
        XSync(m_display, False);
    }

private:
    void collect(Window window, QList<ProgramWindow> *found) const
    {
        Window root, parent, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(m_display, window, &root, &parent, &children, &count))
            return;
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes attributes {};
            if (!XGetWindowAttributes(m_display, children[i], &attributes))
                continue;
            XClassHint hint {};
            bool ours = false;
            if (XGetClassHint(m_display, children[i], &hint)) {
                ours = qstrcmp(hint.res_class, "quorvel") == 0;
                XFree(hint.res_name);
                XFree(hint.res_class);
            }
            if (ours && attributes.map_state == IsViewable) {
                int x = 0, y = 0;
                Window child = 0;
                XTranslateCoordinates(
                    m_display, children[i], DefaultRootWindow(m_display), 0, 0, &x, &y, &child);
                ProgramWindow item;
                item.id = children[i];
                item.geometry = QRect(x, y, attributes.width, attributes.height);
                item.overrideRedirect = attributes.override_redirect;
                char *name = nullptr;
                if (XFetchName(m_display, children[i], &name) && name) {
                    item.title = QString::fromUtf8(name);
                    XFree(name);
                }
                found->append(item);
            }
            if (attributes.map_state == IsViewable)
                collect(children[i], found);
        }
        if (children)
            XFree(children);
    }

    Display *m_display = nullptr;
};

class Session
{
public:
    // `beforeStart` runs once the program's folders are set, before it starts.
    bool start(QString *problem, const std::function<void()> &beforeStart = {})
    {
        for (const char *name : { "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME" }) {
            const QString folder = m_home.filePath(QString::fromLatin1(name));
            QDir().mkpath(folder);
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            qputenv(name, folder.toLocal8Bit());
        }
        m_notes = m_home.filePath(QStringLiteral("notes"));
        QDir().mkpath(m_notes);
        // Set up as after the first run: a capture folder, the scrolling introduction seen and
        // Control Scrolling asked for once.
        {
            std::shared_ptr<DefaultsStore> defaults = SettingsDefaultsStore::openSettingsOrStandard();
            AppSettings settings;
            settings.setupComplete = true;
            settings.onboardingStep = 4;
            settings.hasRunTestCapture = true;
            settings.defaultFolder = FolderBookmark::make(QUrl::fromLocalFile(m_notes));
            settings.microphoneDeviceUID = QStringLiteral("mic");
            AppSettingsStore(defaults).save(settings);
            defaults->setBoolean(ScrollingCaptureFlow::introductionKey, true);
            defaults->setBoolean(PermissionController::postEventRequestedKey, true);
        }
        if (beforeStart)
            beforeStart();
        QString program = qEnvironmentVariable("DOVRIN_BENCH_PROGRAM", QStringLiteral(DOVRIN_QUORVEL_PATH));
        QStringList arguments;
        const QStringList wrapper
            = qEnvironmentVariable("DOVRIN_BENCH_WRAPPER").split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (!wrapper.isEmpty()) {
            arguments = wrapper.mid(1) + QStringList { program };
            program = wrapper.first();
        }
        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
        m_process.start(program, arguments);
        if (!m_process.waitForStarted()) {
            *problem = QStringLiteral("quorvel did not start");
            return false;
        }
        if (!waitFor([&] { return (m_pid = programBelow(m_process.processId())) != 0; }, 10s)
            || !waitFor([&] { return m_desktop.trayIcon().has_value(); }, 30s)) {
            *problem = QStringLiteral("the tray icon did not appear");
            return false;
        }
        return true;
    }

    ~Session()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(m_pid ? m_pid : m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(60000))
            m_process.kill();
        m_process.waitForFinished();
    }

    Memory memory() const { return memoryOf(m_pid); }
    qint64 pid() const { return m_pid; }
    void kill()
    {
        ::kill(pid_t(m_pid), SIGKILL);
        m_process.waitForFinished(120000);
    }
    Desktop &desktop() { return m_desktop; }

    // Drags `region` on the overlay once it is up.
    bool select(const QRect &region)
    {
        if (!waitFor([&] { return m_desktop.overlay().has_value(); }, 20s))
            return false;
        // The overlay reads the pointer from its first press on: a moment for it to take it.
        QThread::msleep(300);
        m_desktop.drag(region.topLeft(), region.bottomRight() + QPoint(1, 1));
        return true;
    }

    void type(const QList<unsigned long> &modifiers, unsigned long key) { m_keyboard.chord(modifiers, key); }

    bool startRegionCapture(const QRect &region)
    {
        m_keyboard.chord({ XK_Alt_L, XK_Shift_L }, XK_c);
        return select(region);
    }

    // Through the tray menu: its second command is "Capture Scrolling Region…".
    bool startScrollingCapture(const QRect &region) { return chooseFromTray(2) && select(region); }

    // The tray menu's entry `downs` steps from its top, chosen with Return.
    bool chooseFromTray(int downs)
    {
        const std::optional<ProgramWindow> icon = m_desktop.trayIcon();
        if (!icon)
            return false;
        const int before = int(m_desktop.programWindows().size());
        m_desktop.click(icon->geometry.center());
        if (!waitFor([&] { return int(m_desktop.programWindows().size()) > before; }, 5s))
            return false;
        QThread::msleep(200);
        for (int step = 0; step < downs; ++step)
            m_keyboard.chord({}, XK_Down);
        m_keyboard.chord({}, XK_Return);
        return true;
    }

    // The recordings of the sessions so far.
    int recordings() const { return int(QDir(m_notes).entryList({ QStringLiteral("*_you.m4a") }).size()); }

    // The draft once it holds recognized text, and is not `previous`.
    std::optional<CaptureDraft> recognizedDraft(const QUuid &previous, std::chrono::milliseconds limit)
    {
        const QString folder = AppPaths::dataDirectory();
        std::optional<CaptureDraft> found;
        waitFor(
            [&] {
                if (!QFile::exists(folder + QLatin1Char('/') + EncryptedDraftStore::draftFileName))
                    return false;
                try {
                    if (m_key.isEmpty())
                        m_key = DraftKeyStore::loadOrCreate(folder);
                    const std::optional<CaptureDraft> draft = EncryptedDraftStore(folder, m_key).load();
                    if (draft && draft->id != previous && draft->recognizedText
                        && !draft->recognizedText->isEmpty())
                        found = draft;
                } catch (...) {
                    // Being written: looked at again.
                }
                return found.has_value();
            },
            limit);
        return found;
    }

    // Ctrl+S in the review window; true once the note is written and the draft gone. Typed again
    // when a window that came up meanwhile took the keys.
    bool save()
    {
        const int notes = int(QDir(m_notes).entryList({ QStringLiteral("*.md") }).size());
        const QString draft
            = AppPaths::dataDirectory() + QLatin1Char('/') + EncryptedDraftStore::draftFileName;
        const auto saved = [&] {
            return int(QDir(m_notes).entryList({ QStringLiteral("*.md") }).size()) > notes
                && !QFile::exists(draft);
        };
        for (int attempt = 0; attempt < 4; ++attempt) {
            std::optional<ProgramWindow> review;
            if (!waitFor(
                    [&] { return (review = m_desktop.titled(QStringLiteral("Review Capture"))).has_value(); },
                    30s))
                return false;
            m_desktop.focus(review->id);
            m_keyboard.chord({ XK_Control_L }, XK_s);
            if (waitFor(saved, 30s))
                return true;
        }
        return false;
    }

private:
    QTemporaryDir m_home;
    QString m_notes;
    QProcess m_process;
    qint64 m_pid = 0;
    Desktop m_desktop;
    SyntheticKeyboard m_keyboard;
    QByteArray m_key;
};

void settleFor(std::chrono::seconds time)
{
    QThread::sleep(static_cast<unsigned long>(time.count()));
}

// Takes a figure of the program's memory; false when the run is to stop here.
bool report(benchmark::State &state, Session &session, const char *key, const char *label)
{
    const Memory memory = session.memory();
    if (const QString maps = qEnvironmentVariable("DOVRIN_BENCH_MAPS"); !maps.isEmpty())
        writeMaps(session.pid(), maps + QLatin1Char('/') + QLatin1String(key) + QLatin1String(".tsv"));
    state.counters[std::string(key) + "_rss_MiB"] = memory.residentMiB;
    state.counters[std::string(key) + "_anon_MiB"] = memory.anonymousMiB;
    std::printf("%-44s %7.1f MiB resident %7.1f anonymous %6.1f files %6.1f shared\n", label,
        memory.residentMiB, memory.anonymousMiB, memory.fileMiB, memory.sharedMiB);
    std::fflush(stdout);
    if (qEnvironmentVariable("DOVRIN_BENCH_STOP_AT") != QLatin1String(key))
        return true;
    session.kill();
    state.SkipWithError("stopped where asked");
    return false;
}

ScrollTargetProcess *startTarget(ScrollTargetProcess &target)
{
    const QString lines = QString::number(screens * viewport / lineHeight);
    return target.start({ "--lines", lines, "--size", "1000x1000", "--pos", "20,40" }) ? &target : nullptr;
}

void memoryAcrossCaptures(benchmark::State &state)
{
    for (auto _ : state) {
        Session session;
        QString problem;
        if (!session.start(&problem)) {
            state.SkipWithError(qPrintable(problem));
            return;
        }
        settleFor(10s);
        if (!report(state, session, "idle", "idle"))
            return;

        QUuid last;
        {
            ScrollTargetProcess target;
            if (!startTarget(target) || !session.startRegionCapture(target.region())) {
                state.SkipWithError("the region capture did not start");
                return;
            }
            const std::optional<CaptureDraft> draft = session.recognizedDraft(last, 120s);
            if (!draft || draft->scrollingCapture) {
                state.SkipWithError("the region capture was not recognized");
                return;
            }
            last = draft->id;
            if (!report(state, session, "region", "region capture recognized"))
                return;
            session.desktop().park(QPoint(1900, 1060));
            settleFor(60s);
            if (!report(state, session, "region_60s", "  60 s later, review open"))
                return;
            if (!session.save()) {
                state.SkipWithError("the region capture could not be saved");
                return;
            }
            settleFor(60s);
            if (!report(state, session, "region_saved_60s", "  60 s after it was saved"))
                return;
        }
        const auto scrolling = [&](const char *key, const char *label) -> bool {
            ScrollTargetProcess target;
            if (!startTarget(target) || !session.startScrollingCapture(target.region())) {
                state.SkipWithError("the scrolling capture did not start");
                return false;
            }
            const std::optional<CaptureDraft> draft = session.recognizedDraft(last, 300s);
            if (!draft || !draft->scrollingCapture) {
                state.SkipWithError("the scrolling capture was not recognized");
                return false;
            }
            last = draft->id;
            if (!report(state, session, key, label))
                return false;
            // The text is in the draft while the last tiles may still be read: the figure that
            // compares one capture with another is taken once the program is quiet.
            if (!waitUntilQuiet(session.pid(), 120s)) {
                state.SkipWithError("the program did not become quiet after a scrolling capture");
                return false;
            }
            const std::string quietKey = std::string(key) + "_quiet";
            const QByteArray quietLabel = QByteArrayLiteral("    once quiet");
            if (!report(state, session, quietKey.c_str(), quietLabel.constData()))
                return false;
            session.desktop().park(QPoint(1900, 1060));
            return true;
        };
        if (!scrolling("scrolling", "10-screen scrolling capture recognized"))
            return;
        settleFor(60s);
        if (!report(state, session, "scrolling_60s", "  60 s later, review open"))
            return;
        if (!session.save()) {
            state.SkipWithError("the scrolling capture could not be saved");
            return;
        }
        settleFor(60s);
        if (!report(state, session, "scrolling_saved_60s", "  60 s after it was saved"))
            return;
        for (int i = 1; i <= capturesInARow; ++i) {
            const std::string key = "row" + std::to_string(i);
            const QByteArray label = QByteArrayLiteral("  scrolling capture ") + QByteArray::number(i)
                + " of " + QByteArray::number(capturesInARow) + " recognized";
            if (!scrolling(key.c_str(), label.constData()))
                return;
            if (!session.save()) {
                state.SkipWithError("a scrolling capture could not be saved");
                return;
            }
        }
        const std::string first = "row1_quiet_rss_MiB";
        const std::string tenth = "row" + std::to_string(capturesInARow) + "_quiet_rss_MiB";
        std::printf("  the last once quiet, over the first       %+7.1f MiB resident\n",
            double(state.counters[tenth]) - double(state.counters[first]));
        settleFor(60s);
        report(state, session, "row_60s", "  60 s after the last one was saved");
    }
}

// A draft of an unsaved region capture whose text is `megabytes` long, as a run that ended before
// its save left it.
void storeLargeDraft(int megabytes)
{
    QString text;
    text.reserve(qsizetype(megabytes) * 1024 * 1024 + 100);
    for (int line = 0; text.size() < qsizetype(megabytes) * 1024 * 1024; ++line)
        text += QStringLiteral("Line %1 of a long note: the quick brown fox jumps over the lazy dog.\n")
                    .arg(line, 7, 10, QLatin1Char('0'));
    QImage image(400, 300, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const CaptureDraft draft(QUuid::createUuid(), now, now, now,
        ImageNormalization::pngData(image).value_or(QByteArray()), QStringLiteral("Line"), text,
        { QStringLiteral("en") }, {}, QStringLiteral("Editor"), std::nullopt, QStringLiteral("A long note"),
        QString(), {}, std::nullopt, std::nullopt);
    const QString folder = AppPaths::dataDirectory();
    EncryptedDraftStore(folder, DraftKeyStore::loadOrCreate(folder)).save(draft);
}

void memoryOfALargeNote(benchmark::State &state)
{
    for (auto _ : state) {
        Session session;
        QString problem;
        if (!session.start(&problem, [] { storeLargeDraft(100); })) {
            state.SkipWithError(qPrintable(problem));
            return;
        }
        std::optional<ProgramWindow> recovery;
        if (!waitFor(
                [&] {
                    return (recovery = session.desktop().titled(QStringLiteral("Unfinished Capture")))
                        .has_value();
                },
                120s)) {
            state.SkipWithError("the draft was not offered");
            return;
        }
        if (!waitUntilQuiet(session.pid(), 120s)
            || !report(state, session, "large_offered", "100 MB draft offered"))
            return;
        session.desktop().focus(recovery->id);
        session.type({}, XK_Return);
        if (!waitFor(
                [&] { return session.desktop().titled(QStringLiteral("Review Capture")).has_value(); }, 300s)
            || !waitUntilQuiet(session.pid(), 300s)) {
            state.SkipWithError("the review did not open");
            return;
        }
        if (!report(state, session, "large_review", "  its review open, once quiet"))
            return;
        if (!session.save()) {
            state.SkipWithError("the note could not be saved");
            return;
        }
        if (!report(state, session, "large_saved", "  saved"))
            return;
        session.desktop().park(QPoint(1900, 1060));
        settleFor(60s);
        report(state, session, "large_saved_60s", "  60 s after it was saved");
    }
}

// Plays `wave` into `sink` of `server` until stopped.
bool play(QProcess &player, const PrivatePulseAudio &server, const QString &sink, const QString &wave)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PULSE_SERVER"), QString::fromLocal8Bit(server.address()));
    player.setProcessEnvironment(environment);
    player.start(QStringLiteral("paplay"), { QStringLiteral("-d"), sink, wave });
    return player.waitForStarted();
}

void memoryOfAnAudioReview(benchmark::State &state)
{
    for (auto _ : state) {
        PrivatePulseAudio server;
        QTemporaryDir speech;
        const QString others = speech.filePath(QStringLiteral("others.wav"));
        const QString you = speech.filePath(QStringLiteral("you.wav"));
        if (!server.isRunning()
            || QProcess::execute(QStringLiteral("espeak-ng"),
                   { QStringLiteral("-w"), others,
                       QStringLiteral("The quarterly figures are in. Sales rose in the north and fell in the "
                                      "south. We will meet again on Friday to decide the budget for next "
                                      "year, and the team will send the report before then.") })
                != 0
            || QProcess::execute(QStringLiteral("espeak-ng"),
                   { QStringLiteral("-v"), QStringLiteral("en-us"), QStringLiteral("-w"), you,
                       QStringLiteral("Good morning. I read the figures last night and I have a few "
                                      "questions about the south. Can we look at the numbers for each "
                                      "month before Friday?") })
                != 0) {
            state.SkipWithError("the sound server or espeak-ng did not start");
            return;
        }
        qputenv("PULSE_SERVER", server.address());
        Session session;
        QString problem;
        if (!session.start(&problem)) {
            state.SkipWithError(qPrintable(problem));
            return;
        }
        settleFor(10s);
        if (!report(state, session, "audio_idle", "idle"))
            return;
        // Not recording, the menu reads: heading, Capture Region, Capture Scrolling Region, Record
        // Audio; recording: heading, Stop Recording.
        if (!session.chooseFromTray(3) || !waitFor([&] { return session.recordings() == 1; }, 30s)) {
            state.SkipWithError("the recording did not begin");
            return;
        }
        QProcess speaker, voice;
        if (!play(speaker, server, QStringLiteral("spk"), others)
            || !play(voice, server, QStringLiteral("micsrc"), you)) {
            state.SkipWithError("paplay did not start");
            return;
        }
        settleFor(20s);
        if (!session.chooseFromTray(1)
            || !waitFor(
                [&] { return session.desktop().titled(QStringLiteral("Review Audio")).has_value(); }, 120s)
            || !waitUntilQuiet(session.pid(), 300s)) {
            state.SkipWithError("the audio review did not open");
            return;
        }
        if (!report(state, session, "audio_review", "20 s session, transcripts shown"))
            return;
        session.desktop().park(QPoint(1900, 1060));
        settleFor(60s);
        if (!report(state, session, "audio_review_60s", "  60 s later, review open"))
            return;
        std::printf("  over idle                                  %+7.1f MiB resident %+7.1f anonymous\n",
            double(state.counters["audio_review_60s_rss_MiB"]) - double(state.counters["audio_idle_rss_MiB"]),
            double(state.counters["audio_review_60s_anon_MiB"])
                - double(state.counters["audio_idle_anon_MiB"]));
        qunsetenv("PULSE_SERVER");
    }
}

} // namespace

int main(int argc, char **argv)
{
    PrivateXvfb xvfb;
    if (!xvfb.isRunning()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    qputenv("DISPLAY", xvfb.display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QProcess trayer;
    trayer.start(QStringLiteral("trayer"),
        { "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "200", "--height", "24" });
    {
        QApplication app(argc, argv);
        if (qEnvironmentVariableIsEmpty("DOVRIN_TEST_BINARY_DIR"))
            qputenv("DOVRIN_TEST_BINARY_DIR",
                (app.applicationDirPath() + QStringLiteral("/../Tests")).toLocal8Bit());
        benchmark::Initialize(&argc, argv);
        benchmark::RegisterBenchmark("memory_across_captures", memoryAcrossCaptures)
            ->Iterations(1)
            ->Unit(benchmark::kSecond);
        benchmark::RegisterBenchmark("memory_of_an_audio_review", memoryOfAnAudioReview)
            ->Iterations(1)
            ->Unit(benchmark::kSecond);
        benchmark::RegisterBenchmark("memory_of_a_large_note", memoryOfALargeNote)
            ->Iterations(1)
            ->Unit(benchmark::kSecond);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    trayer.kill();
    trayer.waitForFinished();
    return 0;
}

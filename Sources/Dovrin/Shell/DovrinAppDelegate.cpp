#include "Shell/DovrinAppDelegate.h"

#include "Audio/AudioTapSpike.h"
#include "Services/AppRelaunch.h"
#include "Services/WindowActivation.h"
#include "Shell/UnixSignalRelay.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QSessionManager>

#include <csignal>
#include <cstdio>

DovrinAppDelegate::DovrinAppDelegate(const QStringList &arguments, QObject *parent)
    : QObject(parent)
    , m_audioSpike(isAudioSpike(arguments))
    , m_terminate([] { QCoreApplication::exit(0); })
{ }

DovrinAppDelegate::~DovrinAppDelegate()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool DovrinAppDelegate::isAudioSpike(const QStringList &arguments)
{
    return arguments.mid(1).contains(QStringLiteral("--audio-spike"));
}

void DovrinAppDelegate::install()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || m_signals)
        return;
    app->installEventFilter(this);
    // A terminal that hangs up or a session that ends sends SIGHUP; SIGQUIT would dump core. Each ends
    // like SIGTERM: the open recording and review are written first.
    m_signals = new UnixSignalRelay({ SIGINT, SIGTERM, SIGHUP, SIGQUIT }, this);
    connect(m_signals, &UnixSignalRelay::received, this, &DovrinAppDelegate::terminateOnSignal);
    if (auto *gui = qobject_cast<QGuiApplication *>(app)) {
        gui->setQuitOnLastWindowClosed(false);
        connect(gui, &QGuiApplication::commitDataRequest, this, &DovrinAppDelegate::commitSessionData,
            Qt::DirectConnection);
    }
}

void DovrinAppDelegate::applicationDidFinishLaunching()
{
    if (!m_audioSpike) {
        WindowActivation::installIfNeeded();
        return;
    }
    if (!AudioTapSpike::isSupported()) {
        const QByteArray line = AudioTapSpike::unsupportedLine().toUtf8() + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        requestTermination();
        return;
    }
    AudioTapSpike::hideRestoredWindows();
    m_selfTest = Task<void>::spawn(QCoreApplication::instance(), [] { return AudioTapSpike::runAndExit(); });
}

void DovrinAppDelegate::applicationDidBecomeActive()
{
    if (!m_audioSpike && WindowActivation::hasUserFacingWindow())
        WindowActivation::reveal(nullptr);
}

void DovrinAppDelegate::requestTermination()
{
    // A request while the gate runs joins that attempt: the gate runs once.
    if (isTerminationPending())
        return;
    if (m_approved) {
        m_terminate();
        return;
    }
    m_quitAttempt = runQuitPath();
}

void DovrinAppDelegate::terminateOnSignal()
{
    // A service manager or a session sends it, and follows with SIGKILL if the program stays; a
    // refusal would only let the kill take what the gate could have kept.
    m_signalled = true;
    if (!m_signalLimit)
        m_signalLimit = m_clock->schedule(signalEndLimit, [this] { end(); });
    requestTermination();
}

void DovrinAppDelegate::end()
{
    if (m_ended)
        return;
    m_ended = true;
    m_approved = true;
    m_signalLimit.reset();
    m_terminate();
}

bool DovrinAppDelegate::isTerminationPending() const
{
    return m_quitAttempt.isValid() && !m_quitAttempt.isFinished();
}

Task<void> DovrinAppDelegate::runQuitPath()
{
    bool mayQuit = true;
    if (m_gate) {
        try {
            mayQuit = co_await m_gate();
        } catch (...) {
            mayQuit = false;
        }
    }
    if (!mayQuit) {
        AppRelaunch::cancelPending();
        if (m_signalled)
            end();
        else
            emit terminationCancelled();
        co_return;
    }
    AppRelaunch::commitPendingIfNeeded();
    m_approved = true;
    emit terminationApproved();
    end();
}

bool DovrinAppDelegate::answerSessionEnd()
{
    // Never waited for here: a loop run inside this call would resume every suspended task in it.
    const bool mayEnd = m_approved || !m_openWork || !m_openWork();
    requestTermination();
    return mayEnd;
}

void DovrinAppDelegate::commitSessionData(QSessionManager &manager)
{
    // What the gate keeps (an open review, a recording) must not go with the session: its end is
    // cancelled where the session manager allows it, and the gate finishes on the event loop.
    if (!answerSessionEnd() && manager.allowsInteraction()) {
        manager.cancel();
        manager.release();
    }
}

bool DovrinAppDelegate::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::Quit && watched == QCoreApplication::instance() && !m_approved) {
        event->ignore();
        requestTermination();
        return true;
    }
    // Ctrl+Q quits from every window and menu of the program, and only here.
    if ((type == QEvent::ShortcutOverride || type == QEvent::KeyPress) && watched->isWidgetType()) {
        auto *key = static_cast<QKeyEvent *>(event);
        constexpr Qt::KeyboardModifiers considered
            = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
        if (key->key() != Qt::Key_Q || (key->modifiers() & considered) != Qt::ControlModifier)
            return false;
        event->accept();
        if (type == QEvent::KeyPress && !key->isAutoRepeat())
            requestTermination();
        return true;
    }
    return false;
}

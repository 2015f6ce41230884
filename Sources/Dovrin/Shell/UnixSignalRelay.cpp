#include "Shell/UnixSignalRelay.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// [0] is written by the handler, [1] read by the event loop.
int s_pipe[2] = { -1, -1 };

extern "C" void relaySignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe drops the byte: the quit path is already on its way.
    [[maybe_unused]] const ssize_t written = ::write(s_pipe[0], &byte, 1);
    errno = savedErrno;
}

} // namespace

UnixSignalRelay::UnixSignalRelay(std::initializer_list<int> signalNumbers, QObject *parent)
    : QObject(parent)
{
    if (s_pipe[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, s_pipe) != 0) {
        s_pipe[0] = s_pipe[1] = -1;
        return;
    }
    for (const int number : signalNumbers) {
        struct sigaction action
        {
        };
        action.sa_handler = relaySignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        if (::sigaction(number, &action, nullptr) == 0)
            m_signals << number;
    }
    m_notifier = new QSocketNotifier(s_pipe[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UnixSignalRelay::drain);
}

UnixSignalRelay::~UnixSignalRelay()
{
    if (!m_notifier)
        return;
    for (const int number : std::as_const(m_signals))
        ::signal(number, SIG_DFL);
    delete m_notifier;
    ::close(s_pipe[0]);
    ::close(s_pipe[1]);
    s_pipe[0] = s_pipe[1] = -1;
}

void UnixSignalRelay::drain()
{
    unsigned char bytes[16];
    ssize_t count;
    while ((count = ::read(s_pipe[1], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < count; ++i)
            emit received(bytes[i]);
    }
}

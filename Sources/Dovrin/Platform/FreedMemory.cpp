#include "Platform/FreedMemory.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <malloc.h>

namespace FreedMemory {

namespace {
std::atomic<int> returned { 0 };
} // namespace

void keepHeapsSmall()
{
    // Set explicitly, neither moves with what is freed later. Stills, viewports and tiles are
    // megabytes each; the engines' blocks are far smaller and churn in place. A heap a thread has
    // finished with keeps the free space at its end up to the trim threshold plus the top pad: a
    // trim gives back free blocks, but not that, and every thread that ever allocated (some
    // twenty after a capture) has a heap of its own.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024);
    mallopt(M_TOP_PAD, 0);
}

void returnToSystem()
{
    malloc_trim(0);
    ++returned;
}

int returnedCount()
{
    return returned;
}

void returnToSystemSoon()
{
    static std::atomic<bool> queued { false };
    if (queued.exchange(true))
        return;
    QThreadPool::globalInstance()->start([] {
        // Blocks freed while this one runs get a run of their own.
        queued = false;
        returnToSystem();
    });
}

void returnToSystemAfter(std::chrono::milliseconds delay)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    // The timer lives on the main thread, whose loop runs for as long as the program does.
    QMetaObject::invokeMethod(
        app,
        [app, delay] {
            static QPointer<QTimer> timer;
            if (!timer) {
                timer = new QTimer(app);
                timer->setSingleShot(true);
                QObject::connect(timer, &QTimer::timeout, [] { returnToSystemSoon(); });
            }
            timer->start(delay);
        },
        Qt::QueuedConnection);
}

} // namespace FreedMemory

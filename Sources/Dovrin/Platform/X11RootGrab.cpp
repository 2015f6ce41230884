#include "Platform/X11RootGrab.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <vector>

namespace {

// Errors of our own requests end in a flag instead of ending the process; set only around them.
std::atomic<bool> failed { false };

int noteError(Display *, XErrorEvent *)
{
    failed = true;
    return 0;
}

// Viewports are megabytes each and a scrolling capture reads several a step: buffers the frames
// have let go of are read into again instead of being handed back to the system and faulted in anew
// each time. Spare ones go when the reader does.
class BufferPool
{
public:
    uchar *take(size_t bytes)
    {
        {
            const std::lock_guard lock(m_mutex);
            if (bytes == m_bytes && !m_spare.empty()) {
                uchar *buffer = m_spare.back();
                m_spare.pop_back();
                return buffer;
            }
        }
        return static_cast<uchar *>(std::malloc(bytes));
    }

    void giveBack(uchar *buffer, size_t bytes)
    {
        {
            const std::lock_guard lock(m_mutex);
            if (m_open && bytes != m_bytes) {
                for (uchar *spare : m_spare)
                    std::free(spare);
                m_spare.clear();
                m_bytes = bytes;
            }
            if (m_open && m_spare.size() < maximumSpare) {
                m_spare.push_back(buffer);
                return;
            }
        }
        std::free(buffer);
    }

    void close()
    {
        const std::lock_guard lock(m_mutex);
        m_open = false;
        for (uchar *spare : m_spare)
            std::free(spare);
        m_spare.clear();
    }

private:
    static constexpr size_t maximumSpare = 4;
    std::mutex m_mutex;
    size_t m_bytes = 0;
    std::vector<uchar *> m_spare;
    bool m_open = true;
};

// What an image read into a pool's buffer needs to give it back, from whichever thread drops it.
struct Lease
{
    std::shared_ptr<BufferPool> pool;
    uchar *buffer;
    size_t bytes;
};

void endLease(void *info)
{
    const auto *lease = static_cast<Lease *>(info);
    lease->pool->giveBack(lease->buffer, lease->bytes);
    delete lease;
}

} // namespace

struct X11RootGrab::Private
{
    std::shared_ptr<BufferPool> pool = std::make_shared<BufferPool>();
    Display *display = nullptr;
    Visual *visual = nullptr;
    int depth = 0;
    QRect root;
    bool available = false;
    XImage *image = nullptr;
    XShmSegmentInfo segment {};
    bool attached = false;

    void release()
    {
        if (attached) {
            XShmDetach(display, &segment);
            XSync(display, False);
            attached = false;
        }
        if (image) {
            XDestroyImage(image); // frees the XImage only: data points into the segment
            image = nullptr;
        }
        if (segment.shmaddr && segment.shmaddr != reinterpret_cast<char *>(-1))
            shmdt(segment.shmaddr);
        segment = {};
    }

    // A segment for `size`, attached on the server; false when it cannot be had.
    bool prepare(const QSize &size)
    {
        if (image && image->width == size.width() && image->height == size.height())
            return true;
        release();
        image = XShmCreateImage(display, visual, unsigned(depth), ZPixmap, nullptr, &segment,
            unsigned(size.width()), unsigned(size.height()));
        if (!image)
            return false;
        segment.shmid
            = shmget(IPC_PRIVATE, size_t(image->bytes_per_line) * size_t(image->height), IPC_CREAT | 0600);
        if (segment.shmid < 0) {
            release();
            return false;
        }
        segment.shmaddr = image->data = static_cast<char *>(shmat(segment.shmid, nullptr, 0));
        segment.readOnly = False;
        if (segment.shmaddr == reinterpret_cast<char *>(-1)) {
            shmctl(segment.shmid, IPC_RMID, nullptr);
            segment.shmaddr = nullptr;
            release();
            return false;
        }
        failed = false;
        XErrorHandler previous = XSetErrorHandler(noteError);
        XShmAttach(display, &segment);
        XSync(display, False);
        XSetErrorHandler(previous);
        // Marked for removal at once: it goes when both sides have let go of it.
        shmctl(segment.shmid, IPC_RMID, nullptr);
        attached = !failed.load();
        if (!attached)
            release();
        return attached;
    }
};

X11RootGrab::X11RootGrab()
    : d(std::make_unique<Private>())
{
    d->display = XOpenDisplay(nullptr);
    if (!d->display)
        return;
    const int screen = DefaultScreen(d->display);
    d->visual = DefaultVisual(d->display, screen);
    d->depth = DefaultDepth(d->display, screen);
    d->root = QRect(0, 0, DisplayWidth(d->display, screen), DisplayHeight(d->display, screen));
    // Pixels as RGB32 lays them out: 32 bits, red above green above blue.
    XImage *probe = XShmQueryExtension(d->display)
        ? XShmCreateImage(d->display, d->visual, unsigned(d->depth), ZPixmap, nullptr, &d->segment, 1, 1)
        : nullptr;
    d->available = probe && probe->bits_per_pixel == 32 && probe->byte_order == LSBFirst
        && probe->red_mask == 0xff0000 && probe->green_mask == 0xff00 && probe->blue_mask == 0xff;
    if (probe)
        XDestroyImage(probe);
    d->segment = {};
}

X11RootGrab::~X11RootGrab()
{
    d->pool->close();
    if (!d->display)
        return;
    d->release();
    XCloseDisplay(d->display);
}

bool X11RootGrab::isAvailable() const
{
    return d->available;
}

QImage X11RootGrab::grab(const QRect &rootRect)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!d->available || rootRect.isEmpty() || !d->root.contains(rootRect) || !d->prepare(rootRect.size()))
        return {};
    failed = false;
    XErrorHandler previous = XSetErrorHandler(noteError);
    const Bool read = XShmGetImage(
        d->display, DefaultRootWindow(d->display), d->image, rootRect.x(), rootRect.y(), AllPlanes);
    XSync(d->display, False);
    XSetErrorHandler(previous);
    if (!read || failed)
        return {};
    const size_t rowBytes = size_t(rootRect.width()) * 4;
    const size_t bytes = rowBytes * size_t(rootRect.height());
    uchar *buffer = d->pool->take(bytes);
    if (!buffer)
        return {};
    for (int y = 0; y < rootRect.height(); ++y)
        std::memcpy(buffer + size_t(y) * rowBytes,
            d->image->data + size_t(y) * size_t(d->image->bytes_per_line), rowBytes);
    auto *lease = new Lease { d->pool, buffer, bytes };
    QImage pixels(buffer, rootRect.width(), rootRect.height(), qsizetype(rowBytes), QImage::Format_RGB32,
        endLease, lease);
    if (pixels.isNull()) {
        endLease(lease);
        return {};
    }
    return pixels;
}

#include "Platform/X11RootGrab.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <atomic>
#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>

namespace {

// Errors of our own requests end in a flag instead of ending the process; set only around them.
std::atomic<bool> failed { false };

int noteError(Display *, XErrorEvent *)
{
    failed = true;
    return 0;
}

} // namespace

struct X11RootGrab::Private
{
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
    QImage pixels(rootRect.size(), QImage::Format_RGB32);
    if (pixels.isNull())
        return {};
    const size_t rowBytes = size_t(rootRect.width()) * 4;
    for (int y = 0; y < rootRect.height(); ++y)
        std::memcpy(
            pixels.scanLine(y), d->image->data + size_t(y) * size_t(d->image->bytes_per_line), rowBytes);
    return pixels;
}

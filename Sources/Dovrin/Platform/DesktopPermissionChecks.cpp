#include "DesktopPermissionChecks.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QtConcurrent>

#include <pulse/pulseaudio.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace DesktopPermissionChecks {

namespace {

struct FreeDeleter
{
    void operator()(void *p) const { std::free(p); }
};

struct ProbeState
{
    bool done = false;
    bool ready = false;
    bool hasInput = false;
};

void onSourceInfo(pa_context *, const pa_source_info *info, int eol, void *userdata)
{
    auto *state = static_cast<ProbeState *>(userdata);
    if (eol != 0) {
        state->done = true;
        return;
    }
    if (info && info->monitor_of_sink == PA_INVALID_INDEX)
        state->hasInput = true;
}

void onContextState(pa_context *context, void *userdata)
{
    auto *state = static_cast<ProbeState *>(userdata);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        state->ready = true;
        if (pa_operation *operation = pa_context_get_source_info_list(context, onSourceInfo, state))
            pa_operation_unref(operation);
        else
            state->done = true;
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        state->done = true;
        break;
    default:
        break;
    }
}

} // namespace

xcb_connection_t *qtConnection()
{
    auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    auto *x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    return connection && !xcb_connection_has_error(connection) ? connection : nullptr;
}

bool canReadScreen(xcb_connection_t *connection)
{
    if (!connection)
        return false;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    std::unique_ptr<xcb_get_image_reply_t, FreeDeleter> image(xcb_get_image_reply(
        connection, xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, 0, 0, 1, 1, ~0u), nullptr));
    return image && xcb_get_image_data_length(image.get()) > 0;
}

bool canPostEvents(xcb_connection_t *connection)
{
    if (!connection)
        return false;
    const char *name = "XTEST";
    std::unique_ptr<xcb_query_extension_reply_t, FreeDeleter> reply(xcb_query_extension_reply(
        connection, xcb_query_extension(connection, uint16_t(std::strlen(name)), name), nullptr));
    return reply && reply->present;
}

SoundInput probeSoundInput(int timeoutMs)
{
    pa_mainloop *loop = pa_mainloop_new();
    if (!loop)
        return SoundInput::unreachable;
    pa_context *context = pa_context_new(pa_mainloop_get_api(loop), "Quorvel microphone check");
    ProbeState state;
    if (context) {
        pa_context_set_state_callback(context, onContextState, &state);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            state.done = true;
        QElapsedTimer timer;
        timer.start();
        while (!state.done && timer.elapsed() < timeoutMs) {
            if (pa_mainloop_prepare(loop, 50 * 1000) < 0 || pa_mainloop_poll(loop) < 0
                || pa_mainloop_dispatch(loop) < 0)
                break;
        }
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
    if (!state.ready || !state.done)
        return SoundInput::unreachable;
    return state.hasInput ? SoundInput::available : SoundInput::missing;
}

MicrophoneAuthorizationFact microphoneFact(SoundInput input)
{
    switch (input) {
    case SoundInput::available:
        return MicrophoneAuthorizationFact::authorized;
    case SoundInput::missing:
        return MicrophoneAuthorizationFact::denied;
    case SoundInput::unreachable:
        break;
    }
    return MicrophoneAuthorizationFact::unknown;
}

} // namespace DesktopPermissionChecks

MicrophoneAvailability &MicrophoneAvailability::shared()
{
    static QPointer<MicrophoneAvailability> instance;
    if (!instance)
        instance = new MicrophoneAvailability(QCoreApplication::instance());
    return *instance;
}

MicrophoneAuthorizationFact MicrophoneAvailability::current()
{
    refresh();
    return m_fact;
}

void MicrophoneAvailability::refresh()
{
    if (m_probing)
        return;
    m_probing = true;
    auto *watcher = new QFutureWatcher<DesktopPermissionChecks::SoundInput>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        watcher->deleteLater();
        m_probing = false;
        const MicrophoneAuthorizationFact fact = DesktopPermissionChecks::microphoneFact(watcher->result());
        if (fact != m_fact) {
            m_fact = fact;
            emit changed();
        }
    });
    watcher->setFuture(QtConcurrent::run([] { return DesktopPermissionChecks::probeSoundInput(); }));
}

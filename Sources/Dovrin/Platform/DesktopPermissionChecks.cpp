#include "Platform/DesktopPermissionChecks.h"

#include "Platform/AudioInputHardware.h"
#include "Platform/PulseConnection.h"
#include "Platform/XcbReply.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QtConcurrent>

#include <xcb/xcb.h>

#include <cstring>

namespace DesktopPermissionChecks {

namespace {

QNativeInterface::QX11Application *qtX11()
{
    auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    return app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
}

} // namespace

xcb_connection_t *qtConnection()
{
    QNativeInterface::QX11Application *x11 = qtX11();
    // Offscreen hands back the interface with no connection behind it.
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    return connection && !xcb_connection_has_error(connection) ? connection : nullptr;
}

_XDisplay *qtDisplay()
{
    return qtConnection() ? qtX11()->display() : nullptr;
}

bool canReadScreen(xcb_connection_t *connection)
{
    if (!connection)
        return false;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    XcbReply<xcb_get_image_reply_t> image(xcb_get_image_reply(
        connection, xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, 0, 0, 1, 1, ~0u), nullptr));
    return image && xcb_get_image_data_length(image.get()) > 0;
}

bool canPostEvents(xcb_connection_t *connection)
{
    if (!connection)
        return false;
    const char *name = "XTEST";
    XcbReply<xcb_query_extension_reply_t> reply(xcb_query_extension_reply(
        connection, xcb_query_extension(connection, uint16_t(std::strlen(name)), name), nullptr));
    return reply && reply->present;
}

SoundInput probeSoundInput(std::chrono::milliseconds timeout)
{
    if (!PulseConnection::serverConfigured())
        return SoundInput::unreachable;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const auto connection = PulseConnection::open(QStringLiteral("Quorvel microphone check"), timeout);
    const auto left
        = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const auto sources = connection ? connection->sources(left) : std::nullopt;
    if (!sources)
        return SoundInput::unreachable;
    return AudioInputHardware::devicesFrom(*sources).isEmpty() ? SoundInput::missing : SoundInput::available;
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

Task<MicrophoneAuthorizationFact> checkMicrophone()
{
    // Made before the co_await: g++ 12 destroys a lambda written inside a co_await expression twice.
    QFuture<SoundInput> probe = QtConcurrent::run([] { return probeSoundInput(); });
    co_return microphoneFact(co_await std::move(probe));
}

} // namespace DesktopPermissionChecks

#include "Platform/PulseConnection.h"

#include "Documents/AppPaths.h"

#include <QByteArray>
#include <QFileInfo>

#include <unistd.h>

#include <utility>

namespace {

QString text(const char *value)
{
    return value ? QString::fromUtf8(value) : QString();
}

pa_usec_t microseconds(std::chrono::milliseconds timeout)
{
    return pa_usec_t(std::max<qint64>(0, timeout.count())) * PA_USEC_PER_MSEC;
}

PulseSinkInfo toSink(const pa_sink_info &raw)
{
    return PulseSinkInfo { raw.index, text(raw.name), text(raw.description), text(raw.monitor_source_name) };
}

PulseSourceInfo toSource(const pa_source_info &raw)
{
    PulseSourceInfo info;
    info.index = raw.index;
    info.name = text(raw.name);
    info.description = text(raw.description);
    info.monitorOfSink = raw.monitor_of_sink;
    info.properties = pulseProperties(raw.proplist);
    info.channels = raw.sample_spec.channels;
    info.rate = raw.sample_spec.rate;
    return info;
}

PulsePlaybackInfo toPlayback(const pa_sink_input_info &raw)
{
    return PulsePlaybackInfo { raw.index, raw.sink, raw.client, pulseProperties(raw.proplist),
        raw.corked != 0 };
}

PulseClientInfo toClient(const pa_client_info &raw)
{
    return PulseClientInfo { raw.index, pulseProperties(raw.proplist) };
}

// One list query of the server: every item converted, or none when the query fails or times out.
template <typename Info, typename Raw>
std::optional<QList<Info>> listQuery(PulseConnection &connection,
    pa_operation *(*start)(pa_context *, void (*)(pa_context *, const Raw *, int, void *), void *),
    Info (*convert)(const Raw &), std::chrono::milliseconds timeout)
{
    struct Query
    {
        PulseConnection *connection;
        Info (*convert)(const Raw &);
        QList<Info> items;
        bool failed = false;
    } query { &connection, convert, {} };
    PulseConnection::Locker lock(connection);
    if (!connection.isReady() || connection.isAborted())
        return std::nullopt;
    pa_operation *operation = start(
        connection.context(),
        [](pa_context *, const Raw *raw, int eol, void *userdata) {
            auto *query = static_cast<Query *>(userdata);
            if (eol < 0)
                query->failed = true;
            else if (raw)
                query->items.append(query->convert(*raw));
            query->connection->signal();
        },
        &query);
    if (!connection.finish(operation, timeout) || query.failed)
        return std::nullopt;
    return query.items;
}

} // namespace

bool PulseSourceInfo::isMonitor() const
{
    return monitorOfSink != PA_INVALID_INDEX
        || properties.value(QStringLiteral(PA_PROP_DEVICE_CLASS)) == QLatin1String("monitor");
}

PulseProperties pulseProperties(const pa_proplist *list)
{
    PulseProperties properties;
    if (!list)
        return properties;
    void *state = nullptr;
    while (const char *key = pa_proplist_iterate(list, &state)) {
        if (const char *value = pa_proplist_gets(list, key))
            properties.insert(QString::fromUtf8(key), QString::fromUtf8(value));
    }
    return properties;
}

pa_buffer_attr recordBufferAttributes(std::chrono::milliseconds fragment, const pa_sample_spec &spec)
{
    pa_buffer_attr attributes;
    attributes.maxlength = uint32_t(-1);
    attributes.tlength = uint32_t(-1);
    attributes.prebuf = uint32_t(-1);
    attributes.minreq = uint32_t(-1);
    attributes.fragsize = uint32_t(pa_usec_to_bytes(microseconds(fragment), &spec));
    return attributes;
}

bool PulseConnection::serverConfigured()
{
    if (!qEnvironmentVariableIsEmpty("PULSE_SERVER"))
        return true;
    QStringList sockets;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        sockets << runtime + QStringLiteral("/pulse/native");
    sockets << QStringLiteral("/run/user/%1/pulse/native").arg(::getuid())
            << QStringLiteral("/var/run/pulse/native");
    for (const QString &socket : sockets) {
        if (QFileInfo(socket).exists())
            return true;
    }
    return false;
}

std::unique_ptr<PulseConnection> PulseConnection::open(
    const QString &clientName, std::chrono::milliseconds timeout, int *error)
{
    auto fail = [error](int code) -> std::unique_ptr<PulseConnection> {
        if (error)
            *error = code;
        return nullptr;
    };
    std::unique_ptr<PulseConnection> connection(new PulseConnection);
    connection->m_mainloop = pa_threaded_mainloop_new();
    if (!connection->m_mainloop)
        return fail(PA_ERR_INTERNAL);

    pa_proplist *properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Quorvel");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, AppPaths::bundleIdentifier);
    connection->m_context = pa_context_new_with_proplist(
        pa_threaded_mainloop_get_api(connection->m_mainloop), clientName.toUtf8().constData(), properties);
    pa_proplist_free(properties);
    if (!connection->m_context)
        return fail(PA_ERR_INTERNAL);
    pa_context_set_state_callback(
        connection->m_context, &PulseConnection::contextStateChanged, connection.get());

    if (pa_threaded_mainloop_start(connection->m_mainloop) < 0)
        return fail(PA_ERR_INTERNAL);

    Locker lock(*connection);
    // No daemon is ever started for us: an absent server is a failure, not a reason to spawn one.
    if (pa_context_connect(connection->m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return fail(pa_context_errno(connection->m_context));
    const bool ready = connection->waitUntil(
        [&] {
            const pa_context_state_t state = pa_context_get_state(connection->m_context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        },
        timeout);
    if (!ready || !connection->isReady()) {
        const int code = pa_context_errno(connection->m_context);
        return fail(code != PA_OK ? code : PA_ERR_TIMEOUT);
    }
    return connection;
}

PulseConnection::~PulseConnection()
{
    if (!m_mainloop)
        return;
    if (m_context) {
        pa_threaded_mainloop_lock(m_mainloop);
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
        pa_threaded_mainloop_unlock(m_mainloop);
    }
    pa_threaded_mainloop_stop(m_mainloop);
    pa_threaded_mainloop_free(m_mainloop);
}

void PulseConnection::abort()
{
    m_aborted.store(true, std::memory_order_release);
    if (!m_mainloop)
        return;
    Locker lock(*this);
    signal();
}

bool PulseConnection::isReady() const
{
    return m_context && pa_context_get_state(m_context) == PA_CONTEXT_READY;
}

int PulseConnection::lastError() const
{
    return m_context ? pa_context_errno(m_context) : PA_ERR_INTERNAL;
}

bool PulseConnection::inMainloopThread() const
{
    return m_mainloop && pa_threaded_mainloop_in_thread(m_mainloop);
}

PulseConnection::Locker::Locker(const PulseConnection &connection)
{
    if (connection.m_mainloop && !pa_threaded_mainloop_in_thread(connection.m_mainloop)) {
        m_mainloop = connection.m_mainloop;
        pa_threaded_mainloop_lock(m_mainloop);
    }
}

PulseConnection::Locker::~Locker()
{
    if (m_mainloop)
        pa_threaded_mainloop_unlock(m_mainloop);
}

void PulseConnection::contextStateChanged(pa_context *context, void *self)
{
    auto *connection = static_cast<PulseConnection *>(self);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY)
        connection->m_wasReady = true;
    if (!PA_CONTEXT_IS_GOOD(state) && std::exchange(connection->m_wasReady, false) && !connection->isAborted()
        && connection->m_lostHandler)
        connection->m_lostHandler();
    connection->signal();
}

void PulseConnection::subscriptionEvent(
    pa_context *, pa_subscription_event_type_t type, uint32_t index, void *self)
{
    auto *connection = static_cast<PulseConnection *>(self);
    if (connection->m_eventHandler)
        connection->m_eventHandler(type, index);
}

bool PulseConnection::waitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout)
{
    if (done())
        return true;
    if (inMainloopThread())
        return false; // a wait here would never be woken
    struct Alarm
    {
        PulseConnection *connection;
        bool rang = false;
    } alarm { this };
    pa_time_event *event = pa_context_rttime_new(
        m_context, pa_rtclock_now() + microseconds(timeout),
        [](pa_mainloop_api *, pa_time_event *, const struct timeval *, void *userdata) {
            auto *alarm = static_cast<Alarm *>(userdata);
            alarm->rang = true;
            alarm->connection->signal();
        },
        &alarm);
    while (!done() && !alarm.rang && !isAborted() && PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)))
        pa_threaded_mainloop_wait(m_mainloop);
    if (event)
        pa_threaded_mainloop_get_api(m_mainloop)->time_free(event);
    return done();
}

bool PulseConnection::finish(pa_operation *operation, std::chrono::milliseconds timeout)
{
    if (!operation)
        return false;
    const bool ended = waitUntil(
        [operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, timeout);
    const bool succeeded = ended && pa_operation_get_state(operation) == PA_OPERATION_DONE;
    if (!ended)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return succeeded;
}

std::optional<PulseServerInfo> PulseConnection::serverInfo()
{
    struct Query
    {
        PulseConnection *connection;
        std::optional<PulseServerInfo> info;
    } query { this, std::nullopt };
    Locker lock(*this);
    if (!isReady() || isAborted())
        return std::nullopt;
    pa_operation *operation = pa_context_get_server_info(
        m_context,
        [](pa_context *, const pa_server_info *raw, void *userdata) {
            auto *query = static_cast<Query *>(userdata);
            if (raw)
                query->info
                    = PulseServerInfo { text(raw->default_sink_name), text(raw->default_source_name) };
            query->connection->signal();
        },
        &query);
    if (!finish(operation))
        return std::nullopt;
    return query.info;
}

std::optional<QList<PulseSinkInfo>> PulseConnection::sinks(std::chrono::milliseconds timeout)
{
    return listQuery(*this, &pa_context_get_sink_info_list, &toSink, timeout);
}

std::optional<QList<PulseSourceInfo>> PulseConnection::sources(std::chrono::milliseconds timeout)
{
    return listQuery(*this, &pa_context_get_source_info_list, &toSource, timeout);
}

std::optional<QList<PulsePlaybackInfo>> PulseConnection::playbacks(std::chrono::milliseconds timeout)
{
    return listQuery(*this, &pa_context_get_sink_input_info_list, &toPlayback, timeout);
}

std::optional<QList<PulseClientInfo>> PulseConnection::clients(std::chrono::milliseconds timeout)
{
    return listQuery(*this, &pa_context_get_client_info_list, &toClient, timeout);
}

bool PulseConnection::subscribe(pa_subscription_mask_t mask, EventHandler handler)
{
    Locker lock(*this);
    if (!isReady())
        return false;
    m_eventHandler = std::move(handler);
    pa_context_set_subscribe_callback(m_context, &PulseConnection::subscriptionEvent, this);
    struct Query
    {
        PulseConnection *connection;
    } query { this };
    pa_operation *operation = pa_context_subscribe(
        m_context, mask,
        [](pa_context *, int, void *userdata) { static_cast<Query *>(userdata)->connection->signal(); },
        &query);
    return finish(operation);
}

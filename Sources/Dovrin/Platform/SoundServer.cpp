#include "Platform/SoundServer.h"

#include "Platform/PulseConnection.h"

#include <algorithm>
#include <cstdlib>

static_assert(int(SoundServer::ok) == int(PA_OK) && int(SoundServer::noEntity) == int(PA_ERR_NOENTITY)
    && int(SoundServer::connectionRefused) == int(PA_ERR_CONNECTIONREFUSED)
    && int(SoundServer::timeout) == int(PA_ERR_TIMEOUT) && int(SoundServer::unknown) == int(PA_ERR_UNKNOWN));

namespace SoundServer {

namespace {

constexpr std::chrono::milliseconds peerQueryTimeout { 500 };

std::unique_ptr<PulseConnection> connectForPeers()
{
    if (!PulseConnection::serverConfigured())
        return nullptr;
    return PulseConnection::open(QStringLiteral("Quorvel apps"), peerQueryTimeout);
}

qint64 processIDOf(const PulseProperties &properties)
{
    return properties.value(QStringLiteral(PA_PROP_APPLICATION_PROCESS_ID)).toLongLong();
}

} // namespace

qint32 errorCodeLimit()
{
    return PA_ERR_MAX;
}

QString errorText(qint32 code)
{
    return QString::fromUtf8(pa_strerror(code));
}

bool isConfigured()
{
    return PulseConnection::serverConfigured();
}

bool supportsApplicationMonitors()
{
    // Per-application monitor streams and the client API this uses are there from 1.0 on.
    const char *version = pa_get_library_version();
    return version && std::atoi(version) >= 1;
}

QString sampleFormatName(AudioStreamFormat::SampleType type)
{
    const pa_sample_format_t format
        = type == AudioStreamFormat::SampleType::int16 ? PA_SAMPLE_S16NE : PA_SAMPLE_FLOAT32NE;
    return QString::fromLatin1(pa_sample_format_to_string(format));
}

QList<Peer> clients()
{
    QList<Peer> peers;
    if (auto connection = connectForPeers()) {
        for (const PulseClientInfo &client : connection->clients().value_or(QList<PulseClientInfo> {}))
            peers.append(Peer { processIDOf(client.properties), client.properties, false });
    }
    return peers;
}

QList<Peer> playbacks()
{
    QList<Peer> peers;
    if (auto connection = connectForPeers()) {
        for (const PulsePlaybackInfo &playback :
            connection->playbacks().value_or(QList<PulsePlaybackInfo> {}))
            peers.append(Peer { processIDOf(playback.properties), playback.properties, playback.corked });
    }
    return peers;
}

DefaultOutput defaultOutput()
{
    DefaultOutput output;
    int error = PA_OK;
    const auto connection
        = PulseConnection::open(QStringLiteral("Quorvel self-test"), PulseConnection::defaultTimeout, &error);
    if (!connection) {
        output.connectError = error != PA_OK ? error : PA_ERR_UNKNOWN;
        return output;
    }
    const auto server = connection->serverInfo();
    const auto sinks = connection->sinks();
    if (!server || !sinks) {
        const int code = connection->lastError();
        output.lookupError = code != PA_OK ? code : PA_ERR_UNKNOWN;
        return output;
    }
    const auto sink = std::find_if(sinks->cbegin(), sinks->cend(),
        [&](const PulseSinkInfo &candidate) { return candidate.name == server->defaultSinkName; });
    if (server->defaultSinkName.isEmpty() || sink == sinks->cend()) {
        output.lookupError = PA_ERR_NOENTITY;
        return output;
    }
    output.sinkIndex = sink->index;
    output.sinkName = sink->name;
    output.monitorSourceName = sink->monitorSourceName;
    for (const PulseSourceInfo &source : connection->sources().value_or(QList<PulseSourceInfo> {})) {
        if (source.name == sink->monitorSourceName)
            output.monitorIndex = source.index;
    }
    return output;
}

std::optional<quint32> newestRecordStream(quint32 sourceIndex, qint64 pid)
{
    const auto connection = PulseConnection::open(QStringLiteral("Quorvel self-test"));
    if (!connection)
        return std::nullopt;
    struct Query
    {
        PulseConnection *connection;
        quint32 source;
        QString pid;
        std::optional<quint32> found;
    } query { connection.get(), sourceIndex, QString::number(pid), std::nullopt };
    PulseConnection::Locker lock(*connection);
    if (!connection->isReady())
        return std::nullopt;
    pa_operation *operation = pa_context_get_source_output_info_list(
        connection->context(),
        [](pa_context *, const pa_source_output_info *info, int, void *userdata) {
            auto *query = static_cast<Query *>(userdata);
            if (info && info->source == query->source
                && pulseProperties(info->proplist).value(QStringLiteral(PA_PROP_APPLICATION_PROCESS_ID))
                    == query->pid)
                query->found = std::max(query->found.value_or(0), info->index);
            query->connection->signal();
        },
        &query);
    if (!connection->finish(operation))
        return std::nullopt;
    return query.found;
}

} // namespace SoundServer

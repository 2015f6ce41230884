#pragma once

// What the rest of the program may ask of the sound server, in our own types: whether one is set up,
// who plays on it, the default output, and the server's error codes as text. Each question opens a
// short-lived connection of its own and blocks briefly: never on the main thread.

#include "Platform/AudioCaptureEngine.h"

#include <QList>
#include <QMap>
#include <QString>

#include <optional>

namespace SoundServer {

using Properties = QMap<QString, QString>;

// The server's error codes the program names itself; any other code comes from the server.
enum ErrorCode : qint32 {
    ok = 0,
    noEntity = 5,
    connectionRefused = 6,
    timeout = 8,
    unknown = 20,
};
// One past the largest error code the client library knows.
qint32 errorCodeLimit();
// The library's own sentence for a code.
QString errorText(qint32 code);

// Whether a sound server is set up for this session at all (an address in the environment or the
// client configuration, or a native socket in the runtime folder). Makes no connection.
bool isConfigured();
// The client library is new enough for per-application monitor streams.
bool supportsApplicationMonitors();
// The server's name for a sample type ("float32le", "s16le").
QString sampleFormatName(AudioStreamFormat::SampleType type);

// A client of the server, or one of their playback streams, as it describes itself.
struct Peer
{
    qint64 processID = 0; // 0 when it does not say
    Properties properties;
    bool corked = false; // a playback stream its application paused
};
// Every client / playback stream now; empty when the server cannot be asked.
QList<Peer> clients();
QList<Peer> playbacks();

// The default output and the monitor source that records it.
struct DefaultOutput
{
    qint32 connectError = ok;
    qint32 lookupError = ok;
    std::optional<quint32> sinkIndex;
    QString sinkName;
    QString monitorSourceName;
    std::optional<quint32> monitorIndex;
    bool found() const { return connectError == ok && lookupError == ok && sinkIndex.has_value(); }
};
DefaultOutput defaultOutput();
// The server's index of the newest record stream of process `pid` on source `sourceIndex`.
std::optional<quint32> newestRecordStream(quint32 sourceIndex, qint64 pid);

} // namespace SoundServer

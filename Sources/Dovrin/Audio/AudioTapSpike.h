#pragma once

// The audio self-test, run instead of the normal start with "--audio-spike": it checks once whether
// the program can hear sound in its two ways, the whole system (the default output's monitor) and one
// application (a monitor of that application's own playback streams), while it plays two short sounds
// of its own. It writes "audio-spike-report.json", prints a verdict line and the report's path to
// standard error, and quits. It records no audio files and changes no settings.

#include "Async/Task.h"
#include "Platform/AudioCaptureEngine.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>

namespace AudioTapSpike {

// What one run found; both outputs are made from it. Statuses are sound-server error codes: 0 is
// success, -1 means the step was not reached.
struct Report
{
    std::optional<QString> bundleID;
    bool sandbox = false;
    QString sandboxHome;
    qint32 createTapStatus = -1;
    quint32 tapID = 0;
    std::optional<QString> tapUID;
    quint32 outputDeviceID = 0;
    std::optional<QString> outputDeviceUID;
    qint32 createAggregateStatus = -1;
    quint32 aggregateID = 0;
    qint32 createIOProcStatus = -1;
    qint32 startStatus = -1;
    double sampleRate = 0;
    quint32 channels = 0;
    QString formatID;
    quint32 bitsPerChannel = 0;
    qint64 callbacks = 0;
    qint64 nonzeroBuffers = 0;
    quint64 frames = 0;
    float peak = 0;
    qint64 inputBuffers = 0;
    qint64 outputBuffers = 0;
    qint64 lastInputBytes = 0;
    qint64 lastOutputBytes = 0;
    bool heardAudio = false;
    std::optional<QString> failure;
    qint64 sckCallbacks = 0;
    qint64 sckNonzero = 0;
    float sckPeak = 0;
    bool sckHeard = false;
    std::optional<QString> sckFailure;

    // Every key of the report file; absent texts are null. Absent when a number is not finite, which
    // JSON cannot hold.
    std::optional<QJsonObject> json() const;
    // "AUDIO SPIKE OK: …" or "AUDIO SPIKE FAIL: …".
    QString rendered() const;
    // The report file: the JSON pretty-printed with sorted keys, or the verdict line when there is no JSON.
    QByteArray fileContents() const;
};

// What one probe received; fed from the capture thread, read after the measurement.
class SampleStats
{
public:
    enum class Role { input, output };

    struct Counts
    {
        qint64 callbacks = 0;
        qint64 nonzeroBuffers = 0;
        quint64 frames = 0;
        float peak = 0;
        qint64 inputBuffers = 0;
        qint64 outputBuffers = 0;
        qint64 lastInputBytes = 0;
        qint64 lastOutputBytes = 0;
    };

    // One delivery; each plane counts as one buffer. An absent buffer changes nothing.
    void ingest(const AudioPCMBuffer *buffer, Role role);
    Counts counts() const;

private:
    mutable std::mutex m_lock;
    Counts m_counts;
};

// Where the report went, or why it went nowhere.
struct ReportWrite
{
    std::optional<QString> path;
    QString problem;
};

inline constexpr char reportFileName[] = "audio-spike-report.json";

// A sound-server status as text: "OK" for 0, "-1 (not attempted)", else the code and its meaning.
QString statusName(qint32 status);
// Shortest text that reads back as the same value; whole values keep one decimal ("48000.0").
QString decimalText(double value);
QString decimalText(float value);

// The sound-server client is new enough for the per-application monitors.
bool isSupported();
// What is printed instead of running when it is not.
QString unsupportedLine();

// Hides every window the program has open, so the test runs without them.
void hideRestoredWindows();

// The folders tried for the report, in order: the app's data folder, then one in the temporary folder.
QStringList reportFolders();
// Writes the report file atomically into the first folder that takes it.
ReportWrite writeReport(const QByteArray &contents);
// The two lines printed at the end: the verdict, then "report=" with the path or why it was not written.
QByteArray resultLines(const Report &report, const ReportWrite &write);

// The whole test: both probes, the report, the lines on standard error, then the application quits.
// Needs the application object; bind the task to it.
Task<void> runAndExit();

} // namespace AudioTapSpike

#include "Audio/AudioTapSpike.h"

#include "Audio/AudioCaptureApps.h"
#include "Documents/AppPaths.h"
#include "Documents/AtomicFile.h"
#include "Platform/ProcessTapEngine.h"
#include "Platform/SoundPlayer.h"
#include "Platform/SoundServer.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QWidget>
#include <QWindow>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>
#include <unistd.h>

namespace AudioTapSpike {

namespace {

using namespace std::chrono_literals;

constexpr auto measurement = 6s;
constexpr int soundRepeats = 8;
constexpr auto soundInterval = 650ms;
constexpr int soundRate = SoundPlayer::sampleRate;
constexpr float soundPeak = 0.4f;

template <typename Number> QString shortestText(Number value)
{
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    QString result = QString::fromLatin1(text, end - text);
    if (std::isfinite(value) && !result.contains(QLatin1Char('.')) && !result.contains(QLatin1Char('e')))
        result += QStringLiteral(".0");
    return result;
}

// A float as JSON holds it: the double that prints like the float does (0.3, not 0.30000001192092896).
double jsonNumber(float value)
{
    return shortestText(value).toDouble();
}

QJsonValue jsonText(const std::optional<QString> &text)
{
    return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

// --- Sounds the program plays itself -------------------------------------------------------------

// A struck tone: quick attack, exponential decay, a second partial; scaled to soundPeak.
std::vector<float> struckTone(double frequency, double overtone, double decaySeconds, double seconds)
{
    std::vector<float> samples(std::size_t(seconds * soundRate));
    float loudest = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = double(i) / soundRate;
        const double envelope = (1 - std::exp(-t / 0.003)) * std::exp(-t / decaySeconds);
        const double wave
            = std::sin(2 * M_PI * frequency * t) + 0.4 * std::sin(2 * M_PI * frequency * overtone * t);
        samples[i] = float(envelope * wave);
        loudest = std::max(loudest, std::fabs(samples[i]));
    }
    for (float &sample : samples)
        sample *= soundPeak / loudest;
    return samples;
}

// For the whole-system probe: a high chime.
std::vector<float> chime()
{
    return struckTone(1318.5, 2.0, 0.09, 0.3);
}

// For the application probe: a low knock.
std::vector<float> knock()
{
    return struckTone(392.0, 1.5, 0.06, 0.25);
}

// Plays `sound` soundRepeats times, soundInterval apart, until done or cancelled.
Task<void> playSound(
    [[maybe_unused]] QObject *context, std::shared_ptr<SoundPlayer> player, std::vector<float> sound)
{
    auto opening = QtConcurrent::run([player] { return player->open(); });
    const bool opened = co_await opening;
    if (!opened)
        co_return;
    TaskClock &clock = TaskClock::system();
    for (int i = 0; i < soundRepeats; ++i) {
        const TaskClock::TimePoint played = clock.now();
        player->play(sound);
        const auto wait = std::max<TaskClock::Duration>(
            TaskClock::Duration::zero(), played + soundInterval - clock.now());
        if (!co_await sleepFor(clock, wait))
            break;
    }
}

// --- Steps against the sound server (each blocks briefly: run off the main thread) ---------------

struct StepOutcome
{
    bool ok = false;
    AudioStreamFormat format;
    qint32 code = SoundServer::ok; // the server's error code when the step failed
    QString text;
    std::optional<ProcessTapEngine::EngineError> kind;
};

StepOutcome failedStep(const std::exception &error)
{
    using Kind = ProcessTapEngine::EngineError;
    StepOutcome outcome;
    outcome.code = SoundServer::unknown;
    outcome.text = QString::fromUtf8(error.what());
    const auto *capture = dynamic_cast<const AudioCaptureError *>(&error);
    if (!capture)
        return outcome;
    outcome.text = capture->description();
    // The engine's failures carry the server's code in their text; find which one this is.
    for (const Kind kind : { Kind::createTap, Kind::createAggregate, Kind::createIOProc, Kind::start }) {
        for (int code = SoundServer::ok + 1; code < SoundServer::errorCodeLimit(); ++code) {
            if (ProcessTapEngine::error(kind, code).description() == outcome.text) {
                outcome.kind = kind;
                outcome.code = code;
                return outcome;
            }
        }
    }
    if (ProcessTapEngine::error(Kind::format).description() == outcome.text) {
        outcome.kind = Kind::format; // the default output or the engine went away
        outcome.code = SoundServer::noEntity;
    }
    return outcome;
}

StepOutcome prepareEngine(OthersCaptureEngine &engine, const std::optional<ProcessTapRequest> &request)
{
    try {
        StepOutcome outcome;
        outcome.format = engine.prepare(request);
        outcome.ok = true;
        return outcome;
    } catch (const std::exception &error) {
        return failedStep(error);
    }
}

StepOutcome activateEngine(OthersCaptureEngine &engine, const std::shared_ptr<SampleStats> &stats)
{
    try {
        engine.activate(
            [stats](const AudioPCMBuffer &buffer) { stats->ingest(&buffer, SampleStats::Role::input); });
        StepOutcome outcome;
        outcome.ok = true;
        return outcome;
    } catch (const std::exception &error) {
        return failedStep(error);
    }
}

ProcessTapRequest ownPlaybackRequest()
{
    ProcessTapRequest request;
    request.primaryBundleID = AudioCaptureApps::ownBundleID();
    request.processIDs = { QCoreApplication::applicationPid() };
    request.bundleIDs = { AudioCaptureApps::ownBundleID() };
    request.displayName = QStringLiteral("Quorvel");
    return request;
}

bool looksSandboxed()
{
    return QFileInfo::exists(QStringLiteral("/.flatpak-info")) || !qEnvironmentVariableIsEmpty("FLATPAK_ID")
        || !qEnvironmentVariableIsEmpty("SNAP");
}

Task<void> stopEngine(std::shared_ptr<ProcessTapEngine> engine)
{
    auto stopping = QtConcurrent::run([engine] { engine->stop(); });
    co_await stopping;
}

// --- The application probe: this program's own playback through the per-application path --------

struct ApplicationProbe
{
    SampleStats::Counts counts;
    std::optional<QString> failure;
};

Task<ApplicationProbe> probeOwnPlayback(QObject *context)
{
    ApplicationProbe result;
    auto engine = std::make_shared<ProcessTapEngine>();
    auto stats = std::make_shared<SampleStats>();
    const ProcessTapRequest request = ownPlaybackRequest();
    auto preparing = QtConcurrent::run([engine, request] { return prepareEngine(*engine, request); });
    const StepOutcome prepared = co_await preparing;
    if (!prepared.ok) {
        result.failure = prepared.text;
        co_return result;
    }
    auto activating = QtConcurrent::run([engine, stats] { return activateEngine(*engine, stats); });
    const StepOutcome activated = co_await activating;
    if (!activated.ok) {
        result.failure = activated.text;
        Task<void> stopping = stopEngine(engine);
        co_await stopping;
        co_return result;
    }

    Task<void> sound = playSound(context, std::make_shared<SoundPlayer>(), knock());
    if (!co_await sleepFor(measurement)) {
        result.failure = QStringLiteral("the measurement was interrupted");
        co_return result;
    }
    sound.cancel();
    Task<void> stopping = stopEngine(engine);
    co_await stopping;

    result.counts = stats->counts();
    if (result.counts.callbacks == 0)
        result.failure = QStringLiteral("no audio sample buffers");
    else if (result.counts.nonzeroBuffers == 0)
        result.failure = QStringLiteral("audio buffers were digital silence");
    co_return result;
}

void apply(Report &report, const ApplicationProbe &probe)
{
    report.sckCallbacks = probe.counts.callbacks;
    report.sckNonzero = probe.counts.nonzeroBuffers;
    report.sckPeak = probe.counts.peak;
    report.sckHeard = report.sckNonzero > 0;
    report.sckFailure = probe.failure;
}

// --- The whole-system probe, then the application probe ------------------------------------------

Task<void> finishWithApplicationProbe(QObject *context, Report *report)
{
    Task<ApplicationProbe> probing = probeOwnPlayback(context);
    const ApplicationProbe probe = co_await probing;
    apply(*report, probe);
}

Task<Report> runProbes(QObject *context)
{
    Report report;
    report.sandboxHome = QDir::homePath();
    report.sandbox = looksSandboxed();
    if (const QString id = QGuiApplication::desktopFileName(); !id.isEmpty())
        report.bundleID = id;

    auto reading = QtConcurrent::run(&SoundServer::defaultOutput);
    const SoundServer::DefaultOutput output = co_await reading;
    if (!output.found()) {
        report.failure = output.connectError == SoundServer::ok
            ? QStringLiteral("default sink lookup failed: ") + statusName(output.lookupError)
            : QStringLiteral("sound server connection failed: ") + statusName(output.connectError);
        Task<void> last = finishWithApplicationProbe(context, &report);
        co_await last;
        co_return report;
    }
    report.outputDeviceID = *output.sinkIndex;
    report.outputDeviceUID = output.sinkName;
    if (!output.monitorSourceName.isEmpty())
        report.tapUID = output.monitorSourceName;

    auto engine = std::make_shared<ProcessTapEngine>();
    auto preparing = QtConcurrent::run([engine] { return prepareEngine(*engine, std::nullopt); });
    const StepOutcome prepared = co_await preparing;
    report.createTapStatus = prepared.ok ? SoundServer::ok : prepared.code;
    if (!prepared.ok) {
        report.failure
            = QStringLiteral("whole-system capture could not be prepared: ") + statusName(prepared.code);
        Task<void> last = finishWithApplicationProbe(context, &report);
        co_await last;
        co_return report;
    }
    report.tapID = output.monitorIndex.value_or(0);
    report.sampleRate = prepared.format.sampleRate;
    report.channels = quint32(std::max(0, prepared.format.channelCount));
    report.formatID = SoundServer::sampleFormatName(prepared.format.sampleType);
    report.bitsPerChannel = quint32(prepared.format.bytesPerSample() * 8);

    auto stats = std::make_shared<SampleStats>();
    auto activating = QtConcurrent::run([engine, stats] { return activateEngine(*engine, stats); });
    const StepOutcome activated = co_await activating;
    if (!activated.ok) {
        // The record stream and its read callback come into being together; only its start is separate.
        if (activated.kind == ProcessTapEngine::EngineError::start) {
            report.createAggregateStatus = SoundServer::ok;
            report.createIOProcStatus = SoundServer::ok;
            report.startStatus = activated.code;
            report.failure
                = QStringLiteral("monitor record stream could not start: ") + statusName(activated.code);
        } else {
            report.createAggregateStatus = activated.code;
            report.failure
                = QStringLiteral("monitor record stream could not be created: ") + statusName(activated.code);
        }
        Task<void> stopping = stopEngine(engine);
        co_await stopping;
        co_return report;
    }
    report.createAggregateStatus = SoundServer::ok;
    report.createIOProcStatus = SoundServer::ok;
    report.startStatus = SoundServer::ok;
    if (output.monitorIndex) {
        const quint32 monitor = *output.monitorIndex;
        const qint64 pid = QCoreApplication::applicationPid();
        auto finding
            = QtConcurrent::run([monitor, pid] { return SoundServer::newestRecordStream(monitor, pid); });
        report.aggregateID = (co_await finding).value_or(0);
    }

    Task<void> sound = playSound(context, std::make_shared<SoundPlayer>(), chime());
    if (!co_await sleepFor(measurement)) {
        Task<void> stopping = stopEngine(engine);
        co_await stopping;
        report.failure = QStringLiteral("the measurement was interrupted");
        Task<void> last = finishWithApplicationProbe(context, &report);
        co_await last;
        co_return report;
    }
    sound.cancel();
    const SampleStats::Counts counts = stats->counts();
    report.callbacks = counts.callbacks;
    report.nonzeroBuffers = counts.nonzeroBuffers;
    report.frames = counts.frames;
    report.peak = counts.peak;
    report.inputBuffers = counts.inputBuffers;
    report.outputBuffers = counts.outputBuffers;
    report.lastInputBytes = counts.lastInputBytes;
    report.lastOutputBytes = counts.lastOutputBytes;
    if (counts.callbacks == 0)
        report.failure = QStringLiteral("capture callback never fired");
    else if (counts.nonzeroBuffers == 0)
        report.failure = QStringLiteral("callbacks fired but every buffer was digital silence");
    else
        report.heardAudio = true;

    Task<void> stopping = stopEngine(engine);
    co_await stopping;
    Task<void> last = finishWithApplicationProbe(context, &report);
    co_await last;
    co_return report;
}

void writeToStandardError(const QByteArray &text)
{
    const char *cursor = text.constData();
    qsizetype left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, cursor, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        cursor += written;
        left -= written;
    }
}

} // namespace

// --- Report ------------------------------------------------------------------------------------

std::optional<QJsonObject> Report::json() const
{
    if (!std::isfinite(sampleRate) || !std::isfinite(peak) || !std::isfinite(sckPeak))
        return std::nullopt;
    QJsonObject object;
    object.insert(QStringLiteral("bundleID"), jsonText(bundleID));
    object.insert(QStringLiteral("sandbox"), sandbox);
    object.insert(QStringLiteral("sandboxHome"), sandboxHome);
    object.insert(QStringLiteral("createTapStatus"), createTapStatus);
    object.insert(QStringLiteral("createTapStatusName"), statusName(createTapStatus));
    object.insert(QStringLiteral("tapID"), qint64(tapID));
    object.insert(QStringLiteral("tapUID"), jsonText(tapUID));
    object.insert(QStringLiteral("outputDeviceID"), qint64(outputDeviceID));
    object.insert(QStringLiteral("outputDeviceUID"), jsonText(outputDeviceUID));
    object.insert(QStringLiteral("createAggregateStatus"), createAggregateStatus);
    object.insert(QStringLiteral("createAggregateStatusName"), statusName(createAggregateStatus));
    object.insert(QStringLiteral("aggregateID"), qint64(aggregateID));
    object.insert(QStringLiteral("createIOProcStatus"), createIOProcStatus);
    object.insert(QStringLiteral("startStatus"), startStatus);
    object.insert(QStringLiteral("sampleRate"), sampleRate);
    object.insert(QStringLiteral("channels"), qint64(channels));
    object.insert(QStringLiteral("formatID"), formatID);
    object.insert(QStringLiteral("bitsPerChannel"), qint64(bitsPerChannel));
    object.insert(QStringLiteral("callbacks"), callbacks);
    object.insert(QStringLiteral("nonzeroBuffers"), nonzeroBuffers);
    object.insert(QStringLiteral("frames"), qint64(std::min<quint64>(frames, quint64(1) << 53)));
    object.insert(QStringLiteral("peak"), jsonNumber(peak));
    object.insert(QStringLiteral("inputBuffers"), inputBuffers);
    object.insert(QStringLiteral("outputBuffers"), outputBuffers);
    object.insert(QStringLiteral("lastInputBytes"), lastInputBytes);
    object.insert(QStringLiteral("lastOutputBytes"), lastOutputBytes);
    object.insert(QStringLiteral("heardAudio"), heardAudio);
    object.insert(QStringLiteral("failure"), jsonText(failure));
    object.insert(QStringLiteral("sckCallbacks"), sckCallbacks);
    object.insert(QStringLiteral("sckNonzero"), sckNonzero);
    object.insert(QStringLiteral("sckPeak"), jsonNumber(sckPeak));
    object.insert(QStringLiteral("sckHeard"), sckHeard);
    object.insert(QStringLiteral("sckFailure"), jsonText(sckFailure));
    object.insert(QStringLiteral("video"), false);
    return object;
}

QString Report::rendered() const
{
    QStringList failures;
    if (failure)
        failures << *failure;
    if (sckFailure)
        failures << *sckFailure;
    const QString tapWord = heardAudio ? QStringLiteral("tapHeard") : QStringLiteral("tapSilent");
    const QString streamWord = sckHeard ? QStringLiteral("sckHeard") : QStringLiteral("sckSilent");
    if (failures.isEmpty()) {
        return QStringLiteral("AUDIO SPIKE OK: ") + tapWord + QLatin1Char(' ') + streamWord
            + QStringLiteral(" callbacks=") + QString::number(callbacks) + QStringLiteral(" nonzero=")
            + QString::number(nonzeroBuffers) + QStringLiteral(" peak=") + decimalText(peak)
            + QStringLiteral(" sckCallbacks=") + QString::number(sckCallbacks) + QStringLiteral(" sckPeak=")
            + decimalText(sckPeak) + QStringLiteral(" rate=") + decimalText(sampleRate)
            + QStringLiteral(" ch=") + QString::number(channels);
    }
    return QStringLiteral("AUDIO SPIKE FAIL: ") + failures.join(QStringLiteral("; ")) + QLatin1Char(' ')
        + tapWord + QLatin1Char(' ') + streamWord + QStringLiteral(" tap=") + statusName(createTapStatus)
        + QStringLiteral(" callbacks=") + QString::number(callbacks) + QStringLiteral(" peak=")
        + decimalText(peak) + QStringLiteral(" sckCallbacks=") + QString::number(sckCallbacks)
        + QStringLiteral(" sckPeak=") + decimalText(sckPeak);
}

QByteArray Report::fileContents() const
{
    if (const auto object = json())
        return QJsonDocument(*object).toJson(QJsonDocument::Indented);
    return rendered().toUtf8();
}

// --- SampleStats ---------------------------------------------------------------------------------

void SampleStats::ingest(const AudioPCMBuffer *buffer, Role role)
{
    if (!buffer)
        return;
    const AudioStreamFormat &format = buffer->format();
    const bool isFloat = format.sampleType == AudioStreamFormat::SampleType::float32;
    const int bytesPerFrame = format.bytesPerFrameInPlane();
    const int planes = format.planeCount();
    qint64 bytes = 0;
    quint64 frames = 0;
    float peak = 0;
    bool audible = false;
    for (int index = 0; index < planes; ++index) {
        const qint64 size = buffer->planeByteSize();
        const std::byte *data = buffer->plane(index);
        bytes += size;
        if (size <= 0 || !data)
            continue;
        if (isFloat) {
            for (qint64 offset = 0; offset + qint64(sizeof(float)) <= size; offset += qint64(sizeof(float))) {
                float sample;
                std::memcpy(&sample, data + offset, sizeof sample);
                const float magnitude = std::fabs(sample);
                if (magnitude > peak)
                    peak = magnitude;
                if (magnitude > 1e-7f)
                    audible = true;
            }
        } else {
            audible
                = audible || std::any_of(data, data + size, [](std::byte b) { return b != std::byte { 0 }; });
        }
        frames = bytesPerFrame > 0 ? quint64(size / bytesPerFrame) : 0;
    }

    std::lock_guard guard(m_lock);
    if (role == Role::input) {
        m_counts.callbacks += 1;
        m_counts.inputBuffers = planes;
        m_counts.lastInputBytes = bytes;
        m_counts.frames += frames;
    } else {
        m_counts.outputBuffers = planes;
        m_counts.lastOutputBytes = bytes;
    }
    if (audible)
        m_counts.nonzeroBuffers += 1;
    m_counts.peak = std::max(m_counts.peak, peak);
}

SampleStats::Counts SampleStats::counts() const
{
    std::lock_guard guard(m_lock);
    return m_counts;
}

// --- Texts ---------------------------------------------------------------------------------------

QString statusName(qint32 status)
{
    if (status == SoundServer::ok)
        return QStringLiteral("OK");
    if (status == -1)
        return QStringLiteral("-1 (not attempted)");
    if (status > SoundServer::ok && status < SoundServer::errorCodeLimit())
        return QString::number(status) + QStringLiteral(" (") + SoundServer::errorText(status)
            + QLatin1Char(')');
    return QString::number(status);
}

QString decimalText(double value)
{
    return shortestText(value);
}

QString decimalText(float value)
{
    return shortestText(value);
}

bool isSupported()
{
    return SoundServer::supportsApplicationMonitors();
}

QString unsupportedLine()
{
    return QStringLiteral("AUDIO SPIKE FAIL: needs a PulseAudio or PipeWire sound server");
}

void hideRestoredWindows()
{
    if (qobject_cast<QApplication *>(QCoreApplication::instance())) {
        for (QWidget *widget : QApplication::topLevelWidgets())
            widget->hide();
    }
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        for (QWindow *window : QGuiApplication::topLevelWindows())
            window->hide();
    }
}

// --- Report file and result lines ----------------------------------------------------------------

QStringList reportFolders()
{
    // TMPDIR as given, so a temporary folder that does not exist yet is made like the data folder.
    QString temporary = qEnvironmentVariable("TMPDIR");
    if (temporary.isEmpty() || !QDir::isAbsolutePath(temporary))
        temporary = QStringLiteral("/tmp");
    const QString folderName = QString::fromLatin1(AppPaths::bundleIdentifier);
    return { AppPaths::dataDirectory(), QDir::cleanPath(temporary + QLatin1Char('/') + folderName) };
}

ReportWrite writeReport(const QByteArray &contents)
{
    QStringList problems;
    const QStringList folders = reportFolders();
    for (const QString &folder : folders) {
        int error = AtomicFile::makePrivateDirectory(folder);
        AtomicFile::Descriptor directory;
        if (error == 0)
            directory = AtomicFile::openDirectory(folder, &error);
        if (error == 0)
            error = AtomicFile::writeReplacing(directory.get(), reportFileName, contents, 0600);
        if (error == 0)
            return ReportWrite { folder + QLatin1Char('/') + QLatin1String(reportFileName), {} };
        problems << folder + QStringLiteral(": ") + qt_error_string(error);
    }
    return ReportWrite { std::nullopt, problems.join(QStringLiteral("; ")) };
}

QByteArray resultLines(const Report &report, const ReportWrite &write)
{
    const QString where = write.path ? *write.path : QStringLiteral("not written: ") + write.problem;
    return (report.rendered() + QStringLiteral("\nreport=") + where + QLatin1Char('\n')).toUtf8();
}

Task<void> runAndExit()
{
    hideRestoredWindows();
    Task<Report> probing = runProbes(QCoreApplication::instance());
    const Report report = co_await probing;
    const ReportWrite written = writeReport(report.fileContents());
    writeToStandardError(resultLines(report, written));
    co_await sleepFor(250ms);
    QCoreApplication::quit();
}

} // namespace AudioTapSpike

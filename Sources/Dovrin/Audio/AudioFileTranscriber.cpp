#include "Audio/AudioFileTranscriber.h"

#include "Documents/TextSanitizer.h"
#include "Platform/SpeechFileRecognizer.h"
#include "Rules/AudioLevelMeter.h"

#include <QLocale>
#include <QObject>
#include <QtConcurrent>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

using namespace std::chrono_literals;

namespace {

const QString kFailurePrefix = QStringLiteral("Transcription could not finish: ");
const QString kCancelledDescription = QStringLiteral("Transcription was cancelled.");

void send(const AudioFileTranscriber::Status &status, const QString &text)
{
    if (status)
        status(text);
}

// A clock that also fires its pending timer on demand, from any thread: a task sleeping on it wakes
// at its deadline, on the event, or at once when cancelled. The event is remembered, so firing
// before the sleep begins still wakes it.
class EventClock final : public TaskClock
{
public:
    explicit EventClock(TaskClock &base)
        : m_base(base)
    { }

    TimePoint now() const override { return m_base.now(); }

    std::unique_ptr<Timer> schedule(Duration delay, std::function<void()> fire) override
    {
        {
            std::lock_guard lock(m_mutex);
            if (!m_fired) {
                m_pending = fire;
                return std::make_unique<PendingTimer>(*this, m_base.schedule(delay, std::move(fire)));
            }
        }
        fire();
        return std::make_unique<PendingTimer>(*this, nullptr);
    }

    // Forgets an event that already came, so the next sleep waits for a new one.
    void reset()
    {
        std::lock_guard lock(m_mutex);
        m_fired = false;
    }

    void fire()
    {
        std::function<void()> pending;
        {
            std::lock_guard lock(m_mutex);
            m_fired = true;
            pending = std::move(m_pending);
            m_pending = nullptr;
        }
        if (pending)
            pending();
    }

private:
    class PendingTimer final : public Timer
    {
    public:
        PendingTimer(EventClock &owner, std::unique_ptr<Timer> base)
            : m_owner(owner)
            , m_base(std::move(base))
        { }
        ~PendingTimer() override { cancel(); }
        void cancel() override
        {
            if (m_base)
                m_base->cancel();
            std::lock_guard lock(m_owner.m_mutex);
            m_owner.m_pending = nullptr;
        }

    private:
        EventClock &m_owner;
        std::unique_ptr<Timer> m_base;
    };

    TaskClock &m_base;
    std::mutex m_mutex;
    bool m_fired = false;
    std::function<void()> m_pending;
};

// What the recognizing thread and the waiting task share for one file.
struct Recognition
{
    explicit Recognition(TaskClock &clock)
        : finished(clock)
    { }
    std::atomic<bool> stop { false };
    std::atomic<quint64> progress { 0 };
    std::atomic<double> heard { 0.0 };
    EventClock finished;
    std::mutex mutex;
    AudioFileTranscriber::ResultCollector collector;
};

QString failure(const QString &description)
{
    return kFailurePrefix + description;
}

} // namespace

QString TranscriptionSetupErrors::errorDescription(TranscriptionSetupError error)
{
    switch (error) {
    case TranscriptionSetupError::unsupportedLocale:
        return QStringLiteral("No on-device speech model is available for this language.");
    case TranscriptionSetupError::modelPreparationFailed:
        return QStringLiteral(
            "The on-device speech model could not be loaded. Check that the pocketsphinx-en-us "
            "package is installed and try again; your audio stays on this computer.");
    case TranscriptionSetupError::modelDownloadFailed:
        return QStringLiteral("The on-device speech model is not installed. Install the pocketsphinx-en-us "
                              "package and try again; your audio stays on this computer.");
    case TranscriptionSetupError::timedOut:
        return QStringLiteral("Transcription timed out.");
    }
    return {};
}

AudioFileTranscriber::Environment AudioFileTranscriber::Environment::live()
{
    QString locale = QLocale::system().name();
    locale.replace(QLatin1Char('_'), QLatin1Char('-'));
    return { SpeechFileRecognizer::live(), &TaskClock::system(), locale };
}

QString AudioFileTranscriber::transcriberTag()
{
    return QStringLiteral("pocketsphinx");
}

QString AudioFileTranscriber::unavailableNote()
{
    return QStringLiteral("On-device transcription needs the pocketsphinx-en-us package.");
}

bool AudioFileTranscriber::isSupported()
{
    return isSupported(Environment::live());
}

bool AudioFileTranscriber::isSupported(const Environment &environment)
{
    return environment.recognizer
        && environment.recognizer->modelState(preferredLocale(environment))
        == SpeechFileRecognizer::ModelState::installed;
}

QString AudioFileTranscriber::preferredLocale(const Environment &environment)
{
    const QString english = QStringLiteral("en-US");
    const QStringList supported
        = environment.recognizer ? environment.recognizer->supportedLocales() : QStringList();
    for (const QString &wanted : { environment.userLocale, english }) {
        for (const QString &locale : supported) {
            if (locale.compare(wanted, Qt::CaseInsensitive) == 0)
                return locale;
        }
    }
    return english;
}

std::optional<TranscriptionSetupError> AudioFileTranscriber::ensureAssets(
    const Environment &environment, const QString &locale)
{
    if (!environment.recognizer)
        return TranscriptionSetupError::modelPreparationFailed;
    switch (environment.recognizer->modelState(locale)) {
    case SpeechFileRecognizer::ModelState::installed:
        return std::nullopt;
    case SpeechFileRecognizer::ModelState::unsupported:
        return TranscriptionSetupError::unsupportedLocale;
    case SpeechFileRecognizer::ModelState::notInstalled:
        // Nothing to download: the model's package is missing or damaged.
        return TranscriptionSetupError::modelPreparationFailed;
    }
    return TranscriptionSetupError::modelPreparationFailed;
}

Task<AudioFileTranscriber::FileResult> AudioFileTranscriber::transcribeFile(
    QString path, Status status, Environment environment, Progress progress)
{
    const QString locale = preferredLocale(environment);
    if (const std::optional<TranscriptionSetupError> error = ensureAssets(environment, locale))
        co_return FileResult::failed(failure(TranscriptionSetupErrors::errorDescription(*error)));
    if (CurrentTask::isCancelled())
        co_return FileResult::failed(failure(kCancelledDescription));
    send(status, QStringLiteral("Transcribing…"));

    TaskClock &clock = environment.clock ? *environment.clock : TaskClock::system();
    auto shared = std::make_shared<Recognition>(clock);
    // Whatever ends this wait (an answer, a cancel, the application going away) ends the recognizer.
    struct StopOnExit
    {
        Recognition &recognition;
        ~StopOnExit() { recognition.stop = true; }
    } stopOnExit { *shared };
    QFuture<SpeechRecognitionOutcome> work
        = QtConcurrent::run([shared, recognizer = environment.recognizer, path, locale] {
              SpeechFileRecognizer::Callbacks callbacks;
              callbacks.shouldStop = [&shared] { return shared->stop.load(); };
              callbacks.progressed = [&shared] { shared->progress.fetch_add(1); };
              callbacks.heard = [&shared](double share) { shared->heard = share; };
              callbacks.recognized = [&shared](const RecognizedSpeech &result) {
                  std::lock_guard lock(shared->mutex);
                  shared->collector.add(result);
              };
              SpeechRecognitionOutcome outcome = recognizer->recognize(path, locale, callbacks);
              shared->finished.fire();
              return outcome;
          });

    // Wait for the recognizer, saying how far it got every second and checking that it moves on.
    quint64 seen = shared->progress.load();
    TaskClock::TimePoint lastProgress = clock.now();
    double reported = -1.0;
    while (!work.isFinished()) {
        co_await sleepFor(shared->finished, 1s);
        if (CurrentTask::isCancelled())
            co_return FileResult::failed(failure(kCancelledDescription));
        if (const double heard = shared->heard; progress && heard != reported) {
            reported = heard;
            progress(heard);
        }
        const quint64 moved = shared->progress.load();
        if (moved != seen) {
            seen = moved;
            lastProgress = clock.now();
        } else if (!work.isFinished() && clock.now() - lastProgress >= stallLimit) {
            // A recognizer stuck in a read cannot be joined: it is told to stop and its answer dropped.
            co_return FileResult::failed(
                failure(TranscriptionSetupErrors::errorDescription(TranscriptionSetupError::timedOut)));
        }
    }

    const SpeechRecognitionOutcome outcome = work.result();
    switch (outcome.status) {
    case SpeechRecognitionOutcome::Status::finished: {
        std::lock_guard lock(shared->mutex);
        FileResult result = FileResult::ok(shared->collector.text());
        result.partlyUnreadable = outcome.partlyUnreadable;
        co_return result;
    }
    case SpeechRecognitionOutcome::Status::stopped:
        co_return FileResult::failed(failure(kCancelledDescription));
    case SpeechRecognitionOutcome::Status::fileUnreadable:
        co_return FileResult::failed(failure(outcome.detail));
    case SpeechRecognitionOutcome::Status::modelUnloadable:
        break;
    }
    co_return FileResult::failed(
        failure(TranscriptionSetupErrors::errorDescription(TranscriptionSetupError::modelPreparationFailed)));
}

Task<AudioTranscripts> AudioFileTranscriber::transcribe(std::optional<QString> othersPath,
    std::optional<QString> youPath, bool heardOthers, bool heardYou, Status status,
    FileTranscriber fileTranscriber, Progress progress)
{
    return transcribe(std::move(othersPath), std::move(youPath), heardOthers, heardYou, std::move(status),
        std::move(fileTranscriber), Environment::live(), std::move(progress));
}

Task<AudioTranscripts> AudioFileTranscriber::transcribe(std::optional<QString> othersPath,
    std::optional<QString> youPath, bool heardOthers, bool heardYou, Status status,
    FileTranscriber fileTranscriber, Environment environment, Progress progress)
{
    AudioTranscripts transcripts;
    struct Stream
    {
        bool wanted;
        QString path;
        QString statusText;
        QString damagedText;
        QString &text;
        bool &unavailable;
        // How far this file got, from 0 to 1.
        double share = 0.0;
        Task<FileResult> file {};
        std::optional<FileResult> result {};
    };
    Stream streams[] = {
        { heardOthers && othersPath, othersPath.value_or(QString()), QStringLiteral("Transcribing others…"),
            QStringLiteral("Part of the Others recording could not be read."), transcripts.others,
            transcripts.othersUnavailable },
        { heardYou && youPath, youPath.value_or(QString()), QStringLiteral("Transcribing you…"),
            QStringLiteral("Part of the You recording could not be read."), transcripts.you,
            transcripts.youUnavailable },
    };
    if (!fileTranscriber && !isSupported(environment))
        co_return AudioTranscripts { {}, {}, std::nullopt, unavailableNote(), false, false };
    const int wanted = int(std::count_if(
        std::begin(streams), std::end(streams), [](const Stream &stream) { return stream.wanted; }));
    // Once cancelled, nothing is attempted and no status is sent.
    if (wanted == 0 || CurrentTask::isCancelled())
        co_return transcripts;

    // Both files run at once and both say "Transcribing…": each text is passed on once.
    auto lastStatus = std::make_shared<QString>();
    const Status sendOnce = [status, lastStatus](const QString &text) {
        if (text == *lastStatus)
            return;
        *lastStatus = text;
        send(status, text);
    };
    double reported = -1.0;
    const auto report = [&streams, &reported, &progress, wanted] {
        double sum = 0.0;
        for (const Stream &stream : streams)
            sum += stream.wanted ? stream.share : 0.0;
        const double share = sum / wanted;
        if (progress && share != reported) {
            reported = share;
            progress(share);
        }
    };
    // The on-device files say how far they got; their shares reach this frame through a weak link,
    // so only while it exists.
    const auto shares = std::make_shared<std::function<void(const QString &, double)>>(
        [&streams, &report](const QString &path, double share) {
            for (Stream &stream : streams) {
                if (stream.wanted && stream.path == path)
                    stream.share = share;
            }
            report();
        });
    if (!fileTranscriber) {
        fileTranscriber = [sendOnce, environment, link = std::weak_ptr(shares)](const QString &path) {
            return transcribeFile(path, sendOnce, environment, [link, path](double share) {
                if (const auto counted = link.lock())
                    (*counted)(path, share);
            });
        };
    }

    const auto addNote = [&transcripts](const QString &text) {
        transcripts.note = transcripts.note.isEmpty() ? text : transcripts.note + u' ' + text;
    };
    // Keeps the finish callbacks of the file tasks from outliving this task.
    QObject context;
    auto finished = std::make_shared<EventClock>(TaskClock::system());

    sendOnce(wanted == 1 ? (streams[0].wanted ? streams[0].statusText : streams[1].statusText)
                         : QStringLiteral("Transcribing…"));
    for (Stream &stream : streams) {
        if (!stream.wanted)
            continue;
        try {
            stream.file = fileTranscriber(stream.path);
        } catch (const std::exception &error) {
            stream.result = FileResult::failed(failure(QString::fromUtf8(error.what())));
        }
        if (!stream.result && !stream.file.isValid())
            stream.result = FileResult::failed(failure(kCancelledDescription));
        if (!stream.result)
            stream.file.whenFinished(&context, [finished] { finished->fire(); });
    }

    // Sleeps until a file's task finishes or this task is cancelled, which cancels the files too.
    const auto running = [&streams] {
        return std::any_of(std::begin(streams), std::end(streams), [](const Stream &stream) {
            return !stream.result && stream.file.isValid() && !stream.file.isFinished();
        });
    };
    while (running() && !CurrentTask::isCancelled()) {
        co_await sleepFor(*finished, 24h);
        finished->reset();
        for (Stream &stream : streams) {
            if (stream.wanted && stream.file.isValid() && stream.file.isFinished())
                stream.share = 1.0;
        }
        report();
    }
    for (Stream &stream : streams) {
        if (stream.result || !stream.file.isValid())
            continue;
        if (!stream.file.isFinished())
            stream.file.cancel();
        try {
            stream.result = co_await stream.file;
        } catch (const TaskCancelled &) {
            stream.result = FileResult::failed(failure(kCancelledDescription));
        } catch (const std::exception &error) {
            stream.result = FileResult::failed(failure(QString::fromUtf8(error.what())));
        }
    }

    for (const Stream &stream : streams) {
        if (!stream.result)
            continue;
        if (stream.result->isOk()) {
            stream.text = stream.result->text;
            transcripts.transcriber = transcriberTag();
            if (stream.result->partlyUnreadable)
                addNote(stream.damagedText);
        } else {
            addNote(stream.result->text);
            stream.unavailable = true;
        }
    }
    co_return transcripts;
}

void AudioFileTranscriber::ResultCollector::add(const RecognizedSpeech &result)
{
    const QString trimmed = TextSanitizer::validUtf16(result.text).trimmed();
    QString line;
    if (!trimmed.isEmpty()) {
        const double start = result.startSeconds;
        line = std::isfinite(start) && start >= 0
            ? QStringLiteral("[%1] %2").arg(AudioLevelMeter::timestamp(start), trimmed)
            : trimmed;
    }
    if (!result.isFinal) {
        m_pending = line;
        return;
    }
    if (!line.isEmpty())
        m_lines.push_back(line);
    m_pending.clear();
}

QString AudioFileTranscriber::ResultCollector::text() const
{
    if (m_lines.isEmpty() && !m_pending.isEmpty())
        return m_pending;
    return m_lines.join(u'\n');
}

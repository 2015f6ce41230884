#pragma once

#include "Async/Task.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class SpeechFileRecognizer;
struct RecognizedSpeech;

// Both transcripts of an audio session, and what the user should know about them.
struct AudioTranscripts
{
    // Empty when the stream was not transcribed or its transcription failed.
    QString others;
    QString you;
    // "pocketsphinx" once at least one file was transcribed, even to an empty text.
    std::optional<QString> transcriber;
    // The failure messages of the two recordings, Others first, joined by one space.
    QString note;
    // The stream's transcription was attempted and failed.
    bool othersUnavailable = false;
    bool youUnavailable = false;

    bool operator==(const AudioTranscripts &) const = default;
};

// Why the speech model could not be used.
enum class TranscriptionSetupError {
    unsupportedLocale,
    modelPreparationFailed,
    modelDownloadFailed, // never happens here: the model comes with a package, nothing is downloaded
    timedOut,
};

namespace TranscriptionSetupErrors {

QString errorDescription(TranscriptionSetupError error);

} // namespace TranscriptionSetupErrors

// Turns the two recordings of a finished audio session into text, on this computer. Stateless.
class AudioFileTranscriber
{
public:
    // The outcome of one file: its transcript (possibly empty), or a complete message for the user.
    struct FileResult
    {
        enum class Kind { ok, failed };
        Kind kind = Kind::ok;
        QString text;
        // An ok transcript of a file that could be read only in part.
        bool partlyUnreadable = false;

        static FileResult ok(QString transcript) { return { Kind::ok, std::move(transcript) }; }
        static FileResult failed(QString message) { return { Kind::failed, std::move(message) }; }
        bool isOk() const { return kind == Kind::ok; }
        bool operator==(const FileResult &) const = default;
    };

    // Gets each status text on the main thread.
    using Status = std::function<void(const QString &)>;
    // Gets the share of the work done so far, from 0 to 1, on the main thread.
    using Progress = std::function<void(double)>;
    // Transcribes one file, given by its path.
    using FileTranscriber = std::function<Task<FileResult>(const QString &)>;

    // What the live transcriber reaches outside the program; tests give their own.
    struct Environment
    {
        std::shared_ptr<const SpeechFileRecognizer> recognizer;
        // Measures the time-out; steady.
        TaskClock *clock = nullptr;
        // The user's language as a BCP 47 name ("en-US").
        QString userLocale;

        static Environment live();
    };

    // Transcribes Others and You at the same time, each only when it was heard and its file is given,
    // and never fails: failures become the note and the unavailable flags, Others first. Without a
    // file transcriber the on-device one is used; when it is not installed nothing is attempted and
    // the note says so. `progress` hears how far both files got together (a given file transcriber
    // counts only once it is done). Cancel the returned task itself to stop: the running files end
    // within a second. (A task that merely awaits this one does not pass its cancellation on.)
    static Task<AudioTranscripts> transcribe(std::optional<QString> othersPath,
        std::optional<QString> youPath, bool heardOthers, bool heardYou, Status status,
        FileTranscriber fileTranscriber = {}, Progress progress = {});
    static Task<AudioTranscripts> transcribe(std::optional<QString> othersPath,
        std::optional<QString> youPath, bool heardOthers, bool heardYou, Status status,
        FileTranscriber fileTranscriber, Environment environment, Progress progress = {});

    // The on-device file transcriber: decodes and recognizes off the main thread. Gives up with
    // "timed out" only when the recognizer made no progress for `stallLimit`, so a long file that is
    // still being heard is never cut off.
    static Task<FileResult> transcribeFile(
        QString path, Status status, Environment environment, Progress progress = {});

    // True exactly when the speech model for the user's language (else US English) is installed.
    static bool isSupported();
    static bool isSupported(const Environment &environment);

    static QString transcriberTag();
    // The note of a session that was not transcribed because transcription is not available.
    static QString unavailableNote();

    static constexpr std::chrono::seconds stallLimit { 300 };

    // Joins recognition results, in the order they arrive, into one transcript: one line per final
    // result, each beginning with its start time as "[m:ss] "; a later non-final result replaces an
    // earlier one and only counts when no final result came.
    class ResultCollector
    {
    public:
        void add(const RecognizedSpeech &result);
        QString text() const;

    private:
        QStringList m_lines;
        QString m_pending;
    };

private:
    static QString preferredLocale(const Environment &environment);
    static std::optional<TranscriptionSetupError> ensureAssets(
        const Environment &environment, const QString &locale);
};

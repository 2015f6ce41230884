#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// One stretch of recognized speech in a file.
struct RecognizedSpeech
{
    QString text;
    // Where the first word begins, in seconds from the start of the file.
    double startSeconds = 0.0;
    // A final result is never revised; a non-final one is replaced by the next result.
    bool isFinal = true;
};

// How recognizing one file ended.
struct SpeechRecognitionOutcome
{
    enum class Status {
        finished, // the whole file was heard
        stopped, // the caller asked to stop
        fileUnreadable, // the file could not be opened or decoded; `detail` says why
        modelUnloadable, // the speech model could not be loaded; `detail` says why
    };
    Status status = Status::finished;
    QString detail;
    // Some of the file could not be decoded; it was heard as silence of the same length.
    bool partlyUnreadable = false;
};

// Recognizes the speech in an audio file on this computer. The live implementation decodes with
// FFmpeg and recognizes with PocketSphinx; tests give their own.
class SpeechFileRecognizer
{
public:
    enum class ModelState {
        installed,
        notInstalled, // a model for the language exists but its files are missing
        unsupported, // no model exists for the language
    };

    // Called on the recognizing thread.
    struct Callbacks
    {
        // Polled often; answering true ends recognition within a fraction of a second.
        std::function<bool()> shouldStop;
        // Called each time more of the file was decoded.
        std::function<void()> progressed;
        // The share of the file heard so far, from 0 to 1, as recognition moves through it.
        std::function<void(double)> heard;
        std::function<void(const RecognizedSpeech &)> recognized;
    };

    virtual ~SpeechFileRecognizer() = default;

    // Languages with a model (BCP 47 names such as "en-US"), installed or not.
    virtual QStringList supportedLocales() const = 0;
    virtual ModelState modelState(const QString &locale) const = 0;
    // Blocks until the file was heard, failed, or was stopped. Safe to call on several threads at once.
    virtual SpeechRecognitionOutcome recognize(
        const QString &filePath, const QString &locale, const Callbacks &callbacks) const = 0;

    // PocketSphinx with the models under /usr/share/pocketsphinx/model.
    static std::shared_ptr<const SpeechFileRecognizer> live();
};

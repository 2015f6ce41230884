#pragma once

#include "Async/Task.h"
#include "Audio/AudioFileTranscriber.h"
#include "Audio/AudioSessionCoordinator.h"

#include <QObject>

#include <memory>
#include <optional>

class AudioReviewSession;
class ModelContext;

// The model's side of an audio session once it is recorded: stopping it, transcribing both files in
// the model's one transcription task, the audio review, and saving the session as Markdown beside
// its audio files (or discarding it). The audio phase is the coordinator's; this flow moves it on
// after the stop.
class AudioSessionFlow : public QObject
{
    Q_OBJECT

public:
    explicit AudioSessionFlow(ModelContext &context, QObject *parent = nullptr);

    // Stops the recording. With `transcribe` the review opens after transcription (or at once with a
    // note when transcription is not available); without it the session is saved at once.
    Task<> finishAudioRecording(bool transcribe);
    // Opens the review of a finished recording. With `saveImmediately` it is saved at once, without a
    // window, and the answer is that save's; otherwise the window is asked for and the answer is true.
    Task<bool> presentAudioReview(
        AudioSessionResult result, ResolvedFolder folder, AudioTranscripts transcripts, bool saveImmediately);
    // True when there is nothing to save; false when a save runs already, one succeeded, or the
    // Markdown file could not be written (the review stays open for another try).
    Task<bool> saveAudioReview(bool reviewedByUser);
    // Deletes the review's audio files and ends the session; nothing while a save runs.
    void discardAudioReview();

    // Drops the transcription that runs: its result no longer applies.
    void cancelInFlightTranscription();
    bool hasPendingTranscription() const { return m_pending.has_value(); }
    // Saves the recording whose transcription was interrupted at once, with `note`.
    Task<bool> savePendingTranscriptionNow(const QString &note);

private:
    struct PendingTranscription
    {
        AudioSessionResult result;
        ResolvedFolder folder;
    };

    Task<> transcribe(PendingTranscription pending, bool includeYou, int generation);
    Task<bool> writeAudioSession(std::shared_ptr<AudioReviewSession> session, bool reviewedByUser);
    bool transcriptionSupported() const;
    // Transcripts of a recording that was not transcribed, with `note`.
    static AudioTranscripts untranscribed(const AudioSessionResult &result, const QString &note);

    ModelContext &m_context;
    std::optional<PendingTranscription> m_pending;
    Task<> m_transcriptionTask;
    // The transcriber's own task: cancelling the task that awaits it does not reach it.
    Task<AudioTranscripts> m_transcriberTask;
    int m_transcriptionGeneration = 0;
};

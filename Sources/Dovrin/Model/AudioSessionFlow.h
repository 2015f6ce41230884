#pragma once

#include "Async/Task.h"
#include "Audio/AudioFileTranscriber.h"
#include "Audio/AudioSessionCoordinator.h"
#include "Documents/AppSettingsStore.h"
#include "Documents/CaptureDraft.h"
#include "Rules/AudioGates.h"

#include <QObject>

#include <memory>
#include <optional>

class AudioReviewSession;
class ModelContext;

// The model's side of an audio session: the record command, starting with the sources of the
// settings, stopping, transcribing both files in the model's one transcription task, the audio
// review, and saving the session as Markdown beside its audio files (or discarding it); also the
// audio source settings. The audio phase is the coordinator's; this flow moves it on after the stop.
class AudioSessionFlow : public QObject
{
    Q_OBJECT

public:
    explicit AudioSessionFlow(ModelContext &context, QObject *parent = nullptr);

    // What the recording gate decides: start, stop, or say what is missing.
    Task<> handleAudioInvocation();
    // Starts a recording with the settings' folder and sources (the gate is not asked: "Record
    // Another" comes here directly).
    Task<> startAudioRecording();

    // Stops the recording. With `transcribe` the review opens after transcription (or at once with a
    // note when transcription is not available); without it the session is saved at once.
    Task<> finishAudioRecording(bool transcribe);
    // Opens the review of a finished recording. With `saveImmediately` it is saved at once, without a
    // window, and the answer is that save's; otherwise the window is asked for and the answer is true.
    Task<bool> presentAudioReview(
        AudioSessionResult result, ResolvedFolder folder, AudioTranscripts transcripts, bool saveImmediately);
    // Opens the review an earlier run kept in `draft` (one with an audio session) as it was kept.
    Task<> resumeAudioDraft(CaptureDraft draft);
    // True when there is nothing to save; false when a save runs already, one succeeded, or the
    // Markdown file could not be written: then the review stays open for another try, and is kept
    // in the encrypted draft where the draft has room for it.
    Task<bool> saveAudioReview(bool reviewedByUser);
    // Deletes the review's audio files and ends the session; nothing while a save runs.
    void discardAudioReview();

    // Drops the transcription that runs: its result no longer applies.
    void cancelInFlightTranscription();
    bool hasPendingTranscription() const { return m_pending.has_value(); }
    // Saves the recording whose transcription was interrupted at once, with `note`.
    Task<bool> savePendingTranscriptionNow(const QString &note);

    void applyRecordYouMicrophone(bool enabled);
    void applyMicrophoneDeviceUID(const std::optional<QString> &uid);
    void applyOthersAudioSource(
        const std::optional<QString> &bundleID, const std::optional<QString> &displayName);

private:
    struct PendingTranscription
    {
        AudioSessionResult result;
        ResolvedFolder folder;
    };

    Task<> start();
    Task<> finishRecording(bool transcribe);
    // The coordinator says the recording cannot go on: it is stopped and reviewed as far as it went.
    Task<> finishInterruptedRecording();
    AudioRecordingGate::Action gateAction(bool othersIsRunning);
    void bringCaptureReviewForward();
    // A recording that could not start says why in the status, and ends `failed` so that the menu's
    // status line says it too; an earlier session still being transcribed or reviewed keeps its phase.
    void failStart(const QString &message);
    // The saved Others application does not run: the settings open at its row, and the menu says so.
    void refuseOthersNotRunning(const QString &bundleID, const QString &displayName);
    void updateSettings(const std::function<void(AppSettings &)> &change);
    // Keeps the recording that runs in the draft, so that a program that ends without stopping it
    // leaves it offered at the next start.
    Task<> keepRecording(RunningRecording running);
    // Reviews a recording an earlier run never stopped, transcribed as far as its files go.
    Task<> resumeUnfinishedRecording(CaptureDraft draft);
    // Transcribes `result` in the model's one transcription task; one still pending is saved first.
    Task<> beginTranscription(AudioSessionResult result, ResolvedFolder folder, bool includeYou);
    Task<> transcribe(PendingTranscription pending, bool includeYou, int generation);
    // Publishes `session` as the open review, an earlier one saved first as it stands, and saves it
    // at once or asks for its window.
    Task<bool> openReview(std::shared_ptr<AudioReviewSession> session, bool saveImmediately);
    Task<bool> writeAudioSession(std::shared_ptr<AudioReviewSession> session, bool reviewedByUser);
    bool transcriptionSupported() const;
    // Transcripts of a recording that was not transcribed, with `note`.
    static AudioTranscripts untranscribed(const AudioSessionResult &result, const QString &note);

    ModelContext &m_context;
    std::optional<PendingTranscription> m_pending;
    Task<> m_finishing;
    Task<> m_interrupted;
    Task<> m_transcriptionTask;
    // The transcriber's own task: cancelling the task that awaits it does not reach it.
    Task<AudioTranscripts> m_transcriberTask;
    int m_transcriptionGeneration = 0;
    // The recording kept in the draft while it ran (or resumed from it): its review takes the draft over.
    std::optional<QUuid> m_keptRecording;
    Task<> m_keepingRecording;
    bool m_starting = false;
};

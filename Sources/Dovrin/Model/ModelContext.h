#pragma once

#include "Documents/AppSettingsStore.h"
#include "Documents/CaptureDraft.h"
#include "Documents/SetupPresentationState.h"
#include "Model/SavedReceipt.h"
#include "Rules/CapturePhase.h"

#include <QString>

#include <memory>
#include <optional>

class AppModel;
class AudioReviewSession;
class AudioSessionCoordinator;
class DefaultsStore;
class DraftFlow;
class InputDeviceCache;
class PermissionController;
class RecentAvailabilityCache;
class ReviewSession;
class VisualCaptureState;
struct ModelServices;

// What the flows of the application model share. Each flow keeps its own tasks and generation
// counters; everything that more than one flow reads or changes is reached through here, and every
// change of published state is announced by the model. Main thread only.
class ModelContext
{
public:
    virtual ~ModelContext() = default;

    // The object the windows see, for the windows the flows present.
    virtual AppModel &model() = 0;
    virtual const ModelServices &services() const = 0;
    virtual DefaultsStore &defaults() const = 0;
    virtual PermissionController &permissions() const = 0;
    virtual AudioSessionCoordinator &audio() const = 0;
    // Started with "--audio-spike": no window is requested.
    virtual bool isAudioSelfTest() const = 0;

    virtual CapturePhase phase() const = 0;
    // Unchecked: callers consult CapturePhaseTransition first.
    virtual void setPhase(CapturePhase phase) = 0;
    // After an ended capture: to canceled where the table allows it, then to idle in any case.
    virtual void resetPhaseToIdle() = 0;
    virtual QString statusMessage() const = 0;
    virtual void setStatusMessage(const QString &message) = 0;

    virtual const AppSettings &settings() const = 0;
    // Publishes the record; persistSettings() saves it.
    virtual void setSettings(const AppSettings &settings) = 0;
    virtual void persistSettings() = 0;
    virtual SetupPresentationState &setupPresentation() = 0;
    // A folder bookmark that resolved stale was renewed: the settings that held the stale one take
    // the renewed one (and only those), and are saved.
    virtual void adoptRefreshedFolder(const FolderAccess &stale, const FolderAccess &refreshed) = 0;

    // Asks the shell for a window ("setup", "recovery", "preferences", "audio-review", "receipt")
    // and brings the app forward; nothing under "--audio-spike".
    virtual void requestWindow(const QString &window) = 0;
    // A record command found the saved Others application not running: the settings window, asked
    // for beside this, shows its row and why.
    virtual void setRefusedOthersSource(const QString &bundleID) = 0;
    // How far the transcription of the stopped recording got, from 0 to 1; none before it says.
    virtual void setTranscriptionProgress(std::optional<double> share) = 0;

    virtual std::shared_ptr<ReviewSession> reviewSession() const = 0;
    virtual void setReviewSession(std::shared_ptr<ReviewSession> session) = 0;
    virtual const std::optional<CaptureDraft> &pendingDraft() const = 0;
    virtual void setPendingDraft(std::optional<CaptureDraft> draft) = 0;
    virtual std::shared_ptr<AudioReviewSession> audioReview() const = 0;
    virtual void setAudioReview(std::shared_ptr<AudioReviewSession> session) = 0;
    virtual const std::optional<SavedReceipt> &receipt() const = 0;
    virtual void setReceipt(std::optional<SavedReceipt> receipt) = 0;
    virtual void setMovingReceiptToTrash(bool moving) = 0;

    // A selection or a scrolling capture runs.
    virtual bool isVisualCaptureActive() const = 0;
    virtual const InputDeviceCache &inputDevices() const = 0;
    virtual DraftFlow &drafts() = 0;
    virtual VisualCaptureState &visualCapture() = 0;
    virtual RecentAvailabilityCache &recentAvailability() = 0;
};

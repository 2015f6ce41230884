#pragma once

#include "GenerousWaits.h"

#include "Model/AppModel.h"
#include "Model/DraftFlow.h"

#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

// The real application model over fake services: settings in memory (able to refuse writes), a real
// draft store in a temporary folder, a hot key, launch at login, review window and relaunch that
// record what is asked of them.
struct ModelHarness
{
    // A settings suite whose writes can fail the way a full disk makes them fail.
    struct Defaults final : DefaultsStore
    {
        QVariant value(const QString &key) const override { return values.value(key); }
        void setValue(const QString &key, const QVariant &value) override
        {
            values.insert(key, value);
            ++writes;
            ++writesByKey[key];
        }
        void remove(const QString &key) override { values.remove(key); }
        std::optional<QString> writeFailure() const override { return refuseWrites; }
        std::optional<QString> readFailure() const override { return unreadable; }
        void replaceUnreadable() override { replaceAllowed = true; }

        QHash<QString, QVariant> values;
        std::optional<QString> refuseWrites;
        // As a suite over a file that could not be read; replaceAllowed once the user changed a setting.
        std::optional<QString> unreadable;
        bool replaceAllowed = false;
        int writes = 0;
        QHash<QString, int> writesByKey;
    };

    QTemporaryDir dir;
    std::shared_ptr<Defaults> defaults = std::make_shared<Defaults>();
    QStringList arguments;
    bool screenGranted = true;
    bool scrollingGranted = true;
    MicrophoneAuthorizationFact microphone = MicrophoneAuthorizationFact::authorized;
    // As on X11: requests only look again.
    bool requestsOnlyRecheck = false;
    HotKeyRegistrationState hotKeyAnswer = HotKeyRegistrationState::registered;
    QList<CaptureShortcut> registered;
    // Tells the model of a registration that changed on its own.
    std::function<void(HotKeyRegistrationState)> hotKeyChanged;
    int activationInstalls = 0;
    bool relaunchPending = true;
    int relaunchCommits = 0;
    int relaunchCancels = 0;
    // Review window.
    int presents = 0;
    int orderOuts = 0;
    ReviewWindowPresenter::CloseVeto closeVeto;
    // Launch at login: every call waits for the test to answer it.
    QList<TaskPromise<LaunchAtLoginStatus>> statusCalls;
    QList<std::pair<bool, TaskPromise<LaunchAtLoginStatus>>> setCalls;
    // Audio: the coordinator (default: one that cannot record), what the sound server answers, and
    // transcription (default: not available).
    std::function<std::unique_ptr<AudioSessionCoordinator>()> makeAudio;
    bool recordingSupported = true;
    QStringList runningApps;
    std::optional<bool> transcriptionSupported = false;
    AudioFileTranscriber::FileTranscriber fileTranscriber;
    // Screen: overlays shown offscreen and timed by `overlayClock`, stills answered at once unless
    // held, recognition held until the test answers it.
    ManualTaskClock overlayClock;
    DisplayChangeCenter displays;
    QList<QPointer<SelectionOverlayCoordinator>> overlays;
    bool holdSnapshots = false;
    QList<TaskPromise<QList<DisplaySnapshot>>> snapshotCalls;
    ForeignApplication frontmost { QStringLiteral("Editor"), QStringLiteral("org.example.Editor") };
    QList<TaskPromise<OCRResult>> recognitions;
    // Answers each recognition at once (or fails it with what it throws) when set.
    std::function<OCRResult(const QImage &)> readText;
    // Scrolling: trusted without being able to scroll, a request relaunches the app; the prompts (titles
    // shown, each answered `promptAnswer` at once unless it is none); the window under the outline;
    // captures of a still column; the waits' clock.
    bool scrollingTrusted = true;
    QStringList prompts;
    std::optional<bool> promptAnswer = true;
    std::optional<TaskPromise<bool>> openPrompt;
    std::optional<ScrollingCaptureTarget> target = ScrollingCaptureTarget { {}, QStringLiteral("reader"), 7 };
    int scrollingRuns = 0;
    ScrollingCaptureLimits scrollingLimits = ScrollingCaptureLimits::production;
    TaskClock *clock = nullptr;
    // Files and folders.
    bool noDraftStore = false;
    std::function<ResolvedFolder(const FolderAccess &)> resolveFolder;
    std::optional<QString> pickedFolder;
    // What reached the clipboard; a refusing clipboard takes nothing.
    QStringList clipboard;
    bool pasteboardWorks = true;
    QList<QUrl> revealed;
    // False: no file manager shows a revealed file (the failure arrives later, as the bus's would).
    bool fileManagerAnswers = true;
    QList<QUrl> opened;
    // Names the Trash refuses; every other file goes.
    QStringList stuckInTrash;
    std::atomic<int> trashCalls = 0;
    // When set, a move to the Trash waits on the worker until the test calls releaseTrash(), or the
    // harness goes (a failed check must not leave the worker waiting), or a minute passed (a warning).
    bool holdTrash = false;
    QSemaphore trashGate;
    void releaseTrash() { trashGate.release(); }
    int fronts = 0;
    int reveals = 0;
    std::optional<QDateTime> fixedNow;
    // Last changes to the services before the model is made (live parts for end-to-end runs).
    std::function<void(ModelServices &)> adjust;
    // Feedback.
    bool mailLinkBuilds = true;
    bool mailOpens = true;
    QStringList alerts;
    // The explanations of the alerts that are not about feedback.
    QStringList alertMessages;

    std::unique_ptr<AppModel> model;

    // Holds the draft thread: every store operation asked for from now on waits for release() (or
    // the hold's end), after the ones already asked for.
    class DraftThreadHold
    {
    public:
        explicit DraftThreadHold(DraftFlow &drafts);
        ~DraftThreadHold();
        // The thread has reached the hold: everything asked for before it is done.
        bool reached() const { return m_reached.available() > 0; }
        void release();

    private:
        QSemaphore m_gate;
        QSemaphore m_reached;
        bool m_released = false;
        QFuture<bool> m_job;
    };

    ModelHarness();
    ~ModelHarness();
    AppModel &make();
    ModelContext &context() { return model->flowContext(); }
    QString draftFolder() const { return dir.filePath(QStringLiteral("data")); }
    void setSettings(const AppSettings &settings) { AppSettingsStore(defaults).save(settings); }
    // Setup complete and `folder` (made) as the capture folder.
    void readyToCapture(const QString &folder);
    // Drags across `rect` (points of the still) on the newest overlay once it shows.
    bool select(const QRect &rect);
    // Captures `rect` of the still and waits for the review.
    bool captureReview(const QRect &rect = QRect(20, 20, 200, 100));

    // A sealed draft in the draft folder, under the folder's real key.
    CaptureDraft storeDraft();
    // A draft that a newer version wrote (format 2), in the same place; answers the sealed file.
    QByteArray storeNewerDraft();
    // A folder where the draft file goes: saving and deleting the draft both fail.
    void breakDraftFile();
    // A finished recording of `milliseconds` into `folder`, both streams heard.
    static AudioSessionResult recording(
        const QString &folder, qint64 milliseconds = 3000, float youPeak = 0.5f);
    // The one note saved in `folder`, or nothing.
    static QByteArray savedNote(const QString &folder);
    // Runs the event loop until the task is done; a few turns.
    template <typename T> static bool finish(const Task<T> &task);
    static void settle()
    {
        for (int turn = 0; turn < 20; ++turn)
            QCoreApplication::processEvents();
    }
};

template <typename T> bool ModelHarness::finish(const Task<T> &task)
{
    return QTest::qWaitFor([&] { return task.isFinished(); }, TestSupport::patienceMs);
}

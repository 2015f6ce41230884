#include "Model/ScrollingCaptureFlow.h"

#include "Documents/DefaultsStore.h"
#include "Model/DraftFlow.h"
#include "Model/ModelContext.h"
#include "Model/ModelServices.h"
#include "Model/RegionCaptureFlow.h"
#include "Model/VisualCaptureState.h"
#include "Services/PermissionController.h"

using namespace std::chrono_literals;

namespace {

bool allows(const ModelContext &context, CapturePhase to)
{
    return CapturePhaseTransition::allows(context.phase(), to);
}

[[noreturn]] void fail(ScrollingCaptureError error)
{
    throw ScrollingCaptureFailure(error);
}

// The app relaunches for Control Scrolling: the capture ends without a word and starts again there.
struct QuietEnd
{
};

} // namespace

ScrollingCaptureFlow::ScrollingCaptureFlow(ModelContext &context, RegionCaptureFlow &regionCapture,
    ScrollingRecognitionFlow &recognition, QObject *parent)
    : QObject(parent)
    , m_context(context)
    , m_regionCapture(regionCapture)
    , m_recognition(recognition)
{ }

ScrollingCapturePrompt ScrollingCaptureFlow::introduction()
{
    return { QStringLiteral("Capture a long scrolling area"),
        QStringLiteral("Outline the moving column, then let Quorvel scroll it."),
        { QStringLiteral("Outline only the content that changes—not a header or sidebar."),
            QStringLiteral("Keep the pointer inside while it scrolls."),
            QStringLiteral("Choose Done when you have enough."),
            QStringLiteral("Review and save Markdown. No screenshots are saved.") },
        QStringLiteral("Select Region"), QStringLiteral("Cancel") };
}

bool ScrollingCaptureFlow::scrollingAllowed() const
{
    return m_context.permissions().scrolling().presentation.status == PermissionStatus::allowed;
}

void ScrollingCaptureFlow::checkCurrent(int generation) const
{
    CurrentTask::checkCancelled();
    if (generation != m_context.visualCapture().captureGeneration)
        throw TaskCancelled();
}

Task<> ScrollingCaptureFlow::startScrollingCapture()
{
    RegionCaptureFlow &region = m_regionCapture;
    if (region.redirectToPendingDraftIfNeeded())
        co_return;
    region.refreshPermissionRows();
    if (region.setupBlocks() || region.screenPermissionBlocks())
        co_return;
    if (m_context.audio().isBusy()) {
        m_context.setStatusMessage(QStringLiteral("Finish or stop audio before capturing scrolling content"));
        co_return;
    }
    Task<> storeStart = m_context.drafts().startDraftStoreIfNeeded();
    co_await storeStart;
    if (m_context.drafts().holdsNewerDraft()) {
        Task<bool> settingAside = m_context.drafts().setNewerDraftAside();
        if (!co_await settingAside)
            co_return;
    }
    VisualCaptureState &state = m_context.visualCapture();
    // Checked after the store is there: a capture may have started while it was being made.
    if (state.scrollingCaptureGeneration) {
        Task<> invoking = region.handleCaptureInvocation();
        co_await invoking;
        co_return;
    }
    if (!m_context.drafts().store()) {
        m_context.setStatusMessage(
            QStringLiteral("Encrypted draft storage is unavailable. Try the capture again."));
        co_return;
    }
    if (region.redirectToPendingDraftIfNeeded())
        co_return;
    // The one draft belongs to the open review.
    if (m_context.reviewSession()) {
        region.focusReview();
        co_return;
    }
    const CapturePhase phase = m_context.phase();
    if (phase != CapturePhase::idle && phase != CapturePhase::saved && phase != CapturePhase::canceled
        && phase != CapturePhase::needsPermission) {
        Task<> invoking = region.handleCaptureInvocation();
        co_await invoking;
        co_return;
    }
    m_context.defaults().setBoolean(PermissionController::resumeScrollingCaptureAfterRelaunchKey, false);
    const std::optional<ForeignApplication> remembered = region.consumeRememberedApplication();
    if (phase == CapturePhase::saved)
        m_context.setReceipt(std::nullopt);
    else if (phase != CapturePhase::idle && allows(m_context, CapturePhase::idle))
        m_context.setPhase(CapturePhase::idle);
    m_context.audio().clearTerminalState();
    const int generation = ++state.captureGeneration;
    state.scrollingCaptureGeneration = generation;
    state.captureTask.cancel();
    state.captureTask = capture(generation, remembered, *m_context.drafts().store());
}

Task<bool> ScrollingCaptureFlow::confirmScrollingCaptureIntroductionIfNeeded()
{
    DefaultsStore &defaults = m_context.defaults();
    if (defaults.boolean(introductionKey))
        co_return true;
    TaskFuture<bool> answer = m_context.services().presentPrompt(introduction());
    const bool go = co_await answer;
    if (go)
        defaults.setBoolean(introductionKey, true);
    co_return go;
}

Task<bool> ScrollingCaptureFlow::waitForScrollingPermission(int generation)
{
    PermissionController &permissions = m_context.permissions();
    TaskClock &clock = m_context.services().clock ? *m_context.services().clock : TaskClock::system();
    // The steady clock: a change of the wall clock neither ends the wait early nor stretches it.
    const TaskClock::TimePoint deadline = clock.now() + 120s;
    while (clock.now() < deadline) {
        // Cancelling the capture does not reach this task: a newer capture owns the status now.
        checkCurrent(generation);
        m_regionCapture.refreshPermissionRows();
        if (scrollingAllowed()) {
            if (m_context.services().windows.reveal)
                m_context.services().windows.reveal();
            co_return true;
        }
        if (permissions.isRelaunching() || !permissions.isWatchingForScrollingGrant())
            co_return false;
        m_context.setStatusMessage(QStringLiteral(
            "Waiting for Control Scrolling: it needs an X11 (Xorg) session with the XTEST extension"));
        if (!co_await sleepFor(clock, 250ms))
            throw TaskCancelled();
    }
    co_return false;
}

Task<bool> ScrollingCaptureFlow::ensureScrollingPermission(int generation, bool refreshAfterConsent)
{
    PermissionController &permissions = m_context.permissions();
    m_regionCapture.refreshPermissionRows();
    if (scrollingAllowed())
        co_return true;
    if (permissions.scrolling().presentation.status == PermissionStatus::notRequested) {
        TaskFuture<bool> consent = m_context.services().presentPrompt(ScrollingCapturePrompt::control());
        const bool go = co_await consent;
        checkCurrent(generation);
        if (!go)
            fail(ScrollingCaptureError::canceled);
        if (refreshAfterConsent) {
            m_regionCapture.refreshPermissionRows();
            if (scrollingAllowed())
                co_return true;
        }
    }
    m_context.setStatusMessage(
        QStringLiteral("Control Scrolling needs an X11 (Xorg) session with the XTEST extension"));
    Task<bool> request = permissions.requestScrollingAccess();
    const bool granted = co_await request;
    checkCurrent(generation);
    if (permissions.isRelaunching())
        co_return false;
    if (granted)
        co_return true;
    if (permissions.isWatchingForScrollingGrant()) {
        Task<bool> waiting = waitForScrollingPermission(generation);
        const bool came = co_await waiting;
        checkCurrent(generation);
        if (came)
            co_return true;
        if (permissions.isRelaunching())
            co_return false;
    }
    fail(ScrollingCaptureError::permissionRequired);
}

Task<> ScrollingCaptureFlow::capture(
    int generation, std::optional<ForeignApplication> remembered, EncryptedDraftStore store)
{
    VisualCaptureState &state = m_context.visualCapture();
    RegionCaptureFlow &region = m_regionCapture;
    const ModelServices &services = m_context.services();
    QPointer<SelectionOverlayCoordinator> overlay;
    QPointer<ScrollingCaptureCoordinator> coordinator;
    std::exception_ptr failure;
    try {
        ForeignApplication source;
        if (remembered) {
            source = *remembered;
        } else {
            Task<ForeignApplication> asking = region.frontmostApplication();
            source = co_await asking;
            checkCurrent(generation);
        }
        Task<bool> introducing = confirmScrollingCaptureIntroductionIfNeeded();
        const bool introduced = co_await introducing;
        checkCurrent(generation);
        if (!introduced)
            fail(ScrollingCaptureError::canceled);
        Task<bool> permitting = ensureScrollingPermission(generation, true);
        if (!co_await permitting)
            throw QuietEnd();

        checkCurrent(generation);
        if (!allows(m_context, CapturePhase::selecting))
            fail(ScrollingCaptureError::canceled);
        m_context.setPhase(CapturePhase::selecting);
        m_context.setStatusMessage(QStringLiteral("Select the scrolling content"));
        overlay = region.makeOverlay(CaptureSelectionMode::scrolling);
        Task<QList<DisplaySnapshot>> grabbing = services.snapshots(
            [overlay] { return overlay ? overlay->screenChangeGeneration() : quint64(0); },
            [overlay](quint64 accepted) {
                if (overlay)
                    overlay->setAcceptedSnapshotGeneration(accepted);
            });
        const QList<DisplaySnapshot> snapshots = co_await grabbing;
        checkCurrent(generation);
        Task<CapturedRegion> selecting = overlay->select(snapshots);
        const CapturedRegion outlined = co_await selecting;
        region.releaseOverlay(overlay, false);
        checkCurrent(generation);
        if (!allows(m_context, CapturePhase::captured) || !outlined.scrollingGeometry)
            fail(ScrollingCaptureError::canceled);
        m_context.setPhase(CapturePhase::captured);
        Task<std::optional<ScrollingCaptureTarget>> finding
            = services.scrollingTarget(*outlined.scrollingGeometry, source.bundleID);
        std::optional<ScrollingCaptureTarget> target = co_await finding;
        checkCurrent(generation);
        if (!target)
            fail(ScrollingCaptureError::targetUnavailable);
        // Control Scrolling may have been withdrawn while the user outlined.
        Task<bool> rechecking = ensureScrollingPermission(generation, false);
        if (!co_await rechecking)
            throw QuietEnd();

        if (!target->name)
            target->name = source.name;
        state.scrollingCapture.reset(
            services
                .makeScrollingCapture({ *outlined.scrollingGeometry, *target, QUuid::createUuid(), store,
                    services.recognizeText, &m_context.drafts().draftThread() })
                .release());
        coordinator = state.scrollingCapture.get();
        m_context.setStatusMessage(QStringLiteral("Capturing scrolling content"));
        Task<ScrollingCaptureResult> running = coordinator->run();
        const ScrollingCaptureResult result = co_await running;
        ScrollingRecognitionFlow::FinishedCapture finished;
        if (state.scrollingCapture.get() == coordinator.data())
            finished = std::move(state.scrollingCapture);
        checkCurrent(generation);
        handOver(result, generation, std::move(finished));
    } catch (const QuietEnd &) {
    } catch (...) {
        failure = std::current_exception();
    }
    const PermissionController &permissions = m_context.permissions();
    if (failure) {
        region.releaseOverlay(overlay, true);
        if (coordinator && state.scrollingCapture.get() == coordinator.data()) {
            coordinator->setCancelRequested(true);
            state.scrollingCapture.reset();
        }
        if (state.scrollingCaptureGeneration == generation)
            state.scrollingCaptureGeneration.reset();
        if (generation == state.captureGeneration) {
            Task<> abandoning = region.abandonDraftReturningToIdle(
                RegionCaptureFlow::failureText(failure, QStringLiteral("Scrolling capture canceled"),
                    QStringLiteral("Scrolling capture could not finish")));
            co_await abandoning;
        }
    }
    if (permissions.isRelaunching() && state.scrollingCaptureGeneration == generation)
        state.scrollingCaptureGeneration.reset();
}

QString ScrollingCaptureFlow::stoppedEarlyText(ScrollingCaptureEnd end)
{
    const ScrollingCaptureLimits &limits = ScrollingCaptureLimits::production;
    QString limit;
    switch (end) {
    case ScrollingCaptureEnd::done:
    case ScrollingCaptureEnd::endOfContent:
        return QString();
    case ScrollingCaptureEnd::paused:
        return QStringLiteral(
            "The capture stopped where the next view could not be placed; there may be more below.");
    case ScrollingCaptureEnd::durationLimit:
        limit = QStringLiteral("%1-second")
                    .arg(std::chrono::duration_cast<std::chrono::seconds>(limits.maxDuration).count());
        break;
    case ScrollingCaptureEnd::tileLimit:
        limit = QStringLiteral("%1-section").arg(limits.maxTiles);
        break;
    case ScrollingCaptureEnd::pixelLimit:
        limit = QStringLiteral("%1-million-pixel").arg(limits.maxPixels / 1'000'000);
        break;
    case ScrollingCaptureEnd::byteLimit:
        limit = QStringLiteral("%1 MiB storage").arg(limits.maxEncryptedBytes / (1024 * 1024));
        break;
    }
    return QStringLiteral("The capture stopped at its %1 limit; there may be more below.").arg(limit);
}

void ScrollingCaptureFlow::handOver(const ScrollingCaptureResult &result, int generation,
    ScrollingRecognitionFlow::FinishedCapture coordinator)
{
    const CaptureDraft &draft = result.draft;
    VisualCaptureState &state = m_context.visualCapture();
    DraftFlow &drafts = m_context.drafts();
    drafts.setCurrentImage(QImage());
    drafts.setCurrentDraft(draft);
    if (state.scrollingCaptureGeneration == generation)
        state.scrollingCaptureGeneration.reset();
    if (allows(m_context, CapturePhase::ocrProcessing))
        m_context.setPhase(CapturePhase::ocrProcessing);
    const bool empty = draft.reviewedText.isEmpty();
    const bool reading = result.recognitionPending && coordinator;
    // A recognizer that could not run says so, and a capture that ended at a limit says which.
    QString status
        = result.recognitionError.value_or(reading ? QStringLiteral("Recognizing the scrolling capture…")
                : empty ? QStringLiteral("No text was recognized. Type the captured text or retry OCR.")
                        : QStringLiteral("Review the scrolling capture, then save Markdown."));
    // A view that never moved may hold more than was kept: a pager that ignores the wheel looks
    // just like content that fits.
    const QString stopped = result.stoodStill && result.end == ScrollingCaptureEnd::endOfContent
        ? QStringLiteral("The area did not move when it was scrolled, so only what was in view was captured.")
        : stoppedEarlyText(result.end);
    if (!stopped.isEmpty())
        status = stopped + QLatin1Char(' ') + status;
    drafts.presentReview(draft, status);
    if (!m_context.settings().hasRunTestCapture) {
        AppSettings settings = m_context.settings();
        settings.hasRunTestCapture = true;
        m_context.setSettings(settings);
        m_context.persistSettings();
    }
    if (reading) {
        // The review is open already; the sections still being read fill it.
        m_recognition.fillFromCapture(std::move(coordinator), draft.id, stopped);
        m_context.setStatusMessage(QStringLiteral("Review scrolling capture"));
        return;
    }
    const CapturePhase next
        = empty || result.recognitionError || OCRLayout::isLowConfidence(draft.observations)
        ? CapturePhase::needsOCR
        : CapturePhase::review;
    if (allows(m_context, next))
        m_context.setPhase(next);
    m_context.setStatusMessage(QStringLiteral("Review scrolling capture"));
}

void ScrollingCaptureFlow::resumeScrollingCaptureAfterRelaunchIfNeeded()
{
    DefaultsStore &defaults = m_context.defaults();
    if (m_context.permissions().isRelaunching()
        || !defaults.boolean(PermissionController::resumeScrollingCaptureAfterRelaunchKey))
        return;
    if (!m_regionCapture.setupAllowsCapture())
        return;
    if (!scrollingAllowed())
        return;
    defaults.setBoolean(PermissionController::resumeScrollingCaptureAfterRelaunchKey, false);
    startScrollingCapture();
}

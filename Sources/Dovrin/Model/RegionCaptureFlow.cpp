#include "Model/RegionCaptureFlow.h"

#include "Capture/ScreenCaptureError.h"
#include "Documents/DefaultsStore.h"
#include "Documents/ImageNormalization.h"
#include "Documents/WriteFailureReason.h"
#include "Model/CaptureReviewFlow.h"
#include "Model/DraftFlow.h"
#include "Model/ModelContext.h"
#include "Model/ModelServices.h"
#include "Model/OnboardingStep.h"
#include "Model/ReviewSession.h"
#include "Model/VisualCaptureState.h"
#include "Services/PermissionController.h"

#include <QtConcurrent>

#include <stdexcept>

namespace {

const QString screenRecordingNeededText = QStringLiteral("Screen Recording permission is needed");
const QString canceledText = QStringLiteral("Capture canceled");

bool allows(const ModelContext &context, CapturePhase to)
{
    return CapturePhaseTransition::allows(context.phase(), to);
}

} // namespace

RegionCaptureFlow::RegionCaptureFlow(ModelContext &context, CaptureReviewFlow &review, QObject *parent)
    : QObject(parent)
    , m_context(context)
    , m_review(review)
{ }

bool RegionCaptureFlow::redirectToPendingDraftIfNeeded()
{
    if (!m_context.pendingDraft() || m_context.reviewSession())
        return false;
    m_context.requestWindow(QStringLiteral("recovery"));
    m_context.setStatusMessage(
        QStringLiteral("Resume or delete the unfinished capture before starting another"));
    return true;
}

void RegionCaptureFlow::refreshPermissionRows()
{
    PermissionController &permissions = m_context.permissions();
    permissions.refreshScreen();
    permissions.refreshScrolling();
    permissions.refreshMicrophone();
    permissions.refreshSystemAudio();
}

bool RegionCaptureFlow::setupAllowsCapture() const
{
    // The test-capture step of setup counts as complete for capturing: it needs a capture.
    return m_context.setupPresentation().isComplete
        || m_context.settings().currentOnboardingStep() >= int(OnboardingStep::testCapture);
}

bool RegionCaptureFlow::setupBlocks()
{
    if (setupAllowsCapture())
        return false;
    m_context.setupPresentation().prepareExplicitPresentation();
    m_context.requestWindow(QStringLiteral("setup"));
    return true;
}

bool RegionCaptureFlow::screenPermissionBlocks()
{
    if (m_context.permissions().lastScreenPreflight())
        return false;
    if (m_context.phase() == CapturePhase::idle && allows(m_context, CapturePhase::needsPermission))
        m_context.setPhase(CapturePhase::needsPermission);
    m_context.requestWindow(QStringLiteral("setup"));
    AppSettings settings = m_context.settings();
    settings.onboardingStep = int(OnboardingStep::screenRecording);
    m_context.setSettings(settings);
    m_context.persistSettings();
    m_context.setupPresentation().prepareExplicitPresentation();
    m_context.setStatusMessage(screenRecordingNeededText);
    return true;
}

void RegionCaptureFlow::focusReview()
{
    if (m_context.services().windows.reveal)
        m_context.services().windows.reveal();
    if (ReviewWindowPresenter *window = m_context.drafts().reviewWindow())
        window->bringToFront();
}

Task<> RegionCaptureFlow::handleCaptureInvocation()
{
    if (redirectToPendingDraftIfNeeded())
        co_return;
    const PermissionController &permissions = m_context.permissions();
    const DefaultsStore &defaults = m_context.defaults();
    const ScreenPermissionState permission = ScreenPermissionStates::resolve(
        permissions.lastScreenPreflight(), defaults.boolean(PermissionController::screenCaptureGrantedKey),
        defaults.boolean(PermissionController::screenCaptureRequestedKey));
    Task<> acting = perform(CaptureInvocation::action(m_context.phase(), setupAllowsCapture(), permission,
        m_context.audio().isBusy(), m_context.visualCapture().scrollingCaptureGeneration.has_value()));
    co_await acting;
}

Task<> RegionCaptureFlow::perform(CaptureInvocation::Action action)
{
    using Action = CaptureInvocation::Action;
    switch (action) {
    case Action::beginNew: {
        Task<> starting = startCapture();
        co_await starting;
        break;
    }
    case Action::focusSelection:
        if (m_context.visualCapture().overlay)
            m_context.visualCapture().overlay->refocus();
        break;
    case Action::focusReview:
        focusReview();
        break;
    case Action::requestPermission: {
        m_context.requestWindow(QStringLiteral("setup"));
        AppSettings settings = m_context.settings();
        settings.onboardingStep = int(OnboardingStep::screenRecording);
        m_context.setSettings(settings);
        m_context.persistSettings();
        m_context.setupPresentation().prepareExplicitPresentation();
        m_context.setStatusMessage(screenRecordingNeededText);
        break;
    }
    case Action::requestSetup:
        m_context.setupPresentation().prepareExplicitPresentation();
        m_context.requestWindow(QStringLiteral("setup"));
        break;
    case Action::blockedByAudio:
        m_context.setStatusMessage(QStringLiteral("Finish or stop audio before capturing a region"));
        break;
    case Action::ignore:
        if (m_context.visualCapture().scrollingCaptureGeneration)
            m_context.setStatusMessage(QStringLiteral("Scrolling capture is already in progress"));
        break;
    }
}

Task<> RegionCaptureFlow::startCapture()
{
    if (redirectToPendingDraftIfNeeded())
        co_return;
    refreshPermissionRows();
    if (setupBlocks() || screenPermissionBlocks())
        co_return;
    if (m_context.audio().isBusy()) {
        m_context.setStatusMessage(QStringLiteral("Finish or stop audio before capturing a region"));
        co_return;
    }
    Task<> storeStart = m_context.drafts().startDraftStoreIfNeeded();
    co_await storeStart;
    if (!m_context.drafts().store()) {
        m_context.setStatusMessage(
            QStringLiteral("Encrypted draft storage is unavailable. Try the capture again."));
        co_return;
    }
    if (m_context.drafts().holdsNewerDraft()) {
        Task<bool> settingAside = m_context.drafts().setNewerDraftAside();
        if (!co_await settingAside)
            co_return;
    }
    // Starting the store may have restored a draft: a new capture would replace it.
    if (redirectToPendingDraftIfNeeded())
        co_return;
    const CaptureInvocation::Action action = CaptureInvocation::action(
        m_context.phase(), true, ScreenPermissionState::granted, m_context.audio().isBusy(), false);
    // The one draft belongs to the open review: a new capture would take its place.
    if (m_context.reviewSession()) {
        focusReview();
        co_return;
    }
    if (action != CaptureInvocation::Action::beginNew) {
        Task<> acting = perform(action);
        co_await acting;
        co_return;
    }
    m_context.audio().clearTerminalState();
    const std::optional<ForeignApplication> remembered = consumeRememberedApplication();
    if (m_context.phase() == CapturePhase::saved)
        m_context.setReceipt(std::nullopt);
    if (!allows(m_context, CapturePhase::selecting))
        co_return;
    m_context.setPhase(CapturePhase::selecting);
    m_context.setStatusMessage(QStringLiteral("Select a region"));
    VisualCaptureState &state = m_context.visualCapture();
    const int generation = ++state.captureGeneration;
    state.captureTask.cancel();
    state.captureTask = captureRegion(generation, remembered);
}

std::optional<ForeignApplication> RegionCaptureFlow::consumeRememberedApplication()
{
    VisualCaptureState &state = m_context.visualCapture();
    std::optional<ForeignApplication> answer;
    if (state.rememberedApplication && state.rememberedApplicationAt
        && state.rememberedApplicationAt->msecsTo(m_context.services().now()) < 2000)
        answer = state.rememberedApplication;
    state.forgetRememberedApplication();
    return answer;
}

Task<ForeignApplication> RegionCaptureFlow::frontmostApplication()
{
    const std::function<ForeignApplication()> ask = m_context.services().frontmostApplication;
    if (!ask)
        co_return ForeignApplication {};
    QFuture<ForeignApplication> asking = QtConcurrent::run(ask);
    co_return co_await asking;
}

QPointer<SelectionOverlayCoordinator> RegionCaptureFlow::makeOverlay(CaptureSelectionMode mode)
{
    VisualCaptureState &state = m_context.visualCapture();
    if (state.overlay)
        state.overlay->cancel();
    state.overlay.reset(m_context.services().makeOverlay(mode).release());
    QPointer<SelectionOverlayCoordinator> overlay = state.overlay.get();
    overlay->prepareForSnapshotCapture();
    return overlay;
}

void RegionCaptureFlow::releaseOverlay(const QPointer<SelectionOverlayCoordinator> &overlay, bool cancel)
{
    if (!overlay)
        return;
    if (cancel)
        overlay->cancel();
    VisualCaptureState &state = m_context.visualCapture();
    if (state.overlay.get() == overlay.data())
        state.overlay.reset();
}

QString RegionCaptureFlow::failureText(
    std::exception_ptr error, const QString &canceled, const QString &fallback)
{
    try {
        std::rethrow_exception(error);
    } catch (const TaskCancelled &) {
        return canceled;
    } catch (const ScreenCaptureError &failure) {
        return failure.code() == ScreenCaptureError::canceled ? canceled : failure.description();
    } catch (const ScrollingCaptureFailure &failure) {
        return failure.error() == ScrollingCaptureError::canceled ? canceled : failure.description();
    } catch (...) {
        const std::optional<QString> reason = WriteFailureReason::describe(std::current_exception());
        return reason ? fallback + QStringLiteral(": ") + *reason : fallback;
    }
}

Task<> RegionCaptureFlow::captureRegion(int generation, std::optional<ForeignApplication> remembered)
{
    VisualCaptureState &state = m_context.visualCapture();
    const auto stale = [&state, generation] { return generation != state.captureGeneration; };
    QPointer<SelectionOverlayCoordinator> overlay;
    std::exception_ptr failure;
    try {
        ForeignApplication source;
        if (remembered) {
            source = *remembered;
        } else {
            Task<ForeignApplication> asking = frontmostApplication();
            source = co_await asking;
            CurrentTask::checkCancelled();
            if (stale())
                co_return;
        }
        overlay = makeOverlay(CaptureSelectionMode::region);
        Task<QList<DisplaySnapshot>> grabbing = m_context.services().snapshots(
            [overlay] { return overlay ? overlay->screenChangeGeneration() : quint64(0); },
            [overlay](quint64 accepted) {
                if (overlay)
                    overlay->setAcceptedSnapshotGeneration(accepted);
            });
        const QList<DisplaySnapshot> snapshots = co_await grabbing;
        CurrentTask::checkCancelled();
        if (stale()) {
            releaseOverlay(overlay, true);
            co_return;
        }
        Task<CapturedRegion> selecting = overlay->select(snapshots);
        const CapturedRegion region = co_await selecting;
        releaseOverlay(overlay, false);
        CurrentTask::checkCancelled();
        if (stale() || !allows(m_context, CapturePhase::captured))
            co_return;
        m_context.setPhase(CapturePhase::captured);
        Task<> accepting = acceptCapture(region, source, generation);
        co_await accepting;
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure)
        co_return;
    releaseOverlay(overlay, true);
    if (stale())
        co_return;
    Task<> abandoning = abandonDraftReturningToIdle(
        failureText(failure, canceledText, QStringLiteral("Capture could not finish")));
    co_await abandoning;
}

Task<> RegionCaptureFlow::acceptCapture(CapturedRegion region, ForeignApplication source, int generation)
{
    struct Normalized
    {
        QImage image;
        std::optional<QByteArray> png;
    };
    // Redrawing and encoding a whole display takes a while.
    QFuture<Normalized> normalizing = QtConcurrent::run([image = region.image] {
        const QImage normalized = ImageNormalization::normalize(image);
        return Normalized { normalized, ImageNormalization::pngData(normalized) };
    });
    const Normalized normalized = co_await normalizing;
    VisualCaptureState &state = m_context.visualCapture();
    CurrentTask::checkCancelled();
    if (generation != state.captureGeneration)
        co_return;
    if (!normalized.png)
        throw ScreenCaptureError(ScreenCaptureError::invalidSelection);

    const ModelServices &services = m_context.services();
    const QDateTime createdAt = services.now();
    const CaptureDraft draft(QUuid::createUuid(), createdAt, services.now(), region.observedAt,
        *normalized.png, std::nullopt, QString(), {}, {}, source.name, source.bundleID,
        QStringLiteral("Untitled capture"), QString(), {}, std::nullopt, std::nullopt);
    DraftFlow &drafts = m_context.drafts();
    drafts.setCurrentImage(normalized.image);
    drafts.setCurrentDraft(draft);
    if (!drafts.store())
        throw std::runtime_error("no draft store");
    QFuture<std::exception_ptr> saving = drafts.onDraftThread([draft](const EncryptedDraftStore &store) {
        try {
            store.save(draft);
            return std::exception_ptr();
        } catch (...) {
            return std::current_exception();
        }
    });
    // The store's own error goes on: it tells why (a full disk, a folder that went read-only).
    if (const std::exception_ptr failed = co_await saving)
        std::rethrow_exception(failed);
    CurrentTask::checkCancelled();
    if (generation != state.captureGeneration)
        co_return;

    if (allows(m_context, CapturePhase::ocrProcessing))
        m_context.setPhase(CapturePhase::ocrProcessing);
    drafts.presentReview(draft, QStringLiteral("Recognizing text…"));
    if (!m_context.settings().hasRunTestCapture) {
        AppSettings settings = m_context.settings();
        settings.hasRunTestCapture = true;
        m_context.setSettings(settings);
        m_context.persistSettings();
    }
    m_review.runOCR(normalized.image, draft.id);
}

Task<> RegionCaptureFlow::abandonDraftReturningToIdle(QString message)
{
    VisualCaptureState &state = m_context.visualCapture();
    if (m_context.services().dismissPrompt)
        m_context.services().dismissPrompt(false);
    m_context.permissions().cancelScrollingPermissionWait();
    state.invalidateOCRTask();
    state.captureTask.cancel();
    if (state.overlay) {
        state.overlay->cancel();
        state.overlay.reset();
    }
    if (state.scrollingCapture) {
        state.scrollingCapture->setCancelRequested(true);
        state.scrollingCapture.reset();
    }
    state.scrollingCaptureGeneration.reset();
    const int generation = state.captureGeneration;
    Task<bool> clearing = m_context.drafts().clearDraftArtifacts();
    const bool cleared = co_await clearing;
    // A capture started meanwhile owns the phase and the status now.
    if (generation != state.captureGeneration)
        co_return;
    if (const std::shared_ptr<ReviewSession> session = m_context.reviewSession())
        session->setOCRRunning(false);
    m_context.resetPhaseToIdle();
    m_context.setStatusMessage(
        cleared ? message : message + QStringLiteral(". The temporary draft is still on this computer."));
}

Task<> RegionCaptureFlow::cancelVisualCapture()
{
    if (!m_context.isVisualCaptureActive())
        co_return;
    VisualCaptureState &state = m_context.visualCapture();
    m_context.permissions().cancelScrollingPermissionWait();
    ++state.captureGeneration;
    if (state.overlay) {
        state.overlay->cancel();
        state.overlay.reset();
    }
    if (state.scrollingCapture) {
        state.scrollingCapture->setCancelRequested(true);
        state.scrollingCapture.reset();
    }
    Task<> abandoning = abandonDraftReturningToIdle(canceledText);
    co_await abandoning;
}

#include "RealScrollingRun.h"
#include "HideWatch.h"

#include "Capture/OCRService.h"
#include "Capture/ScreenCaptureService.h"
#include "ScrollTargetProcess.h"
#include "Scrolling/ScrollingControlPanel.h"
#include "ScrollingCaptureRecorder.h"
#include "ScrollingTestApplication.h"
#include "ScrollingTestDocument.h"
#include "TranscriptComparison.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

namespace {

QString endName(ScrollingCaptureEnd end)
{
    switch (end) {
    case ScrollingCaptureEnd::done:
        return QStringLiteral("done");
    case ScrollingCaptureEnd::endOfContent:
        return QStringLiteral("endOfContent");
    case ScrollingCaptureEnd::paused:
        return QStringLiteral("paused");
    case ScrollingCaptureEnd::durationLimit:
        return QStringLiteral("durationLimit");
    case ScrollingCaptureEnd::tileLimit:
        return QStringLiteral("tileLimit");
    case ScrollingCaptureEnd::pixelLimit:
        return QStringLiteral("pixelLimit");
    case ScrollingCaptureEnd::byteLimit:
        return QStringLiteral("byteLimit");
    }
    return {};
}

} // namespace

QString RealScrollingRun::nameOf(Verdict verdict)
{
    switch (verdict) {
    case Verdict::complete:
        return QStringLiteral("complete");
    case Verdict::paused:
        return QStringLiteral("paused");
    case Verdict::limit:
        return QStringLiteral("limit");
    case Verdict::silentLoss:
        return QStringLiteral("SILENT LOSS");
    case Verdict::silentDouble:
        return QStringLiteral("SILENT DOUBLE");
    case Verdict::hole:
        return QStringLiteral("HOLE");
    case Verdict::failed:
        return QStringLiteral("failed");
    }
    return {};
}

RealScrollingRun::Outcome RealScrollingRun::capture(const ScrollingTestApplication &application,
    const ScrollingTestDocument &document, const QString &recordTo)
{
    Outcome outcome;
    outcome.truthLines = int(document.truth().size());
    QTemporaryDir drafts;
    EncryptedDraftStore store(drafts.path(), QByteArray(32, '\x42'));
    ScreenCaptureService screens;
    OCRService ocr;
    ScrollingCaptureCoordinator::CaptureViewport viewport
        = [&screens](ScrollingRegionGeometry geometry) { return screens.scrollingViewport(geometry); };
    ScrollingCaptureEnvironment environment = ScrollingCaptureEnvironment::live();
    ScrollingCaptureCoordinator::FrameFunctions frames = ScrollingCaptureCoordinator::defaultFrameFunctions();
    std::unique_ptr<ScrollingCaptureRecorder> recorder;
    if (!recordTo.isEmpty()) {
        recorder = std::make_unique<ScrollingCaptureRecorder>(recordTo);
        viewport = recorder->viewport(viewport);
        environment = recorder->environment(environment);
        frames = recorder->frames(frames);
    }
    ScrollingCaptureCoordinator coordinator(
        ScrollTargetProcess::geometryOf(application.region()), application.captureTarget(),
        QUuid::createUuid(), store, viewport,
        [&ocr](QImage image) { return ocr.recognizeText(std::move(image)); },
        ScrollingCaptureLimits::production, environment, frames.prepareFrame, frames.alignFrames,
        frames.frameDifference);

    QElapsedTimer clock;
    clock.start();
    HideWatch panelHidden([&] {
        if (outcome.scrollingSeconds == 0)
            outcome.scrollingSeconds = clock.nsecsElapsed() / 1e9;
    });
    ScrollingControlPanel *panel = coordinator.controlPanel();
    panel->installEventFilter(&panelHidden);
    QObject::connect(&coordinator, &ScrollingCaptureCoordinator::paused, &coordinator, [&] {
        outcome.pausedWithMessage = panel->message()->isVisible() && !panel->message()->text().isEmpty();
        // As a person would, once the message is there to read.
        QTimer::singleShot(0, panel->doneButton(), &QPushButton::click);
    });
    std::optional<ScrollingCaptureResult> result;
    QEventLoop loop;
    bool finished = false;
    Task<void> task = Task<void>::spawn(&coordinator, [&]() -> Task<void> {
        try {
            Task<ScrollingCaptureResult> running = coordinator.run();
            Task<ScrollingCaptureResult> reading = coordinator.withRecognizedText(co_await running);
            result = co_await reading;
        } catch (const ScrollingCaptureFailure &failure) {
            outcome.detail = failure.description();
        } catch (const std::exception &error) {
            outcome.detail = QString::fromUtf8(error.what());
        }
        finished = true;
        loop.quit();
    });
    if (!finished)
        loop.exec();
    outcome.seconds = clock.nsecsElapsed() / 1e9;
    if (outcome.scrollingSeconds == 0)
        outcome.scrollingSeconds = outcome.seconds;
    outcome.times = coordinator.times();

    if (result) {
        outcome.end = result->end;
        outcome.text = result->draft.reviewedText;
        outcome.screens = double(result->draft.scrollingCapture->pixelHeight)
            / std::max(1, application.region().height());
        const TranscriptComparison comparison(document.truth(), outcome.text, document.decorations());
        outcome.linesReached = comparison.linesReached();
        outcome.detail = comparison.summary();
        const bool missingAtEnd = comparison.linesMissingAtEnd() > 0;
        if (!comparison.doubles().isEmpty() || comparison.mostDecorationReadings() > 1)
            outcome.verdict = Verdict::silentDouble;
        else if (!comparison.holes().isEmpty())
            outcome.verdict = Verdict::hole;
        else if (result->end == ScrollingCaptureEnd::paused)
            outcome.verdict = outcome.pausedWithMessage ? Verdict::paused : Verdict::silentLoss;
        else if (result->end == ScrollingCaptureEnd::endOfContent || result->end == ScrollingCaptureEnd::done)
            outcome.verdict = missingAtEnd ? Verdict::silentLoss : Verdict::complete;
        else
            outcome.verdict = Verdict::limit;
    }
    if (recorder) {
        QJsonObject about;
        about.insert(QStringLiteral("application"), ScrollingTestApplication::nameOf(application.kind()));
        about.insert(QStringLiteral("document"), document.name());
        about.insert(QStringLiteral("region"),
            QJsonArray { application.region().width(), application.region().height() });
        about.insert(QStringLiteral("verdict"), nameOf(outcome.verdict));
        about.insert(QStringLiteral("detail"), outcome.detail);
        about.insert(QStringLiteral("end"), outcome.end ? endName(*outcome.end) : QStringLiteral("failed"));
        about.insert(QStringLiteral("truthLines"), outcome.truthLines);
        about.insert(QStringLiteral("linesReached"), outcome.linesReached);
        if (!recorder->finish(about))
            outcome.detail += QStringLiteral(" (the recording could not be written)");
    }
    return outcome;
}

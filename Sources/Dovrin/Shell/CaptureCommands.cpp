#include "Shell/CaptureCommands.h"

#include "Audio/AudioSessionCoordinator.h"
#include "Model/AppModel.h"
#include "Model/ReviewSession.h"
#include "Rules/FeedbackMail.h"
#include "Shell/StoredBoolean.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>

namespace {

// The editing commands act on the focused editor, as its own keys and context menu do.
void editFocused(const char *slot)
{
    if (QWidget *focus = QApplication::focusWidget())
        QMetaObject::invokeMethod(focus, slot);
}

} // namespace

CaptureCommands::CaptureCommands(
    AppModel &model, const ModelCommands &commands, StoredBoolean &showInspector, QMenuBar *menuBar)
    : QObject(menuBar)
    , m_model(model)
    , m_commands(commands)
    , m_showInspector(showInspector)
{
    AppModel *m = &model;
    const ModelCommands *c = &commands;
    QMenu *file = menuBar->addMenu(QStringLiteral("&File"));
    connect(add(file, "save", QStringLiteral("Save Markdown")), &QAction::triggered, this,
        [c] { c->saveOpenReview(); });
    connect(add(file, "close", QStringLiteral("Close")), &QAction::triggered, this, [] {
        if (QWidget *window = QApplication::activeWindow())
            window->close();
    });
    file->addSeparator();
    connect(add(file, "quit", QStringLiteral("Quit Quorvel")), &QAction::triggered, this,
        [] { QCoreApplication::quit(); });
    m_actions.value("save")->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    m_actions.value("close")->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    m_actions.value("quit")->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu *edit = menuBar->addMenu(QStringLiteral("&Edit"));
    const struct
    {
        const char *id;
        const char *title;
        const char *slot;
        QKeySequence::StandardKey key;
    } editing[] = { { "cut", "Cut", "cut", QKeySequence::Cut },
        { "copy", "Copy", "copy", QKeySequence::Copy }, { "paste", "Paste", "paste", QKeySequence::Paste },
        { "select-all", "Select All", "selectAll", QKeySequence::SelectAll } };
    for (const auto &command : editing) {
        QAction *action = add(edit, command.id, QString::fromLatin1(command.title));
        action->setShortcut(command.key);
        // Editors take these keys themselves; the menu line only shows them.
        action->setShortcutContext(Qt::WidgetShortcut);
        const char *slot = command.slot;
        connect(action, &QAction::triggered, this, [slot] { editFocused(slot); });
    }
    edit->addSeparator();
    connect(add(edit, "copy-text", QStringLiteral("Copy Captured Text")), &QAction::triggered, this,
        [c] { c->copyReviewedText(); });

    QMenu *capture = menuBar->addMenu(QStringLiteral("&Capture"));
    connect(add(capture, "capture", QStringLiteral("Capture Region…")), &QAction::triggered, this, [m, c] {
        m->rememberFrontmostApplication();
        c->handleCaptureInvocation();
    });
    connect(add(capture, "scrolling", QStringLiteral("Capture Scrolling Region…")), &QAction::triggered, this,
        [m, c] {
            m->rememberFrontmostApplication();
            c->startScrollingCapture();
        });
    connect(add(capture, "cancel", QStringLiteral("Cancel Capture")), &QAction::triggered, this,
        [c] { c->cancelVisualCapture(); });
    capture->addSeparator();
    connect(add(capture, "audio", QString()), &QAction::triggered, this, [c] { c->handleAudioInvocation(); });
    capture->addSeparator();
    connect(add(capture, "ocr", QString()), &QAction::triggered, this, [m, c] {
        // Decided again now: recognition may have ended since the menu was drawn.
        const std::shared_ptr<ReviewSession> review = m->reviewSession();
        if (review && review->isOCRRunning())
            c->cancelOCR();
        else
            c->retryOCR();
    });
    capture->addSeparator();
    connect(add(capture, "delete-draft", QStringLiteral("Delete Draft…")), &QAction::triggered, m,
        [m] { m->setPresentsDraftDeleteAlert(true); });

    QMenu *view = menuBar->addMenu(QStringLiteral("&View"));
    connect(add(view, "inspector", QString()), &QAction::triggered, this,
        [this] { m_showInspector.setValue(!m_showInspector.value()); });

    QMenu *help = menuBar->addMenu(QStringLiteral("&Help"));
    connect(add(help, "feedback", FeedbackMail::sendActionTitle()), &QAction::triggered, m,
        [m] { m->sendFeedback(); });

    for (QMenu *menu : { file, edit, capture, view, help })
        connect(menu, &QMenu::aboutToShow, this, &CaptureCommands::refresh);
    for (auto signal : { &AppModel::phaseChanged, &AppModel::reviewSessionChanged })
        connect(&model, signal, this, &CaptureCommands::refresh);
    connect(&model.audio(), &AudioSessionCoordinator::phaseChanged, this, &CaptureCommands::refresh);
    connect(&model.audio(), &AudioSessionCoordinator::elapsedChanged, this, &CaptureCommands::refresh);
    connect(&showInspector, &StoredBoolean::changed, this, &CaptureCommands::refresh);
    refresh();
}

QAction *CaptureCommands::add(QMenu *menu, const QString &id, const QString &title)
{
    QAction *action = menu->addAction(title);
    action->setObjectName(id);
    m_actions.insert(id, action);
    return action;
}

void CaptureCommands::followReview()
{
    ReviewSession *review = m_model.reviewSession().get();
    if (review == m_followed)
        return;
    if (m_followed)
        disconnect(m_followed, nullptr, this, nullptr);
    m_followed = review;
    if (review)
        connect(review, &ReviewSession::changed, this, &CaptureCommands::refresh);
}

void CaptureCommands::refresh()
{
    followReview();
    const std::shared_ptr<ReviewSession> review = m_model.reviewSession();
    const AudioSessionCoordinator &audio = m_model.audio();
    const bool visualActive = m_model.isVisualCaptureActive();
    const bool captureEnabled = !audio.isBusy() && !visualActive;
    const bool reviewIdle = review && !review->isSaving();

    const ModelCommands &c = m_commands;
    m_actions.value("save")->setEnabled(review && review->canSave() && c.saveOpenReview);
    m_actions.value("copy-text")
        ->setEnabled(review && !review->reviewedText().isEmpty() && c.copyReviewedText);
    m_actions.value("capture")->setEnabled(captureEnabled && c.handleCaptureInvocation);
    m_actions.value("scrolling")->setEnabled(captureEnabled && c.startScrollingCapture);
    m_actions.value("cancel")->setEnabled(visualActive && c.cancelVisualCapture);
    QAction *audioCommand = m_actions.value("audio");
    audioCommand->setText(m_model.audioMenuTitle());
    audioCommand->setEnabled(
        audio.phase() != AudioSessionPhase::transcribing && !visualActive && c.handleAudioInvocation);
    QAction *ocr = m_actions.value("ocr");
    const bool recognizing = review && review->isOCRRunning();
    ocr->setText(recognizing ? QStringLiteral("Cancel OCR") : QStringLiteral("Retry OCR"));
    ocr->setEnabled(reviewIdle && c.cancelOCR && c.retryOCR);
    m_actions.value("delete-draft")->setEnabled(reviewIdle);
    QAction *inspector = m_actions.value("inspector");
    inspector->setText(
        m_showInspector.value() ? QStringLiteral("Hide Inspector") : QStringLiteral("Show Inspector"));
    inspector->setEnabled(review != nullptr);
}

#include "Windows/AudioReviewView.h"

#include "Model/AppModel.h"
#include "Model/AudioReviewSession.h"
#include "Services/WindowActivation.h"
#include "Vemi/VemiButton.h"
#include "Vemi/VemiCharacter.h"
#include "Windows/FieldFrame.h"
#include "Windows/FramedTextEditor.h"
#include "Windows/Hairline.h"
#include "Windows/OrderedLineEdit.h"
#include "Windows/TextLabel.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QShortcut>
#include <QVBoxLayout>

namespace {

const QString notAvailable = QStringLiteral("Transcription was not available. See the note above.");
const QString noSpeech = QStringLiteral("No speech recognized.");

} // namespace

AudioReviewView::AudioReviewView(
    AppModel *model, std::shared_ptr<AudioReviewSession> session, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_session(std::move(session))
{
    setWindowTitle(QStringLiteral("Review Audio"));
    setFixedSize(720, 560);
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(20, 14, 20, 14);
    header->setSpacing(12);
    auto *waveform = new VemiWaveform(VemiColor::teal);
    waveform->setFixedSize(32, 26);
    header->addWidget(waveform);
    header->addWidget(
        new TextLabel(QStringLiteral("Edit You and Others before saving. Audio stays on this computer."),
            VemiTextStyle::callout, QFont::Normal, VemiColor::secondary));
    header->addStretch(1);
    auto *character = new VemiStateView(VemiState::listening, 38, true);
    character->setFixedSize(std::max(66, character->sizeHint().width()), character->sizeHint().height());
    header->addWidget(character);
    root->addLayout(header);
    root->addWidget(new Hairline);

    auto *scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scroll->viewport()->setAutoFillBackground(false);
    auto *body = new QWidget;
    auto *stack = new QVBoxLayout(body);
    stack->setContentsMargins(20, 20, 20, 20);
    stack->setSpacing(16);

    auto *titlePanel = new VemiPanel(12);
    auto *titleRow = new QHBoxLayout;
    titleRow->setSpacing(12);
    titleRow->addWidget(new TextLabel(QStringLiteral("Title"), VemiTextStyle::body, QFont::DemiBold));
    m_title = new OrderedLineEdit;
    m_title->setFrame(false);
    m_title->setFont(VemiFonts::font(VemiTextStyle::body));
    m_title->setPlaceholderText(QStringLiteral("Audio capture title"));
    m_title->setAccessibleName(QStringLiteral("Title"));
    // Framed like the transcripts below, so it reads as a field in either appearance.
    titleRow->addWidget(new FieldFrame(m_title, 7, 5), 1);
    titlePanel->contentLayout()->addLayout(titleRow);
    stack->addWidget(titlePanel);
    connect(
        m_title, &QLineEdit::textEdited, this, [this](const QString &text) { m_session->setTitle(text); });

    m_notePanel = new VemiPanel(12);
    m_notePanel->setObjectName(QStringLiteral("audio-review.transcription-note"));
    m_notePanel->contentLayout()->setSpacing(5);
    auto *noteHeading = new QHBoxLayout;
    noteHeading->setSpacing(6);
    const qreal symbolSize = VemiFonts::pixelSize(VemiTextStyle::headline) + 1;
    noteHeading->addWidget(
        new VemiSymbolView(QStringLiteral("exclamationmark.triangle.fill"), VemiColor::coral, symbolSize));
    m_noteTitle = new TextLabel(QString(), VemiTextStyle::headline, QFont::Bold, VemiColor::coral);
    noteHeading->addWidget(m_noteTitle, 1);
    m_notePanel->contentLayout()->addLayout(noteHeading);
    m_noteText = new TextLabel(QString(), VemiTextStyle::callout, QFont::Normal, VemiColor::secondary);
    m_noteText->setWordWrap(true);
    m_noteText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_notePanel->contentLayout()->addWidget(m_noteText);
    stack->addWidget(m_notePanel);

    stack->addWidget(transcriptPanel(QStringLiteral("Others"),
        QStringLiteral("audio-review.others-transcript"), m_othersEditor, m_othersEmpty));
    stack->addWidget(transcriptPanel(
        QStringLiteral("You"), QStringLiteral("audio-review.you-transcript"), m_youEditor, m_youEmpty));
    connect(m_othersEditor, &FramedTextEditor::textEdited, this,
        [this](const QString &text) { m_session->setOthersText(text); });
    connect(m_youEditor, &FramedTextEditor::textEdited, this,
        [this](const QString &text) { m_session->setYouText(text); });
    stack->addStretch(1);
    scroll->setWidget(body);
    // The scroll area fills what it holds with the desktop's window colour; the canvas shows instead.
    body->setAutoFillBackground(false);
    root->addWidget(scroll, 1);
    root->addWidget(new Hairline);

    m_footer = new QWidget;
    QWidget *footer = m_footer;
    auto *footerRow = new QHBoxLayout(footer);
    footerRow->setContentsMargins(16, 16, 16, 16);
    m_status = new VemiStatusLabel(QString(), VemiColor::teal, QStringLiteral("lock.fill"));
    footerRow->addWidget(m_status, 1);
    m_discard = new VemiButton(QStringLiteral("Discard"));
    m_save = new VemiButton(QStringLiteral("Save Markdown"));
    footerRow->addWidget(m_discard);
    footerRow->addWidget(m_save);
    VemiButtonStyle::vemiActionGroup(footer, VemiControlSize::regular);
    VemiButtonStyle::vemiPrimaryAction(m_save, VemiControlSize::regular);
    root->addWidget(footer);
    connect(m_save, &QPushButton::clicked, this, &AudioReviewView::save);
    connect(m_discard, &QPushButton::clicked, this, &AudioReviewView::confirmDiscard);
    // Return is the default action, as long as Save is available.
    for (const int key : { Qt::Key_Return, Qt::Key_Enter }) {
        auto *shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, &AudioReviewView::save);
    }

    connect(m_session.get(), &AudioReviewSession::changed, this, &AudioReviewView::refresh);
    refresh();
}

QWidget *AudioReviewView::transcriptPanel(
    const QString &label, const QString &identifier, FramedTextEditor *&editor, VemiStatusLabel *&empty)
{
    auto *panel = new VemiPanel(12);
    panel->contentLayout()->setSpacing(7);
    panel->contentLayout()->addWidget(new TextLabel(label, VemiTextStyle::headline, QFont::Bold));
    editor = new FramedTextEditor(7, 7);
    editor->setGrowsWithText(104);
    editor->editor()->setObjectName(identifier);
    editor->editor()->setAccessibleName(label + QStringLiteral(" transcript"));
    panel->contentLayout()->addWidget(editor);
    empty = new VemiStatusLabel(QString(), VemiColor::teal, QStringLiteral("waveform"));
    panel->contentLayout()->addWidget(empty);
    return panel;
}

QString AudioReviewView::othersEmptyText(const AudioReviewSession &session)
{
    if (session.othersNotWritten)
        return QStringLiteral("What was heard could not be written.");
    if (!session.heardOthers)
        return QStringLiteral("No system audio was heard.");
    return session.othersTranscriptionUnavailable ? notAvailable : noSpeech;
}

QString AudioReviewView::youEmptyText(const AudioReviewSession &session)
{
    if (!session.heardYou)
        return QStringLiteral("Microphone was not recorded.");
    return session.youTranscriptionUnavailable ? notAvailable : noSpeech;
}

void AudioReviewView::refresh()
{
    const AudioReviewSession &session = *m_session;
    if (m_title->text() != session.title())
        m_title->setText(session.title());
    m_othersEditor->setText(session.othersText());
    m_youEditor->setText(session.youText());

    const std::optional<QString> note = session.visibleNote();
    m_notePanel->setVisible(note.has_value());
    m_noteTitle->setText(session.transcriptionIssue.isEmpty() ? QStringLiteral("Recording note")
                                                              : QStringLiteral("Transcription note"));
    m_noteText->setText(note.value_or(QString()));

    m_othersEmpty->setText(othersEmptyText(session));
    m_othersEmpty->setColor(session.heardOthers ? VemiColor::teal : VemiColor::coral);
    m_othersEmpty->setVisible(session.othersText().trimmed().isEmpty());
    m_youEmpty->setText(youEmptyText(session));
    m_youEmpty->setVisible(session.youText().trimmed().isEmpty());

    m_status->setText(session.statusText());
    const bool busy = session.isSaving() || m_saveRunning;
    m_discard->setEnabled(!busy);
    m_save->setEnabled(!busy && !session.saveGate.hasSucceeded());
}

void AudioReviewView::save()
{
    if (!m_model || !m_save->isEnabled())
        return;
    // The model marks the session as saving only when its task starts; until then this view holds
    // the buttons itself, so a second press cannot start a second save.
    m_saveRunning = true;
    refresh();
    const QPointer<AudioReviewView> self(this);
    const QPointer<QWidget> window(this->window());
    const std::shared_ptr<AudioReviewSession> session = m_session;
    const Task<bool> saving = m_model->saveAudioReview(true);
    saving.whenFinished(m_model.data(), [self, window, session] {
        if (self) {
            self->m_saveRunning = false;
            self->refresh();
        }
        // The model may already have replaced this view; the window closes all the same.
        if (session->saveGate.hasSucceeded() && window)
            window->close();
    });
}

void AudioReviewView::confirmDiscard()
{
    if (m_confirmation || !m_discard->isEnabled())
        return;
    const QString title = QStringLiteral("Discard this recording?");
    auto *confirmation = new QMessageBox(QMessageBox::Warning, title, title, QMessageBox::NoButton, this);
    confirmation->setInformativeText(
        QStringLiteral("Both audio files are deleted from this computer, with the transcripts."));
    QPushButton *discard = confirmation->addButton(QStringLiteral("Discard"), QMessageBox::DestructiveRole);
    QPushButton *cancel = confirmation->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    confirmation->setDefaultButton(cancel);
    confirmation->setEscapeButton(cancel);
    confirmation->setWindowModality(Qt::WindowModal);
    confirmation->setAttribute(Qt::WA_DeleteOnClose);
    m_confirmation = confirmation;
    connect(confirmation, &QMessageBox::finished, this, [this, confirmation, discard] {
        if (confirmation->clickedButton() != discard || !m_model)
            return;
        m_model->discardAudioReview();
        // A save that started meanwhile keeps the review, and the window with it.
        if (m_model->audioReview() != m_session)
            window()->close();
    });
    confirmation->open();
}

void AudioReviewView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    WindowActivation::reveal(window());
}

void AudioReviewView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const VemiAppearance appearance = VemiPalette::appearance(this);
    painter.fillRect(rect(), VemiPalette::vemiCanvas(appearance));
    painter.fillRect(m_footer->geometry(), VemiPalette::vemiPanel(appearance));
}

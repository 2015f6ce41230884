#include "Windows/ReceiptView.h"

#include "Model/AppModel.h"
#include "Vemi/VemiButton.h"
#include "Vemi/VemiCharacter.h"
#include "Windows/Hairline.h"
#include "Windows/MiddleElidedLabel.h"
#include "Windows/TextLabel.h"
#include "Windows/WindowTint.h"

#include <QEvent>
#include <QFileInfo>
#include <QGraphicsOpacityEffect>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QTextLayout>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr char fullTextProperty[] = "fullText";
constexpr qreal characterSize = 58;

bool isAudio(const std::optional<SavedReceipt> &receipt)
{
    return receipt && receipt->kind == SavedReceipt::Kind::audio;
}

std::optional<QString> transcriptionIssue(const std::optional<SavedReceipt> &receipt)
{
    if (!isAudio(receipt))
        return std::nullopt;
    const QString issue = receipt->transcriptionIssue.trimmed();
    return issue.isEmpty() ? std::nullopt : std::optional<QString>(issue);
}

QString receiptTitle(const std::optional<SavedReceipt> &receipt)
{
    if (!isAudio(receipt))
        return QStringLiteral("Markdown saved");
    return transcriptionIssue(receipt) ? QStringLiteral("Audio saved with a transcription note")
                                       : QStringLiteral("Audio session saved");
}

VemiState receiptVemiState(const std::optional<SavedReceipt> &receipt)
{
    if (isAudio(receipt) && (!receipt->heardOthers || transcriptionIssue(receipt)))
        return VemiState::needsAttention;
    return VemiState::idle;
}

int lineCount(const QString &text, const QFont &font, qreal width)
{
    int lines = 0;
    for (const QString &paragraph : text.split(u'\n')) {
        QTextLayout layout(paragraph, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        int paragraphLines = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            ++paragraphLines;
        }
        layout.endLayout();
        lines += std::max(paragraphLines, 1);
    }
    return lines;
}

// `text` cut at its end, with "…", until it takes at most `maxLines` lines of `width`.
QString fitted(const QString &text, const QFont &font, qreal width, int maxLines)
{
    if (width <= 0 || lineCount(text, font, width) <= maxLines)
        return text;
    const auto candidate = [&](qsizetype kept) {
        // Never between the two halves of a surrogate pair.
        if (kept > 0 && text.at(kept).isLowSurrogate())
            --kept;
        return text.left(kept).trimmed() + u'…';
    };
    qsizetype low = 0;
    qsizetype high = text.size() - 1;
    while (low < high) {
        const qsizetype mid = (low + high + 1) / 2;
        if (lineCount(candidate(mid), font, width) <= maxLines)
            low = mid;
        else
            high = mid - 1;
    }
    return candidate(low);
}

QLabel *selectableText(VemiTextStyle style, const VemiColor &color, QWidget *parent)
{
    QLabel *label = new TextLabel(QString(), style, QFont::Normal, color, parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return label;
}

void setFullText(QWidget *widget, const QString &text)
{
    widget->setProperty(fullTextProperty, text);
    widget->setToolTip(text.size() > 60 ? text : QString());
}

} // namespace

ReceiptView::ReceiptView(AppModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_badgeLevel(this, 0)
    , m_characterLevel(this, 0)
{
    setFixedWidth(560);
    setMinimumHeight(300);
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(22, 22, 22, 22);
    root->setSpacing(16);
    root->addStretch(1);

    // Header: badge, texts, character.
    auto *header = new QHBoxLayout;
    header->setSpacing(14);
    m_badgeSlot = new QWidget(this);
    m_badgeSlot->setFixedSize(30, 30);
    header->addWidget(m_badgeSlot, 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(8);
    m_title = new TextLabel(QString(), VemiTextStyle::title2, QFont::Bold, VemiColor::primary, this);
    texts->addWidget(m_title);
    m_fileRows = new QWidget(this);
    auto *rows = new QGridLayout(m_fileRows);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setHorizontalSpacing(10);
    rows->setVerticalSpacing(6);
    m_fileName = new MiddleElidedLabel(2, m_fileRows);
    m_folderPath = new MiddleElidedLabel(2, m_fileRows);
    const QList<std::pair<QString, MiddleElidedLabel *>> labelled
        = { { QStringLiteral("File"), m_fileName }, { QStringLiteral("Folder"), m_folderPath } };
    for (int row = 0; row < labelled.size(); ++row) {
        QLabel *name = new TextLabel(
            labelled.at(row).first, VemiTextStyle::body, QFont::Medium, VemiColor::primary, m_fileRows);
        rows->addWidget(name, row, 0, Qt::AlignTop | Qt::AlignLeft);
        labelled.at(row).second->setSecondary(true);
        labelled.at(row).second->setAccessibleName(labelled.at(row).first);
        rows->addWidget(labelled.at(row).second, row, 1, Qt::AlignTop);
    }
    rows->setColumnStretch(1, 1);
    texts->addWidget(m_fileRows);
    m_noFile = new TextLabel(QStringLiteral("No saved file is selected."), VemiTextStyle::body, QFont::Normal,
        VemiColor::secondary, this);
    texts->addWidget(m_noFile);
    m_screenshotNotKept = new VemiStatusLabel(
        QStringLiteral("The screenshot was not kept"), VemiColor::teal, QStringLiteral("lock.fill"), this);
    texts->addWidget(m_screenshotNotKept);
    header->addLayout(texts, 1);
    header->addSpacing(10);

    m_characterSlot = new QWidget(this);
    m_characterSlot->setFixedSize(76, int(std::ceil(1.2 * characterSize)));
    m_characterSlot->installEventFilter(this);
    header->addWidget(m_characterSlot, 0, Qt::AlignTop);
    m_character = new VemiStateView(VemiState::idle, characterSize, true, this);
    m_characterOpacity = new QGraphicsOpacityEffect(m_character);
    m_character->setGraphicsEffect(m_characterOpacity);
    root->addLayout(header);

    // No system audio.
    m_noSystemAudio = new VemiPanel(12, nullptr, this);
    auto *noAudioRow = new QHBoxLayout;
    noAudioRow->setSpacing(10);
    auto *warning = new VemiSymbolView(QStringLiteral("exclamationmark.triangle.fill"), VemiColor::coral,
        VemiFonts::pixelSize(VemiTextStyle::title3), m_noSystemAudio);
    warning->setFixedWidth(38);
    noAudioRow->addWidget(warning, 0, Qt::AlignVCenter);
    auto *noAudioTexts = new QVBoxLayout;
    noAudioTexts->setSpacing(3);
    noAudioTexts->addWidget(new TextLabel(QStringLiteral("No system audio was heard"), VemiTextStyle::body,
        QFont::DemiBold, VemiColor::primary, m_noSystemAudio));
    QLabel *noAudioHelp = new TextLabel(
        QStringLiteral("Check that the selected app is playing. If this keeps happening, check that the "
                       "sound server (PulseAudio or PipeWire) is running."),
        VemiTextStyle::caption, QFont::Normal, VemiColor::secondary, m_noSystemAudio);
    noAudioHelp->setWordWrap(true);
    noAudioTexts->addWidget(noAudioHelp);
    noAudioRow->addLayout(noAudioTexts, 1);
    m_noSystemAudio->contentLayout()->addLayout(noAudioRow);
    root->addWidget(m_noSystemAudio);

    // Transcription issue.
    m_issuePanel = new VemiPanel(12, nullptr, this);
    m_issuePanel->contentLayout()->setSpacing(4);
    auto *issueHeading = new QHBoxLayout;
    issueHeading->setSpacing(6);
    issueHeading->addWidget(new VemiSymbolView(QStringLiteral("exclamationmark.triangle.fill"),
        VemiColor::coral, VemiFonts::pixelSize(VemiTextStyle::body), m_issuePanel));
    issueHeading->addWidget(new TextLabel(QStringLiteral("Transcription needs attention"),
                                VemiTextStyle::body, QFont::DemiBold, VemiColor::coral, m_issuePanel),
        1);
    m_issuePanel->contentLayout()->addLayout(issueHeading);
    m_issueText = selectableText(VemiTextStyle::caption, VemiColor::secondary, m_issuePanel);
    m_issuePanel->contentLayout()->addWidget(m_issueText);
    root->addWidget(m_issuePanel);

    // Transcript preview.
    m_preview = new VemiPanel(14, nullptr, this);
    m_preview->contentLayout()->setSpacing(10);
    m_othersCaption = new TextLabel(
        QStringLiteral("Others"), VemiTextStyle::caption, QFont::DemiBold, VemiColor::secondary, m_preview);
    m_othersText = selectableText(VemiTextStyle::body, VemiColor::primary, m_preview);
    m_previewDivider = new Hairline(Qt::Horizontal, m_preview);
    m_youCaption = new TextLabel(
        QStringLiteral("You"), VemiTextStyle::caption, QFont::DemiBold, VemiColor::secondary, m_preview);
    m_youText = selectableText(VemiTextStyle::body, VemiColor::primary, m_preview);
    for (QWidget *part : { static_cast<QWidget *>(m_othersCaption), static_cast<QWidget *>(m_othersText),
             m_previewDivider, static_cast<QWidget *>(m_youCaption), static_cast<QWidget *>(m_youText) })
        m_preview->contentLayout()->addWidget(part);
    m_othersText->installEventFilter(this);
    m_youText->installEventFilter(this);
    root->addWidget(m_preview);

    root->addWidget(new Hairline(Qt::Horizontal, this));

    // Buttons.
    auto *buttons = new QWidget(this);
    auto *buttonRow = new QHBoxLayout(buttons);
    buttonRow->setContentsMargins(0, 0, 0, 0);
    m_trash = new VemiButton(QStringLiteral("Move to Trash…"), buttons);
    m_trash->setToolTip(QStringLiteral("Move the saved file to Trash so it can be restored"));
    WindowTint::setDestructive(m_trash);
    buttonRow->addWidget(m_trash);
    buttonRow->addSpacing(16);
    buttonRow->addStretch(1);
    m_reveal = new VemiButton(QStringLiteral("Show in Folder"), buttons);
    m_reveal->setToolTip(QStringLiteral("Reveal the saved Markdown file in the file manager"));
    buttonRow->addWidget(m_reveal);
    m_copy = new VemiCopyButton(
        QStringLiteral("Copy Markdown"),
        [this] {
            const std::optional<SavedReceipt> &receipt = m_model.receipt();
            return receipt
                && m_model.copyToPasteboard(receipt->markdown(), QStringLiteral("Copied Markdown"));
        },
        buttons);
    m_copy->setToolTip(QStringLiteral("Copy the saved Markdown"));
    buttonRow->addWidget(m_copy);
    m_another = new VemiButton(QString(), buttons);
    buttonRow->addWidget(m_another);
    VemiButtonStyle::vemiActionGroup(buttons, VemiControlSize::small);
    VemiButtonStyle::vemiPrimaryAction(m_another, VemiControlSize::small);
    root->addWidget(buttons);
    root->addStretch(1);

    connect(m_trash, &QPushButton::clicked, this, &ReceiptView::confirmTrash);
    connect(m_reveal, &QPushButton::clicked, this, [this] { m_model.revealReceipt(); });
    connect(m_another, &QPushButton::clicked, this, &ReceiptView::captureAnother);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this, this, &ReceiptView::dismiss);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    for (const int key : { Qt::Key_Return, Qt::Key_Enter }) {
        auto *defaultAction = new QShortcut(QKeySequence(key), this, m_another, &QPushButton::click);
        defaultAction->setContext(Qt::WidgetWithChildrenShortcut);
    }

    m_badgeLevel.onChange = [this] { update(m_badgeSlot->geometry().adjusted(-2, -2, 2, 2)); };
    m_characterLevel.onChange = [this] { applyCharacterLevel(); };
    applyCharacterLevel();

    connect(&m_model, &AppModel::receiptChanged, this, &ReceiptView::receiptChanged);
    connect(&m_model, &AppModel::isMovingReceiptToTrashChanged, this, &ReceiptView::refreshTrashButton);
    m_shownID = m_model.receipt() ? std::optional<QUuid>(m_model.receipt()->id) : std::nullopt;
    refreshContent();
    WindowTint::refresh(this);
}

ReceiptView::~ReceiptView() = default;

void ReceiptView::receiptChanged()
{
    const std::optional<SavedReceipt> &receipt = m_model.receipt();
    refreshContent();
    if (!receipt) {
        m_shownID.reset();
        dismissWindow();
        return;
    }
    if (m_shownID != receipt->id) {
        m_shownID = receipt->id;
        playSettle();
    }
}

void ReceiptView::refreshContent()
{
    const std::optional<SavedReceipt> &receipt = m_model.receipt();
    const bool audio = isAudio(receipt);
    m_title->setText(receiptTitle(receipt));
    m_fileRows->setVisible(receipt.has_value());
    m_noFile->setVisible(!receipt);
    m_screenshotNotKept->setVisible(!audio);
    if (receipt) {
        const QFileInfo file(receipt->url.toLocalFile());
        m_fileName->setFullText(file.fileName());
        m_folderPath->setFullText(file.absolutePath());
    }
    m_character->setState(receiptVemiState(receipt));

    m_noSystemAudio->setVisible(audio && !receipt->heardOthers);
    const std::optional<QString> issue = transcriptionIssue(receipt);
    m_issuePanel->setVisible(issue.has_value());
    m_issueText->setText(issue.value_or(QString()));

    const QString others = audio ? receipt->othersTranscript.trimmed() : QString();
    const QString you = audio ? receipt->youTranscript.trimmed() : QString();
    m_preview->setVisible(!others.isEmpty() || !you.isEmpty());
    m_othersCaption->setVisible(!others.isEmpty());
    m_othersText->setVisible(!others.isEmpty());
    m_previewDivider->setVisible(!others.isEmpty() && !you.isEmpty());
    m_youCaption->setVisible(!you.isEmpty());
    m_youText->setVisible(!you.isEmpty());
    setFullText(m_othersText, others);
    setFullText(m_youText, you);

    m_another->setText(audio ? QStringLiteral("Record Another") : QStringLiteral("Capture Another"));
    m_another->setToolTip(audio ? QStringLiteral("Start another audio recording")
                                : QStringLiteral("Start another region capture"));
    refreshTrashButton();
    refitTexts();
}

void ReceiptView::refreshTrashButton()
{
    m_trash->setEnabled(m_model.receipt() && !m_model.isMovingReceiptToTrash());
}

void ReceiptView::refitTexts()
{
    // Fitted at the width the labels really get, not the width they had before the first layout:
    // text cut for a narrow label would leave the window too short for the text it shows later.
    if (QLayout *root = layout())
        root->activate();
    bool changed = false;
    for (QLabel *label : { m_othersText, m_youText }) {
        const int width = label->contentsRect().width();
        const QString full = label->property(fullTextProperty).toString();
        const QString shown = width > 0 ? fitted(full, label->font(), width, 6) : full;
        if (label->text() != shown) {
            label->setText(shown);
            changed = true;
        }
    }
    if (!changed)
        return;
    updateGeometry();
    // Shown on its own, the view is its window: it grows or shrinks to the lines it now needs.
    if (isWindow())
        adjustSize();
}

void ReceiptView::placeCharacter()
{
    const QSize size = m_character->sizeHint();
    const QPoint centre = m_characterSlot->geometry().center();
    m_character->setGeometry(
        QRect(QPoint(centre.x() - size.width() / 2, centre.y() - size.height() / 2), size));
    m_character->raise();
}

void ReceiptView::applyCharacterLevel()
{
    const qreal level = m_characterLevel.value();
    const bool reduce = VemiMotion::reduceMotion(this);
    m_character->setCharacterSize(characterSize * (reduce ? 1.0 : 0.94 + 0.06 * level));
    m_characterOpacity->setOpacity(level);
    m_characterOpacity->setEnabled(level < 1.0);
    placeCharacter();
}

void ReceiptView::playSettle()
{
    const int generation = ++m_settleGeneration;
    m_hasSettled = false;
    m_badgeLevel.jumpTo(0);
    m_characterLevel.jumpTo(0);
    update();
    QMetaObject::invokeMethod(
        this, [this, generation] { settle(generation); }, Qt::QueuedConnection);
}

void ReceiptView::settle(int generation)
{
    if (generation != m_settleGeneration)
        return;
    m_hasSettled = true;
    const bool reduce = VemiMotion::reduceMotion(this);
    m_badgeLevel.animateTo(1, reduce ? 120 : 280);
    if (reduce) {
        m_characterLevel.animateTo(1, 120);
    } else {
        QTimer::singleShot(60, this, [this, generation] {
            if (generation == m_settleGeneration && m_hasSettled)
                m_characterLevel.animateTo(1, 300);
        });
    }
    emit settled();
}

void ReceiptView::confirmTrash()
{
    if (m_trashAlert || !m_model.receipt())
        return;
    const bool audio = isAudio(m_model.receipt());
    m_trashAlert = new QMessageBox(QMessageBox::Warning,
        audio ? QStringLiteral("Move this audio session to Trash?")
              : QStringLiteral("Move this Markdown file to Trash?"),
        audio ? QStringLiteral("Move this audio session to Trash?")
              : QStringLiteral("Move this Markdown file to Trash?"),
        QMessageBox::NoButton, this);
    m_trashAlert->setInformativeText(audio
            ? QStringLiteral(
                "The Markdown sidecar and audio files go to Trash. You can restore them from there.")
            : QStringLiteral(
                "You can restore it from Trash. The recent-list entry is removed only after Trash "
                "succeeds."));
    QPushButton *move
        = m_trashAlert->addButton(QStringLiteral("Move to Trash"), QMessageBox::DestructiveRole);
    QPushButton *cancel = m_trashAlert->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    // Return keeps the file: the safe choice is the default.
    m_trashAlert->setDefaultButton(cancel);
    m_trashAlert->setEscapeButton(cancel);
    connect(move, &QPushButton::clicked, this, [this] { m_model.moveReceiptToTrash(); });
    connect(m_trashAlert, &QMessageBox::finished, m_trashAlert, &QObject::deleteLater);
    m_trashAlert->setWindowModality(Qt::WindowModal);
    m_trashAlert->open();
}

void ReceiptView::captureAnother()
{
    dismissWindow();
    m_model.captureAnother();
}

void ReceiptView::dismiss()
{
    m_model.dismissReceipt();
    dismissWindow();
}

void ReceiptView::dismissWindow()
{
    if (QWidget *frame = window())
        frame->close();
}

void ReceiptView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), VemiPalette::vemiCanvas(VemiPalette::appearance(this)));

    const qreal level = m_badgeLevel.value();
    if (level <= 0)
        return;
    const bool reduce = VemiMotion::reduceMotion(this);
    const qreal scale = reduce ? 1.0 : 0.72 + 0.28 * level;
    const QPointF centre = QRectF(m_badgeSlot->geometry()).center();
    painter.setOpacity(level);
    painter.translate(centre);
    painter.scale(scale, scale);
    painter.setPen(Qt::NoPen);
    painter.setBrush(VemiPalette::vemiTeal());
    painter.drawEllipse(QRectF(-15, -15, 30, 30));
    const qreal symbol = 14;
    VemiSymbols::paint(
        painter, QStringLiteral("checkmark"), QRectF(-symbol / 2, -symbol / 2, symbol, symbol), Qt::white);
}

void ReceiptView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        playSettle();
}

void ReceiptView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        WindowTint::refresh(this);
    if (event->type() == QEvent::FontChange)
        refitTexts();
}

bool ReceiptView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize || event->type() == QEvent::Move) {
        if (watched == m_characterSlot)
            placeCharacter();
        else if (event->type() == QEvent::Resize)
            refitTexts();
    }
    return QWidget::eventFilter(watched, event);
}

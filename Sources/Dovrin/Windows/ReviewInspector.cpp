#include "Windows/ReviewInspector.h"

#include "Documents/CaptureMarkdown.h"
#include "Model/AppModel.h"
#include "Vemi/VemiButton.h"
#include "Windows/Hairline.h"
#include "Windows/MiddleElidedLabel.h"
#include "Windows/OrderedLineEdit.h"
#include "Windows/TextLabel.h"
#include "Windows/ToggleSwitch.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QVBoxLayout>

namespace {

VemiPanel *section(QVBoxLayout *column, const QString &title)
{
    column->addWidget(new TextLabel(title, VemiTextStyle::headline, QFont::Bold));
    auto *panel = new VemiPanel(0);
    column->addWidget(panel);
    return panel;
}

QWidget *padded(QLayout *content)
{
    auto *row = new QWidget;
    content->setContentsMargins(12, 12, 12, 12);
    row->setLayout(content);
    return row;
}

MiddleElidedLabel *valueRow(QLayout *panel, const QString &label)
{
    auto *column = new QVBoxLayout;
    column->setSpacing(5);
    column->addWidget(new TextLabel(label, VemiTextStyle::body, QFont::Normal, VemiColor::secondary));
    auto *value = new MiddleElidedLabel(3);
    value->setFont(VemiFonts::font(VemiTextStyle::body));
    value->setAccessibleName(label);
    column->addWidget(value);
    panel->addWidget(padded(column));
    return value;
}

// Only the user's typing reaches the session; a refresh that sets the same text changes nothing.
void showText(QLineEdit *field, const QString &text)
{
    if (field->text() == text)
        return;
    field->setText(text);
    // A value wider than its field reads from its start ("org.gnome.Te…"), not from its end.
    if (!field->hasFocus())
        field->setCursorPosition(0);
}

} // namespace

ReviewInspector::ReviewInspector(std::shared_ptr<ReviewSession> session, AppModel *model, QWidget *parent)
    : QWidget(parent)
    , m_session(std::move(session))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(16);

    QVBoxLayout *capture = section(column, QStringLiteral("Capture"))->contentLayout();
    m_title = textRow(capture, QStringLiteral("Title"), QStringLiteral("Untitled capture"), false,
        &ReviewSession::setTitle);
    capture->addWidget(new Hairline);
    m_note = textRow(
        capture, QStringLiteral("Note"), QStringLiteral("Optional"), false, &ReviewSession::setNote);
    capture->addWidget(new Hairline);
    m_tags = textRow(capture, QStringLiteral("Tags"), QStringLiteral("work, research"), false,
        &ReviewSession::setTagsText);

    QVBoxLayout *source = section(column, QStringLiteral("Source"))->contentLayout();
    auto *switchRow = new QHBoxLayout;
    const QString includeText = QStringLiteral("Include observed application");
    // Wraps rather than push the switch past the panel's edge in a narrow inspector.
    auto *includeLabel = new TextLabel(includeText, VemiTextStyle::body);
    includeLabel->setWordWrap(true);
    switchRow->addWidget(includeLabel, 1);
    m_include = new ToggleSwitch(includeText);
    m_include->setObjectName(QStringLiteral("review.include-application"));
    switchRow->addWidget(m_include);
    source->addWidget(padded(switchRow));
    m_applicationRows = new QWidget;
    auto *applicationRows = new QVBoxLayout(m_applicationRows);
    applicationRows->setContentsMargins(0, 0, 0, 0);
    applicationRows->setSpacing(0);
    applicationRows->addWidget(new Hairline);
    m_application = textRow(applicationRows, QStringLiteral("Application"), QStringLiteral("Application"),
        false, &ReviewSession::setApplicationName);
    applicationRows->addWidget(new Hairline);
    m_bundleID = textRow(applicationRows, QStringLiteral("Application ID"), QStringLiteral("Application ID"),
        true, &ReviewSession::setApplicationBundleID);
    source->addWidget(m_applicationRows);
    connect(m_include, &QAbstractButton::toggled, this,
        [this](bool on) { m_session->setIncludeApplication(on); });

    QVBoxLayout *destination = section(column, QStringLiteral("Destination"))->contentLayout();
    m_savesAs = valueRow(destination, QStringLiteral("Saves as"));
    destination->addWidget(new Hairline);
    m_folder = valueRow(destination, QStringLiteral("Folder"));
    destination->addWidget(new Hairline);
    m_chooseFolder = new VemiButton(QStringLiteral("Choose Folder…"));
    VemiButtonStyle::vemiSecondaryAction(m_chooseFolder, VemiControlSize::small);
    m_chooseFolder->setToolTip(QStringLiteral(
        "Save this capture to another folder. The default folder in Settings does not change."));
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(m_chooseFolder);
    buttonRow->addStretch(1);
    destination->addWidget(padded(buttonRow));
    const QPointer<AppModel> guardedModel(model);
    connect(m_chooseFolder, &QPushButton::clicked, this, [this, guardedModel] {
        if (guardedModel)
            guardedModel->chooseReviewFolder(window());
    });

    column->addStretch(1);
    connect(m_session.get(), &ReviewSession::changed, this, &ReviewInspector::refresh);
    refresh();
}

QLineEdit *ReviewInspector::textRow(QLayout *panel, const QString &label, const QString &placeholder,
    bool monospaced, void (ReviewSession::*write)(const QString &))
{
    // An identifier in a fixed-width font is too wide to share its line with the label in a narrow
    // inspector ("org.gnome.TextEditor" was cut through a letter): it gets a line of its own.
    QBoxLayout *row = monospaced ? static_cast<QBoxLayout *>(new QVBoxLayout) : new QHBoxLayout;
    row->setSpacing(monospaced ? 5 : 10);
    row->addWidget(new TextLabel(label, VemiTextStyle::body, QFont::Normal, VemiColor::secondary), 0,
        monospaced ? Qt::Alignment() : Qt::AlignBaseline);
    if (!monospaced)
        row->addSpacing(8);
    auto *field = new OrderedLineEdit;
    field->setFrame(false);
    field->setPlaceholderText(placeholder);
    field->setAlignment(monospaced ? Qt::AlignLeft : Qt::AlignRight);
    field->setAccessibleName(label);
    QFont font = VemiFonts::font(VemiTextStyle::callout);
    if (monospaced) {
        font.setFamilies(QFontDatabase::systemFont(QFontDatabase::FixedFont).families());
        font.setStyleHint(QFont::Monospace);
    }
    field->setFont(font);
    field->setMinimumWidth(0);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    field->setPalette(palette);
    VemiPalette::keepPlaceholderLegible(field);
    row->addWidget(field, 1, monospaced ? Qt::Alignment() : Qt::AlignBaseline);
    panel->addWidget(padded(row));
    connect(field, &QLineEdit::textEdited, this,
        [this, write](const QString &text) { (m_session.get()->*write)(text); });
    return field;
}

void ReviewInspector::refresh()
{
    showText(m_title, m_session->title());
    showText(m_note, m_session->note());
    showText(m_tags, m_session->tagsText());
    showText(m_application, m_session->applicationName());
    showText(m_bundleID, m_session->applicationBundleID());
    // Toggling back writes the value the session already has, which changes nothing.
    m_include->setChecked(m_session->includeApplication());
    m_applicationRows->setVisible(m_session->includeApplication());
    m_savesAs->setFullText(CaptureFilename::make(m_session->observedAt, m_session->title(), m_session->id,
        m_session->filenameTimeZone, QStringLiteral("md")));
    const QString folder = m_session->destinationDisplayPath();
    m_folder->setFullText(folder.isEmpty() ? QStringLiteral("Choose a folder") : folder);
    m_folder->setSecondary(folder.isEmpty());
}

#include "Settings/SetupStepPanel.h"

#include "Model/AppModel.h"
#include "Settings/DefaultFolderChoice.h"
#include "Settings/ElidedLabel.h"
#include "Settings/SettingsEnvironment.h"
#include "Settings/SettingsLayout.h"
#include "Settings/ShortcutRecorder.h"
#include "Vemi/VemiButton.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace {

VemiButton *button(const QString &title, const QString &id, const QString &tooltip, QWidget *parent)
{
    auto *button = new VemiButton(title, parent);
    button->setObjectName(id);
    button->setToolTip(tooltip);
    return button;
}

// A panel around `content`, filling the column's width.
VemiPanel *panelAround(QWidget *content, int padding, QWidget *parent)
{
    auto *panel = new VemiPanel(padding, nullptr, parent);
    panel->contentLayout()->addWidget(content);
    return panel;
}

const QString relaunchHelp = QStringLiteral(
    "Quorvel will open this same app again, so Screen Recording is checked by a new process.");

} // namespace

QStringList SetupStepPanel::texts(OnboardingStep step)
{
    switch (step) {
    case OnboardingStep::privacy:
        return { QStringLiteral("ON THIS COMPUTER"), QStringLiteral("Nothing leaves this computer"),
            QStringLiteral("A region you select is recognized with Tesseract on this computer. There is no "
                           "account or upload. Markdown is written only to a folder you choose. Audio is "
                           "transcribed on this computer by the on-device speech model.") };
    case OnboardingStep::folder:
        return { QStringLiteral("CAPTURE FOLDER"), QStringLiteral("Choose where Markdown is saved"),
            QStringLiteral("This folder becomes your local capture library. Quorvel remembers it without "
                           "indexing the rest of your computer.") };
    case OnboardingStep::screenRecording:
        return { QStringLiteral("SCREEN RECORDING"), QStringLiteral("Check Screen Recording"),
            QStringLiteral("Reading the region you select needs an X11 (Xorg) session. Quorvel never records "
                           "screen video.") };
    case OnboardingStep::shortcut:
        return { QStringLiteral("SHORTCUT"), QStringLiteral("Choose a capture shortcut"),
            CaptureShortcut::defaultShortcut().displaySymbols()
                + QStringLiteral(" is the default. If another app already uses it, choose a combination "
                                 "that feels natural here.") };
    case OnboardingStep::testCapture:
        return { QStringLiteral("TEST CAPTURE"), QStringLiteral("Try one capture"),
            QStringLiteral(
                "Select a small real region. This checks permission, coordinates, local OCR, and the "
                "review window before setup is finished.") };
    }
    return {};
}

QString SetupStepPanel::permissionSymbol(PermissionStatus status)
{
    switch (status) {
    case PermissionStatus::allowed:
        return QStringLiteral("checkmark.circle.fill");
    case PermissionStatus::notAllowed:
    case PermissionStatus::restricted:
        return QStringLiteral("xmark.circle.fill");
    case PermissionStatus::allowAgain:
        return QStringLiteral("exclamationmark.shield.fill");
    case PermissionStatus::notRequested:
    case PermissionStatus::unverified:
        break;
    }
    return QStringLiteral("circle.fill");
}

SetupStepPanel::SetupStepPanel(
    OnboardingStep step, AppModel &model, const SettingsEnvironment &environment, QWidget *parent)
    : QWidget(parent)
    , m_step(step)
    , m_model(model)
    , m_environment(environment)
{
    setObjectName(QStringLiteral("setup.panel.%1").arg(int(step)));
    setMaximumWidth(460);
    const QStringList words = texts(step);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(17);
    QLabel *eyebrow
        = SettingsLayout::text(words.at(0), VemiTextStyle::caption, VemiColor::secondary, this, QFont::Bold);
    QFont tracked = eyebrow->font();
    tracked.setLetterSpacing(QFont::AbsoluteSpacing, 1.4);
    eyebrow->setFont(tracked);
    column->addWidget(eyebrow);
    QLabel *title
        = SettingsLayout::text(words.at(1), VemiTextStyle::body, VemiColor::primary, this, QFont::Bold);
    QFont large = title->font();
    large.setPointSizeF(large.pointSizeF() * 30.0 / 13.0);
    large.setLetterSpacing(QFont::AbsoluteSpacing, -0.5);
    title->setFont(large);
    column->addWidget(title);
    QLabel *body = SettingsLayout::text(words.at(2), VemiTextStyle::body, VemiColor::secondary, this);
    QFont bodyFont = body->font();
    bodyFont.setPointSizeF(bodyFont.pointSizeF() * 16.0 / 13.0);
    body->setFont(bodyFont);
    column->addWidget(body);
    switch (step) {
    case OnboardingStep::privacy:
        column->addWidget(privacyContent());
        break;
    case OnboardingStep::folder:
        column->addWidget(folderContent());
        break;
    case OnboardingStep::screenRecording:
        column->addWidget(screenContent());
        break;
    case OnboardingStep::shortcut:
        column->addWidget(shortcutContent());
        break;
    case OnboardingStep::testCapture:
        column->addWidget(testCaptureContent());
        break;
    }
    column->addStretch(1);
    connect(&m_model, &AppModel::settingsChanged, this, &SetupStepPanel::refresh);
    connect(&m_model.permissions(), &PermissionController::rowChanged, this, &SetupStepPanel::refresh);
    refresh();
}

QWidget *SetupStepPanel::privacyContent()
{
    auto *list = new QWidget(this);
    auto *column = new QVBoxLayout(list);
    column->setContentsMargins(0, 4, 0, 0);
    column->setSpacing(13);
    const std::pair<const char *, const char *> promises[] = {
        { "Screen pixels stay on this computer", "internaldrive" },
        { "OCR runs locally", "text.viewfinder" },
        { "You review before saving", "pencil" },
        { "Audio stays on this computer", "waveform" },
    };
    for (const auto &[text, symbol] : promises) {
        auto *line = new QHBoxLayout;
        line->setSpacing(8);
        line->addWidget(new VemiSymbolView(QString::fromLatin1(symbol), VemiColor::primary,
            VemiFonts::pixelSize(VemiTextStyle::body) + 2, list));
        line->addWidget(
            SettingsLayout::text(QString::fromLatin1(text), VemiTextStyle::body, VemiColor::primary, list),
            1);
        column->addLayout(line);
    }
    return list;
}

QWidget *SetupStepPanel::folderContent()
{
    auto *content = new QWidget(this);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);
    auto *line = new QHBoxLayout;
    line->setSpacing(10);
    line->addWidget(new VemiSymbolView(
        QStringLiteral("folder"), VemiColor::teal, VemiFonts::pixelSize(VemiTextStyle::body) + 3, content));
    m_folderPath = new ElidedLabel(content);
    m_folderPath->setObjectName(QStringLiteral("setup.folder.path"));
    m_folderPath->setMaximumLines(2);
    line->addWidget(m_folderPath, 1);
    column->addLayout(line);
    VemiButton *choose = button(QStringLiteral("Choose Folder…"), QStringLiteral("setup.folder.choose"),
        QStringLiteral("Select the default capture folder"), content);
    VemiButtonStyle::vemiSecondaryAction(choose, VemiControlSize::regular);
    connect(choose, &QAbstractButton::clicked, this,
        [this] { DefaultFolderChoice::choose(m_model, m_environment.folderPicker, window()); });
    column->addWidget(choose, 0, Qt::AlignLeft);
    return panelAround(content, 12, this);
}

QWidget *SetupStepPanel::screenContent()
{
    auto *content = new QWidget(this);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);
    m_screenStatus = new VemiStatusLabel(QString(), VemiColor::coral, QString(), content);
    m_screenStatus->setObjectName(QStringLiteral("setup.screen.status"));
    column->addWidget(m_screenStatus);
    m_screenFeedback
        = new VemiStatusLabel(QString(), VemiColor::secondary, QStringLiteral("info.circle.fill"), content);
    m_screenFeedback->setObjectName(QStringLiteral("setup.screen.feedback"));
    column->addWidget(m_screenFeedback);
    auto *buttons = new QWidget(content);
    auto *row = new QHBoxLayout(buttons);
    row->setContentsMargins(0, 0, 0, 0);
    m_request = button(QString(), QStringLiteral("setup.screen.request"), QString(), buttons);
    VemiButtonStyle::vemiPrimaryAction(m_request, VemiControlSize::regular);
    m_open = button(QStringLiteral("Open System Settings"), QStringLiteral("setup.screen.open"),
        QStringLiteral("Open Screen Recording settings"), buttons);
    m_check = button(QStringLiteral("Check Again"), QStringLiteral("setup.screen.check"),
        QStringLiteral("Recheck Screen Recording permission"), buttons);
    m_relaunch = button(
        QStringLiteral("Relaunch Quorvel"), QStringLiteral("setup.screen.quit"), relaunchHelp, buttons);
    for (VemiButton *b : { m_request, m_open, m_check, m_relaunch })
        row->addWidget(b);
    row->addStretch(1);
    VemiButtonStyle::vemiActionGroup(buttons, VemiControlSize::regular);
    column->addWidget(buttons);
    connect(m_request, &QAbstractButton::clicked, this, [this] { m_model.requestPermission(); });
    connect(m_open, &QAbstractButton::clicked, this, [this] { m_model.openScreenRecordingSettings(); });
    connect(m_check, &QAbstractButton::clicked, this, [this] { m_model.recheckPermission(); });
    connect(m_relaunch, &QAbstractButton::clicked, this, [this] {
        if (m_environment.relaunch)
            m_environment.relaunch();
    });
    return panelAround(content, 16, this);
}

QWidget *SetupStepPanel::shortcutContent()
{
    return panelAround(new ShortcutRecorder(m_model, true, this), 16, this);
}

QWidget *SetupStepPanel::testCaptureContent()
{
    auto *content = new QWidget(this);
    auto *row = new QHBoxLayout(content);
    row->setContentsMargins(0, 2, 0, 0);
    row->setSpacing(16);
    row->addWidget(new VemiSymbolView(QStringLiteral("viewfinder"), VemiColor::coral, 28, content));
    m_startTest = button(
        QStringLiteral("Start Test Capture"), QStringLiteral("setup.test.start"), QString(), content);
    VemiButtonStyle::vemiPrimaryAction(m_startTest, VemiControlSize::regular);
    connect(m_startTest, &QAbstractButton::clicked, this, [this] {
        if (m_environment.startCapture)
            m_environment.startCapture();
    });
    row->addWidget(m_startTest);
    m_testStatus = new VemiStatusLabel(QString(), VemiColor::teal, QString(), content);
    m_testStatus->setObjectName(QStringLiteral("setup.test.status"));
    // The button keeps its own width; the status line takes the rest.
    m_startTest->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    row->addWidget(m_testStatus, 100);
    row->addStretch(1);
    return panelAround(content, 16, this);
}

void SetupStepPanel::refresh()
{
    const PermissionController::RowState &screen = m_model.permissions().screen();
    const bool allowed = screen.presentation.status == PermissionStatus::allowed;
    if (m_folderPath) {
        const std::optional<FolderAccess> &folder = m_model.settings().defaultFolder;
        m_folderPath->setText(folder ? folder->displayPath : QStringLiteral("No folder selected yet"));
        SettingsLayout::setColor(m_folderPath, folder ? VemiColor::primary : VemiColor::secondary);
    }
    if (m_screenStatus) {
        const PermissionPresentation &presentation = screen.presentation;
        m_screenStatus->setText(presentation.statusTitle);
        m_screenStatus->setColor(allowed ? VemiColor::teal : VemiColor::coral);
        m_screenStatus->setSystemImage(permissionSymbol(presentation.status));
        const bool feedback = screen.feedback && !screen.feedback->text.isEmpty();
        m_screenFeedback->setText(feedback ? screen.feedback->text : QString());
        m_screenFeedback->setVisible(feedback);
        m_request->setText(presentation.requestActionTitle());
        m_request->setToolTip(presentation.requestActionHelp());
        m_request->setVisible(presentation.showsRequestAccess);
        m_request->setEnabled(!screen.isBusy);
        // Offered only where a settings page can change what the check finds; the status says what
        // else to do.
        m_open->setVisible(presentation.showsOpenSettings);
        m_check->setVisible(presentation.showsCheckAgain && !presentation.showsRequestAccess);
        m_check->setEnabled(!screen.isBusy);
        m_relaunch->setVisible(presentation.mayNeedRelaunch);
    }
    if (m_startTest) {
        const bool ran = m_model.settings().hasRunTestCapture;
        // An environment that cannot start a capture leaves nothing to press.
        m_startTest->setEnabled(bool(m_environment.startCapture));
        m_startTest->setToolTip(allowed
                ? QStringLiteral("Start a test region capture")
                : QStringLiteral("Return to Screen Recording permission, then start a test capture"));
        if (ran) {
            m_testStatus->setText(QStringLiteral("A capture reached local review"));
            m_testStatus->setColor(VemiColor::teal);
            m_testStatus->setSystemImage(QStringLiteral("checkmark.circle.fill"));
        } else {
            m_testStatus->setText(QStringLiteral("Screen Recording must work first"));
            m_testStatus->setColor(VemiColor::coral);
            m_testStatus->setSystemImage(QStringLiteral("exclamationmark.circle.fill"));
        }
        m_testStatus->setVisible(ran || !allowed);
    }
}

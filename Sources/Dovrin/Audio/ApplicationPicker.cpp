#include "Audio/ApplicationPicker.h"

#include "Audio/AudioCaptureApps.h"
#include "Platform/DesktopEntries.h"

#include <QDir>
#include <QFileDialog>
#include <QPointer>

QString ApplicationPicker::message()
{
    return QStringLiteral("Choose an app to record. Audio from this app only. No video or screen content.");
}

namespace {

// Parameters by value: the body runs on a later turn of the event loop.
Task<std::optional<QString>> chooseFile(
    QPointer<QWidget> parent, QString prompt, QString message, QString startFolder)
{
    // Opened, not run: a modal loop here would resume every suspended task inside this call.
    auto *dialog = new QFileDialog(parent, message, startFolder, QStringLiteral("Applications (*.desktop)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog); // the confirm button carries our prompt
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setLabelText(QFileDialog::Accept, prompt);
    TaskPromise<std::optional<QString>> chosen;
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, chosen](int result) {
        const QStringList files = dialog->selectedFiles();
        if (result == QDialog::Accepted && !files.isEmpty())
            chosen.resolve(files.constFirst());
        else
            chosen.resolve(std::nullopt);
    });
    // A dialog that goes with the window that asked answers as cancelled.
    QObject::connect(dialog, &QObject::destroyed, [chosen] { chosen.resolve(std::nullopt); });
    dialog->open();
    dialog->raise();
    dialog->activateWindow();
    TaskFuture<std::optional<QString>> answer = chosen.future();
    co_return co_await answer;
}

} // namespace

ApplicationPicker::ChooseFile ApplicationPicker::liveChooser()
{
    return [](QWidget *parent, const QString &prompt, const QString &message, const QString &startFolder) {
        return chooseFile(parent, prompt, message, startFolder);
    };
}

Task<std::optional<AudioCaptureApp>> ApplicationPicker::present(
    QWidget *parent, QString prompt, ChooseFile choose)
{
    if (!choose)
        co_return std::nullopt;
    // The system's folder first: that is where installed applications are.
    QString startFolder = QDir::homePath();
    const QStringList dirs = DesktopEntries::applicationDirs();
    for (auto it = dirs.crbegin(); it != dirs.crend(); ++it) {
        if (QDir(*it).exists()) {
            startFolder = *it;
            break;
        }
    }
    Task<std::optional<QString>> choosing = choose(parent, prompt, message(), startFolder);
    const std::optional<QString> chosen = co_await choosing;
    if (!chosen || chosen->isEmpty())
        co_return std::nullopt;
    co_return AudioCaptureApps::appFromDesktopFile(*chosen);
}

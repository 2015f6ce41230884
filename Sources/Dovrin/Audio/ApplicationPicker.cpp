#include "Audio/ApplicationPicker.h"

#include "Audio/ApplicationPickerDialog.h"
#include "Audio/AudioCaptureApps.h"
#include "Platform/DesktopEntries.h"
#include "Rules/AudioOthersSelection.h"

#include <QCollator>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>

QString ApplicationPicker::message()
{
    return QStringLiteral("Choose an app to record. Audio from this app only. No video or screen content.");
}

QList<AudioCaptureApp> ApplicationPicker::installedApps()
{
    QList<AudioCaptureApp> apps;
    for (const DesktopEntry &entry : DesktopEntries::all()) {
        if (entry.hidden || entry.noDisplay || entry.id == AudioCaptureApps::ownBundleID()
            || AudioOthersCatalog::isExcluded(entry.id, entry.name))
            continue;
        apps.append({ entry.id, entry.name.isEmpty() ? entry.id : entry.name, entry.iconName });
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(apps.begin(), apps.end(), [&](const AudioCaptureApp &a, const AudioCaptureApp &b) {
        const int byName = collator.compare(a.name, b.name);
        return byName != 0 ? byName < 0 : a.bundleID < b.bundleID;
    });
    return apps;
}

std::variant<AudioCaptureApp, QString> ApplicationPicker::appForFile(const QString &path)
{
    const QFileInfo file(path);
    const QString name = file.fileName();
    if (path.endsWith(QLatin1String(".desktop"))) {
        if (const std::optional<AudioCaptureApp> app = AudioCaptureApps::appFromDesktopFile(path))
            return *app;
        return QStringLiteral("“%1” is not an application Quorvel can record.").arg(name);
    }
    const QString program = file.canonicalFilePath();
    if (program.isEmpty() || !file.isFile() || !file.isExecutable())
        return QStringLiteral("“%1” is not a program or a .desktop file.").arg(name);
    // An application is known by its desktop entry: the one that starts this program.
    for (const DesktopEntry &entry : DesktopEntries::all()) {
        if (entry.program == program && !entry.hidden && entry.id != AudioCaptureApps::ownBundleID())
            return AudioCaptureApp { entry.id, entry.name.isEmpty() ? entry.id : entry.name, entry.iconName };
    }
    return QStringLiteral("No installed application starts “%1”. Choose its .desktop file instead.")
        .arg(name);
}

QString ApplicationPicker::browseFolder()
{
    // The system's folder first: that is where installed applications are.
    const QStringList dirs = DesktopEntries::applicationDirs();
    for (auto it = dirs.crbegin(); it != dirs.crend(); ++it) {
        if (QDir(*it).exists())
            return *it;
    }
    return QDir::homePath();
}

namespace {

// Parameters by value: the body runs on a later turn of the event loop.
Task<std::optional<QString>> chooseFile(
    QPointer<QWidget> parent, QString prompt, QString message, QString startFolder)
{
    // Opened, not run: a modal loop here would resume every suspended task inside this call.
    auto *dialog = new QFileDialog(parent, message, startFolder,
        QStringLiteral("Applications and programs (*);;Applications (*.desktop)"));
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

Task<std::optional<AudioCaptureApp>> chooseApp(
    QPointer<QWidget> parent, QString prompt, ApplicationPicker::ChooseFile browse)
{
    auto *dialog = new ApplicationPickerDialog(prompt, std::move(browse), parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    TaskPromise<std::optional<AudioCaptureApp>> chosen;
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, chosen](int result) {
        chosen.resolve(result == QDialog::Accepted ? dialog->chosen() : std::nullopt);
    });
    QObject::connect(dialog, &QObject::destroyed, [chosen] { chosen.resolve(std::nullopt); });
    // Without a window that asked, nothing else may take the input meanwhile.
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    TaskFuture<std::optional<AudioCaptureApp>> answer = chosen.future();
    co_return co_await answer;
}

} // namespace

ApplicationPicker::ChooseFile ApplicationPicker::liveFileChooser()
{
    return [](QWidget *parent, const QString &prompt, const QString &message, const QString &startFolder) {
        return chooseFile(parent, prompt, message, startFolder);
    };
}

ApplicationPicker::Choose ApplicationPicker::liveChooser()
{
    return [](QWidget *parent, const QString &prompt, const ChooseFile &browse) {
        return chooseApp(parent, prompt, browse);
    };
}

Task<std::optional<AudioCaptureApp>> ApplicationPicker::present(
    QWidget *parent, QString prompt, Choose choose, ChooseFile browse)
{
    if (!choose)
        co_return std::nullopt;
    Task<std::optional<AudioCaptureApp>> choosing = choose(parent, prompt, browse);
    co_return co_await choosing;
}

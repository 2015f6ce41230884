#include "Audio/ApplicationPicker.h"

#include "Audio/ApplicationPickerDialog.h"
#include "Audio/AudioCaptureApps.h"
#include "Platform/DesktopEntries.h"
#include "Rules/AudioOthersSelection.h"

#include <QCollator>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

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

ApplicationPicker::ChooseFile ApplicationPicker::liveFileChooser()
{
    return [](const QString &prompt, const QString &message,
               const QString &startFolder) -> std::optional<QString> {
        QFileDialog dialog(nullptr, message, startFolder,
            QStringLiteral("Applications and programs (*);;Applications (*.desktop)"));
        dialog.setOption(QFileDialog::DontUseNativeDialog); // the confirm button carries our prompt
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setLabelText(QFileDialog::Accept, prompt);
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.show();
        dialog.raise();
        dialog.activateWindow();
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().constFirst();
    };
}

ApplicationPicker::Choose ApplicationPicker::liveChooser()
{
    return [](const QString &prompt, const ChooseFile &browse) -> std::optional<AudioCaptureApp> {
        ApplicationPickerDialog dialog(prompt, browse);
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.show();
        dialog.raise();
        dialog.activateWindow();
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.chosen();
    };
}

std::optional<AudioCaptureApp> ApplicationPicker::present(
    const QString &prompt, const Choose &choose, const ChooseFile &browse)
{
    if (!choose)
        return std::nullopt;
    return choose(prompt, browse);
}

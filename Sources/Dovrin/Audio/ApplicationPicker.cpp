#include "Audio/ApplicationPicker.h"

#include "Audio/AudioCaptureApps.h"
#include "Platform/DesktopEntries.h"

#include <QDir>
#include <QFileDialog>

QString ApplicationPicker::message()
{
    return QStringLiteral("Choose an app to record. Audio from this app only. No video or screen content.");
}

ApplicationPicker::ChooseFile ApplicationPicker::liveChooser()
{
    return [](const QString &prompt, const QString &message,
               const QString &startFolder) -> std::optional<QString> {
        QFileDialog dialog(nullptr, message, startFolder, QStringLiteral("Applications (*.desktop)"));
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

std::optional<AudioCaptureApp> ApplicationPicker::present(const QString &prompt, const ChooseFile &choose)
{
    if (!choose)
        return std::nullopt;
    // The system's folder first: that is where installed applications are.
    QString startFolder = QDir::homePath();
    const QStringList dirs = DesktopEntries::applicationDirs();
    for (auto it = dirs.crbegin(); it != dirs.crend(); ++it) {
        if (QDir(*it).exists()) {
            startFolder = *it;
            break;
        }
    }
    const auto chosen = choose(prompt, message(), startFolder);
    if (!chosen || chosen->isEmpty())
        return std::nullopt;
    return AudioCaptureApps::appFromDesktopFile(*chosen);
}

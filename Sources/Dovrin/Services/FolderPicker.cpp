#include "Services/FolderPicker.h"

#include "Services/WindowActivation.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QTimer>

QString FolderPicker::startingFolder(const std::optional<QString> &wanted)
{
    if (wanted && QDir::isAbsolutePath(*wanted)) {
        QString path = QDir::cleanPath(*wanted);
        while (path != QDir::rootPath() && !path.isEmpty()) {
            if (QFileInfo(path).isDir())
                return path;
            path = QFileInfo(path).path();
        }
    }
    return QDir::homePath();
}

FolderPicker FolderPicker::live()
{
    return { [](const std::optional<QString> &startingAt, const QString &prompt,
                 const QString &message) -> std::optional<QString> {
        QFileDialog dialog;
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setLabelText(QFileDialog::Accept, prompt);
        dialog.setWindowTitle(message);
        dialog.setDirectory(startingFolder(startingAt));
        // Once shown, the dialog comes forward even while the app is a tray-only accessory.
        QTimer::singleShot(0, &dialog, [&dialog] { WindowActivation::reveal(&dialog); });
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        const QStringList chosen = dialog.selectedFiles();
        if (chosen.isEmpty() || chosen.first().isEmpty())
            return std::nullopt;
        return chosen.first();
    } };
}

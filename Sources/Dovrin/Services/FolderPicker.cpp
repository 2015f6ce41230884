#include "Services/FolderPicker.h"

#include "Services/WindowActivation.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
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

namespace {

// Parameters by value: the body runs on a later turn of the event loop.
Task<std::optional<QString>> choose(
    QPointer<QWidget> parent, std::optional<QString> startingAt, QString prompt, QString message)
{
    // Opened, not run: a modal loop here would resume every suspended task inside this call.
    auto *dialog = new QFileDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setLabelText(QFileDialog::Accept, prompt);
    dialog->setWindowTitle(message);
    dialog->setDirectory(FolderPicker::startingFolder(startingAt));
    TaskPromise<std::optional<QString>> chosen;
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, chosen](int result) {
        const QStringList files = dialog->selectedFiles();
        if (result == QDialog::Accepted && !files.isEmpty() && !files.first().isEmpty())
            chosen.resolve(files.first());
        else
            chosen.resolve(std::nullopt);
    });
    // A dialog that goes with the window that asked answers as cancelled.
    QObject::connect(dialog, &QObject::destroyed, [chosen] { chosen.resolve(std::nullopt); });
    dialog->open();
    // Once shown, the dialog comes forward even while the app is a tray-only accessory.
    QTimer::singleShot(0, dialog, [dialog] { WindowActivation::reveal(dialog); });
    TaskFuture<std::optional<QString>> answer = chosen.future();
    co_return co_await answer;
}

} // namespace

FolderPicker FolderPicker::live()
{
    return { [](QWidget *parent, const std::optional<QString> &startingAt, const QString &prompt,
                 const QString &message) { return choose(parent, startingAt, prompt, message); } };
}

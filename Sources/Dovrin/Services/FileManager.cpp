#include "Services/FileManager.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// Without an address or the standard socket libdbus would try to launch a bus of its own, and that
// blocks; there is nothing to ask then.
bool hasSessionBus()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

} // namespace

namespace FileManager {

void showItems(const QList<QUrl> &files, std::function<bool(const QUrl &)> openFolder)
{
    if (files.isEmpty())
        return;
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(files.first().toLocalFile()).path());
    QDBusConnection bus = hasSessionBus() ? QDBusConnection::sessionBus() : QDBusConnection(QString());
    if (!bus.isConnected() || !QCoreApplication::instance()) {
        openFolder(folder);
        return;
    }
    QStringList uris;
    for (const QUrl &file : files)
        uris << file.toString(QUrl::FullyEncoded);
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("ShowItems"));
    call << uris << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
        [watcher, folder, openFolder = std::move(openFolder)] {
            if (watcher->isError())
                openFolder(folder);
            watcher->deleteLater();
        });
}

QList<QUrl> moveToTrash(const QList<QUrl> &files)
{
    // Qt 6.4 puts the file into "./files" and reports success when the data folder does not exist.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    QList<QUrl> moved;
    for (const QUrl &file : files) {
        const QString path = file.toLocalFile();
        QString inTrash;
        if (path.isEmpty() || !QFile::moveToTrash(path, &inTrash))
            continue;
        if (QFileInfo(inTrash).isAbsolute()) {
            moved << file;
        } else {
            QFile::rename(inTrash, path);
        }
    }
    return moved;
}

} // namespace FileManager

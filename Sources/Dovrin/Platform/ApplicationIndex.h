#pragma once

#include "Platform/DesktopEntries.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QMultiHash>
#include <QString>
#include <QStringList>

// The installed applications (their .desktop files), indexed the ways a running process or a sound
// stream may be recognised. Read once when made; each question about a process reads /proc afresh.
class ApplicationIndex
{
public:
    ApplicationIndex();

    const DesktopEntry *entry(const QString &id) const;
    QList<DesktopEntry> entries() const;
    // The folder an application's program lies in, when no other application shares it.
    QString installFolder(const QString &id) const { return m_installFolders.value(id); }
    static bool isInsideFolder(const QString &executable, const QString &folder);

    // The applications an application id names (a desktop-file id or a Flatpak id), itself first.
    QStringList idsForAppID(const QString &appID) const;
    // What a process is: from its sandbox, its launcher's note, the program it runs or the script
    // an interpreter runs, else the install folder it lies in.
    QStringList idsForProcess(qint64 pid) const;
    // What a sound stream or client says it is: its application id, else its program, else its name.
    QStringList idsForStream(const QMap<QString, QString> &properties) const;

    // The process id a sound stream's properties name; 0 when none.
    static qint64 processIDOfStream(const QMap<QString, QString> &properties);

private:
    QHash<QString, DesktopEntry> m_byID;
    QMultiHash<QString, QString> m_byProgram;
    QMultiHash<QString, QString> m_byBinary;
    QMultiHash<QString, QString> m_byFlatpak;
    QMultiHash<QString, QString> m_byName;
    QHash<QString, QString> m_installFolders;
};

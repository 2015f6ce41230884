#include "DesktopEntries.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSet>
#include <QStandardPaths>

namespace DesktopEntries {

namespace {

QStringList dataFolders()
{
    QStringList folders;
    const QString home = qEnvironmentVariable("XDG_DATA_HOME");
    folders << (home.isEmpty() ? QDir::homePath() + "/.local/share" : home);
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString &dir : dirs.split(':', Qt::SkipEmptyParts))
        folders << dir;
    return folders;
}

std::optional<DesktopEntry> read(const QString &path, const QString &id)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text) || file.size() > 1 << 20)
        return std::nullopt;
    DesktopEntry entry;
    entry.id = id;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Name"))
            entry.name = value;
        else if (key == QLatin1String("StartupWMClass"))
            entry.startupWMClass = value;
    }
    return entry;
}

} // namespace

QList<DesktopEntry> all()
{
    QList<DesktopEntry> entries;
    QSet<QString> seen;
    for (const QString &folder : dataFolders()) {
        const QString applications = folder + "/applications";
        QDirIterator it(applications, { "*.desktop" }, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QString id = QDir(applications).relativeFilePath(path);
            id.chop(int(qstrlen(".desktop")));
            id.replace('/', '-');
            if (seen.contains(id))
                continue;
            seen.insert(id);
            if (auto entry = read(path, id))
                entries.append(*entry);
        }
    }
    return entries;
}

std::optional<DesktopEntry> forWindow(const QList<DesktopEntry> &entries, const QString &announcedID,
    const QString &wmClassInstance, const QString &wmClassName)
{
    QString announced = announcedID;
    if (announced.endsWith(QLatin1String(".desktop")))
        announced.chop(int(qstrlen(".desktop")));
    if (!announced.isEmpty()) {
        for (const DesktopEntry &entry : entries) {
            if (entry.id == announced)
                return entry;
        }
    }
    for (Qt::CaseSensitivity cs : { Qt::CaseSensitive, Qt::CaseInsensitive }) {
        for (const DesktopEntry &entry : entries) {
            if (entry.startupWMClass.isEmpty())
                continue;
            if ((!wmClassName.isEmpty() && entry.startupWMClass.compare(wmClassName, cs) == 0)
                || (!wmClassInstance.isEmpty() && entry.startupWMClass.compare(wmClassInstance, cs) == 0))
                return entry;
        }
    }
    for (const QString &name : { wmClassName, wmClassInstance }) {
        if (name.isEmpty())
            continue;
        for (const DesktopEntry &entry : entries) {
            // "org.gnome.Nautilus" answers to the class "Nautilus" as well as to its full ID.
            const QString lastPart = entry.id.section('.', -1);
            if (entry.id.compare(name, Qt::CaseInsensitive) == 0
                || (entry.id.contains('.') && lastPart.compare(name, Qt::CaseInsensitive) == 0))
                return entry;
        }
    }
    return std::nullopt;
}

} // namespace DesktopEntries

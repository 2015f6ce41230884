#include "Platform/DesktopEntries.h"

#include "Documents/AppPaths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStandardPaths>
#include <QTextStream>

namespace DesktopEntries {

namespace {

QString unescapeValue(const QString &value)
{
    QString result;
    result.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            result.append(c);
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
        case 's':
            result.append(QLatin1Char(' '));
            break;
        case 'n':
            result.append(QLatin1Char('\n'));
            break;
        case 't':
            result.append(QLatin1Char('\t'));
            break;
        case 'r':
            result.append(QLatin1Char('\r'));
            break;
        default:
            result.append(next);
            break;
        }
    }
    return result;
}

bool isTrue(const QString &value)
{
    return value.trimmed().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

} // namespace

QStringList applicationDirs()
{
    QStringList dirs;
    dirs << AppPaths::dataHome();
    QString system = qEnvironmentVariable("XDG_DATA_DIRS");
    if (system.isEmpty())
        system = QStringLiteral("/usr/local/share:/usr/share");
    dirs << system.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    QStringList result;
    for (const QString &dir : dirs) {
        const QString applications = QDir::cleanPath(dir + QStringLiteral("/applications"));
        if (!result.contains(applications))
            result << applications;
    }
    return result;
}

QString idForPath(const QString &path)
{
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QString id = QFileInfo(clean).fileName();
    for (const QString &dir : applicationDirs()) {
        if (clean.startsWith(dir + QLatin1Char('/'))) {
            id = clean.mid(dir.size() + 1).replace(QLatin1Char('/'), QLatin1Char('-'));
            break;
        }
    }
    if (id.endsWith(QLatin1String(".desktop")))
        id.chop(8);
    return id;
}

QStringList splitExec(const QString &exec)
{
    QStringList arguments;
    QString current;
    bool quoted = false;
    bool any = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
                current.append(exec.at(++i));
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                current.append(c);
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            any = true;
        } else if (c.isSpace()) {
            if (any || !current.isEmpty())
                arguments << current;
            current.clear();
            any = false;
        } else {
            current.append(c);
        }
    }
    if (any || !current.isEmpty())
        arguments << current;
    return arguments;
}

QString programOf(const QString &exec)
{
    const QStringList arguments = splitExec(exec);
    qsizetype i = 0;
    if (i < arguments.size() && QFileInfo(arguments.at(i)).fileName() == QLatin1String("env")) {
        ++i;
        while (i < arguments.size()
            && (arguments.at(i).contains(QLatin1Char('=')) || arguments.at(i).startsWith(QLatin1Char('-'))))
            ++i;
    }
    if (i >= arguments.size())
        return {};
    const QString program = arguments.at(i);
    const QString found
        = program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
    if (found.isEmpty())
        return {};
    const QString canonical = QFileInfo(found).canonicalFilePath();
    return canonical.isEmpty() ? found : canonical;
}

std::optional<QHash<QString, QString>> mainGroup(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    QTextStream stream(&file);
    bool inMain = false;
    bool sawMain = false;
    QHash<QString, QString> values;
    while (!stream.atEnd()) {
        const QString line = stream.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inMain = line == QLatin1String("[Desktop Entry]");
            sawMain = sawMain || inMain;
            continue;
        }
        if (!inMain)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        if (!values.contains(key))
            values.insert(key, line.mid(equals + 1).trimmed());
    }
    if (!sawMain)
        return std::nullopt;
    return values;
}

std::optional<DesktopEntry> fromFile(const QString &path)
{
    const auto group = mainGroup(path);
    if (!group)
        return std::nullopt;
    const auto value = [&](const char *key) { return unescapeValue(group->value(QLatin1String(key))); };
    if (value("Type") != QLatin1String("Application"))
        return std::nullopt;

    DesktopEntry entry;
    entry.id = idForPath(path);
    entry.path = QFileInfo(path).absoluteFilePath();
    entry.name = value("Name");
    entry.iconName = value("Icon");
    entry.exec = value("Exec");
    entry.program = programOf(entry.exec);
    entry.flatpakID = value("X-Flatpak");
    entry.mimeTypes = value("MimeType").split(QLatin1Char(';'), Qt::SkipEmptyParts);
    entry.startupWMClass = value("StartupWMClass");
    entry.hidden = isTrue(value("Hidden"));
    entry.noDisplay = isTrue(value("NoDisplay"));
    return entry;
}

QList<DesktopEntry> all()
{
    QList<DesktopEntry> entries;
    QSet<QString> seen;
    for (const QString &dir : applicationDirs()) {
        QDirIterator files(dir, { QStringLiteral("*.desktop") }, QDir::Files | QDir::Readable,
            QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
        QStringList paths;
        while (files.hasNext())
            paths << files.next();
        paths.sort();
        for (const QString &path : paths) {
            const QString id = idForPath(path);
            if (seen.contains(id))
                continue;
            seen.insert(id);
            auto entry = fromFile(path);
            if (entry && !entry->hidden)
                entries.append(*entry);
        }
    }
    return entries;
}

std::optional<DesktopEntry> find(const QString &id)
{
    if (id.isEmpty() || id.contains(QLatin1Char('/')))
        return std::nullopt;
    for (const QString &dir : applicationDirs()) {
        // Ids with dashes may stand for files in subfolders ("kde4-kate" = kde4/kate.desktop).
        QString relative = id + QStringLiteral(".desktop");
        QStringList candidates { relative };
        for (qsizetype dash = relative.indexOf(QLatin1Char('-')); dash >= 0;
             dash = relative.indexOf(QLatin1Char('-'), dash + 1)) {
            QString nested = relative;
            nested[dash] = QLatin1Char('/');
            candidates << nested;
        }
        for (const QString &candidate : candidates) {
            const QString path = dir + QLatin1Char('/') + candidate;
            if (!QFileInfo(path).isFile() || idForPath(path) != id)
                continue;
            auto entry = fromFile(path);
            if (!entry || entry->hidden)
                return std::nullopt; // Hidden hides the same id in later folders too
            return entry;
        }
    }
    return std::nullopt;
}

} // namespace DesktopEntries

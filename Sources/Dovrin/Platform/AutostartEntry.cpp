#include "AutostartEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

QString quoteArgument(const QString &argument)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted += u'"';
    return quoted;
}

QString escapeString(const QString &value)
{
    QString escaped;
    for (const QChar c : value) {
        if (c == u'\\')
            escaped += QStringLiteral("\\\\");
        else if (c == u'\n')
            escaped += QStringLiteral("\\n");
        else if (c == u'\t')
            escaped += QStringLiteral("\\t");
        else if (c == u'\r')
            escaped += QStringLiteral("\\r");
        else
            escaped += c;
    }
    return escaped;
}

QString unescapeString(const QString &value)
{
    QString plain;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != u'\\' || i + 1 == value.size()) {
            plain += c;
            continue;
        }
        const QChar next = value.at(++i);
        if (next == u's')
            plain += u' ';
        else if (next == u'n')
            plain += u'\n';
        else if (next == u't')
            plain += u'\t';
        else if (next == u'r')
            plain += u'\r';
        else if (next == u'\\')
            plain += u'\\';
        else
            plain += QString(c) + next;
    }
    return plain;
}

bool sameFile(const QString &a, const QString &b)
{
    if (a == b)
        return true;
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    return !canonicalA.isEmpty() && canonicalA == QFileInfo(b).canonicalFilePath();
}

bool isFalse(const QString &value)
{
    return value.trimmed().compare(QLatin1String("false"), Qt::CaseInsensitive) == 0;
}

bool isTrue(const QString &value)
{
    return value.trimmed().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

} // namespace

AutostartEntry::AutostartEntry(const QString &configHome, const QString &desktopId)
    : m_folder(QDir(configHome).filePath(QStringLiteral("autostart")))
    , m_desktopId(desktopId)
{ }

QString AutostartEntry::filePath() const
{
    return QDir(m_folder).filePath(m_desktopId + QStringLiteral(".desktop"));
}

AutostartEntry::State AutostartEntry::state(const QString &executablePath) const
{
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return State::absent;
    // Only the main group counts; actions and other groups may repeat its keys.
    bool inMainGroup = false;
    std::optional<QString> exec;
    bool hidden = false;
    bool switchedOff = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Exec"))
            exec = value;
        else if (key == QLatin1String("Hidden"))
            hidden = isTrue(value);
        else if (key == QLatin1String("X-GNOME-Autostart-enabled"))
            switchedOff = isFalse(value);
    }
    const std::optional<QStringList> command = exec ? parseExecValue(*exec) : std::nullopt;
    if (!command || command->isEmpty() || !sameFile(command->first(), executablePath))
        return State::absent;
    return hidden || switchedOff ? State::disabled : State::enabled;
}

bool AutostartEntry::write(const QString &executablePath, const QString &name, QString *error) const
{
    if (!QDir().mkpath(m_folder) || !QFileInfo(m_folder).isDir()) {
        if (error)
            *error = QStringLiteral("The autostart folder %1 could not be created.").arg(m_folder);
        return false;
    }
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=%1\n"
                                        "Exec=%2\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(escapeString(name), execValue({ executablePath }));
    file.write(text.toUtf8());
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool AutostartEntry::remove(QString *error) const
{
    QFile file(filePath());
    if (!file.exists() || file.remove())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

QString AutostartEntry::execValue(const QStringList &command)
{
    QStringList quoted;
    for (const QString &argument : command)
        quoted << quoteArgument(argument).replace(u'%', QStringLiteral("%%"));
    return escapeString(quoted.join(u' '));
}

std::optional<QStringList> AutostartEntry::parseExecValue(const QString &value)
{
    const QString plain = unescapeString(value);
    QStringList command;
    qsizetype i = 0;
    while (i < plain.size()) {
        if (plain.at(i) == u' ' || plain.at(i) == u'\t') {
            ++i;
            continue;
        }
        QString argument;
        if (plain.at(i) == u'"') {
            ++i;
            bool closed = false;
            while (i < plain.size()) {
                const QChar c = plain.at(i++);
                if (c == u'"') {
                    closed = true;
                    break;
                }
                if (c == u'\\' && i < plain.size())
                    argument += plain.at(i++);
                else
                    argument += c;
            }
            if (!closed)
                return std::nullopt;
        } else {
            while (i < plain.size() && plain.at(i) != u' ' && plain.at(i) != u'\t')
                argument += plain.at(i++);
        }
        command << argument.replace(QStringLiteral("%%"), QStringLiteral("%"));
    }
    return command;
}

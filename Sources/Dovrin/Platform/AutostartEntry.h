#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// One XDG autostart entry, "<config home>/autostart/<desktop id>.desktop", that starts a program
// when the user logs in.
class AutostartEntry
{
public:
    // What the entry at the path says about one executable.
    enum class State {
        absent, // no entry, an unreadable one, or one that starts another program
        enabled,
        disabled, // ours, but switched off in the desktop's startup settings
    };

    AutostartEntry(const QString &configHome, const QString &desktopId);

    QString folderPath() const { return m_folder; }
    QString filePath() const;

    State state(const QString &executablePath) const;
    // Writes the entry atomically, 0644 in a 0755 folder at most. On failure answers false and says why
    // in `error`.
    bool write(const QString &executablePath, const QString &name, QString *error) const;
    bool remove(QString *error) const;

    // The Exec= value for a command: every argument quoted, '%' doubled, then escaped as a string.
    static QString execValue(const QStringList &command);
    // The command an Exec= value stands for; none when its quoting is broken.
    static std::optional<QStringList> parseExecValue(const QString &value);

private:
    QString m_folder;
    QString m_desktopId;
};

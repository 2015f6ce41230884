#include "Platform/DesktopSettingsOpener.h"

#include <QProcess>
#include <QStandardPaths>

#include <vector>

namespace DesktopSettingsOpener {

namespace {

struct Tool
{
    const char *desktop; // as named in $XDG_CURRENT_DESKTOP; empty for a tool of any desktop
    QStringList command;
};

std::vector<Tool> toolsFor(const QString &page)
{
    const QString gnome = QStringLiteral("gnome-control-center");
    const QString kde = QStringLiteral("systemsettings");
    const QString mixer = QStringLiteral("pavucontrol");
    if (page == QLatin1String("screen-recording"))
        return { { "GNOME", { gnome, QStringLiteral("sharing") } } };
    if (page == QLatin1String("accessibility"))
        return { { "GNOME", { gnome, QStringLiteral("universal-access") } },
            { "KDE", { kde, QStringLiteral("kcm_access") } },
            { "XFCE", { QStringLiteral("xfce4-accessibility-settings") } } };
    if (page == QLatin1String("system-audio") || page == QLatin1String("sound"))
        return { { "GNOME", { gnome, QStringLiteral("sound") } },
            { "KDE", { kde, QStringLiteral("kcm_pulseaudio") } }, { "", { mixer } } };
    if (page == QLatin1String("microphone"))
        return { { "GNOME", { gnome, QStringLiteral("microphone") } },
            { "KDE", { kde, QStringLiteral("kcm_pulseaudio") } },
            { "", { mixer, QStringLiteral("--tab=4") } } };
    if (page == QLatin1String("login-items"))
        return { { "GNOME", { QStringLiteral("gnome-session-properties") } },
            { "GNOME", { QStringLiteral("gnome-tweaks") } },
            { "KDE", { kde, QStringLiteral("kcm_autostart") } },
            { "XFCE", { QStringLiteral("xfce4-session-settings") } } };
    return {};
}

bool runsOn(const char *desktop, const QString &currentDesktop)
{
    const QStringList current = currentDesktop.split(u':', Qt::SkipEmptyParts);
    return current.contains(QLatin1String(desktop), Qt::CaseInsensitive);
}

} // namespace

QUrl pageURL(const QString &page)
{
    QUrl url;
    url.setScheme(scheme);
    url.setPath(page);
    return url;
}

std::optional<QStringList> command(const QUrl &url, const QString &currentDesktop)
{
    if (url.scheme() != scheme)
        return std::nullopt;
    const std::vector<Tool> tools = toolsFor(url.path());
    // This desktop's tools, then those of any desktop, then the other desktops' tools.
    for (int pass = 0; pass < 3; ++pass) {
        for (const Tool &tool : tools) {
            const bool any = *tool.desktop == '\0';
            const bool matches = pass == 0 ? !any && runsOn(tool.desktop, currentDesktop)
                : pass == 1                ? any
                                           : !any && !runsOn(tool.desktop, currentDesktop);
            if (matches && !QStandardPaths::findExecutable(tool.command.first()).isEmpty())
                return tool.command;
        }
    }
    return std::nullopt;
}

bool open(const QUrl &url)
{
    const std::optional<QStringList> tool = command(url, qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
    if (!tool)
        return false;
    QProcess process;
    process.setProgram(tool->first());
    process.setArguments(tool->mid(1));
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

} // namespace DesktopSettingsOpener

#include "Documents/AppPaths.h"

#include <QDir>

namespace {

QString baseDirectory(const char *variable, const QString &fallbackBelowHome)
{
    // Relative values are invalid by the XDG rules and must be ignored.
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(QDir::homePath() + QLatin1Char('/') + fallbackBelowHome);
}

} // namespace

namespace AppPaths {

QString dataHome()
{
    return baseDirectory("XDG_DATA_HOME", QStringLiteral(".local/share"));
}

QString configHome()
{
    return baseDirectory("XDG_CONFIG_HOME", QStringLiteral(".config"));
}

QString dataDirectory()
{
    return dataHome() + QLatin1Char('/') + QLatin1String(bundleIdentifier);
}

QString configDirectory()
{
    return configHome() + QLatin1Char('/') + QLatin1String(bundleIdentifier);
}

} // namespace AppPaths

#include "Rules/AudioLevelMeter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// The largest count of seconds that a double still holds exactly; beyond it the digits are noise anyway,
// and it keeps the conversion to an integer defined.
constexpr double maximumWholeSeconds = 9007199254740991.0; // 2^53 - 1

std::int64_t wholeSeconds(double seconds)
{
    if (!std::isfinite(seconds) || seconds <= 0.0)
        return 0;
    return static_cast<std::int64_t>(std::floor(std::min(seconds, maximumWholeSeconds)));
}

QString twoDigits(std::int64_t value)
{
    return QString::number(value).rightJustified(2, QLatin1Char('0'));
}

} // namespace

namespace AudioLevelMeter {

QString bar(float level)
{
    if (std::isnan(level) || level < 0.001f)
        return QStringLiteral("\u2014");
    if (level < 0.05f)
        return QStringLiteral("\u2582");
    if (level < 0.2f)
        return QStringLiteral("\u2584");
    return QStringLiteral("\u2588");
}

QString timestamp(double seconds)
{
    const std::int64_t whole = wholeSeconds(seconds);
    return QString::number(whole / 60) + QLatin1Char(':') + twoDigits(whole % 60);
}

} // namespace AudioLevelMeter

namespace AudioElapsed {

QString label(double seconds)
{
    const std::int64_t whole = wholeSeconds(seconds);
    const std::int64_t hours = whole / 3600;
    const std::int64_t minutes = (whole / 60) % 60;
    const std::int64_t secs = whole % 60;
    if (hours == 0)
        return QString::number(minutes) + QLatin1Char(':') + twoDigits(secs);
    return QString::number(hours) + QLatin1Char(':') + twoDigits(minutes) + QLatin1Char(':')
        + twoDigits(secs);
}

} // namespace AudioElapsed

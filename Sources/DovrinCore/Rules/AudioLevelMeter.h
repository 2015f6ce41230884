#pragma once

#include <QString>

// Text forms of live levels and times. Levels and seconds come from audio callbacks and clocks and may be
// NaN, infinite or absurdly large; every function here answers with a sane text instead of failing.
namespace AudioLevelMeter {

// One glyph for a level (0 = silence, 1 = full scale): "—" below 0.001, "▂" below 0.05, "▄" below 0.2,
// "█" from 0.2 on. A level that is not a number shows as silence.
QString bar(float level);

// A position in a recording as "m:ss" with unlimited minutes (3600 s gives "60:00"). Negative, infinite
// and NaN values give "0:00".
QString timestamp(double seconds);

} // namespace AudioLevelMeter

namespace AudioElapsed {

// Elapsed recording time, rounded down: "m:ss" below one hour, "h:mm:ss" from one hour on.
// Negative, infinite and NaN values count as zero.
QString label(double seconds);

} // namespace AudioElapsed

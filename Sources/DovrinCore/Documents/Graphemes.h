#pragma once

#include <QString>

// Text measured in user-perceived characters (grapheme clusters), so a cut never splits an accent,
// a surrogate pair or an emoji sequence.
namespace Graphemes {

// The first `count` characters; the text unchanged when it is not longer.
QString left(const QString &text, int count);

} // namespace Graphemes

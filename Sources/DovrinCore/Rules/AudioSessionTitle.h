#pragma once

#include <QString>

#include <optional>

// The title an audio session is saved under, taken from what was said.
namespace AudioSessionTitle {

// The first line with words in it: each line is trimmed, a leading "[...]" tag such as a "[1:15]"
// timestamp is dropped, and the first line left that is not empty is cut to 72 characters (user-perceived
// characters, so no letter or emoji is split) and trimmed again at its end. None for a transcript
// without such a line.
std::optional<QString> firstSpokenLine(const QString &transcript);

// The first spoken line of Others, else of You, else "Audio session".
QString make(const QString &others, const QString &you);

} // namespace AudioSessionTitle

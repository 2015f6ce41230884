#pragma once

#include <QString>

// Text from outside (recognition, transcription, a paste) made fit to split, store and show.
namespace TextSanitizer {

// Every unpaired UTF-16 surrogate replaced by U+FFFD. Line splitting and other regular expressions
// give up on a text that is not valid UTF-16.
QString validUtf16(const QString &text);

// For a Markdown body: valid UTF-16, NUL written as U+FFFD, CR LF, a lone CR and NEL as LF, and every
// other control (C0 except tab, DEL, C1) dropped. Editors, note apps and terminals choke on them.
QString markdownBody(const QString &text);

} // namespace TextSanitizer

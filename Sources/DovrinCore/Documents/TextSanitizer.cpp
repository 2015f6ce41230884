#include "Documents/TextSanitizer.h"

namespace TextSanitizer {

QString validUtf16(const QString &text)
{
    if (text.isValidUtf16())
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += c;
            out += text.at(++i);
        } else {
            out += c.isSurrogate() ? QChar(QChar::ReplacementCharacter) : c;
        }
    }
    return out;
}

QString markdownBody(const QString &text)
{
    const QString valid = validUtf16(text);
    QString out;
    out.reserve(valid.size());
    for (qsizetype i = 0; i < valid.size(); ++i) {
        const char16_t c = valid.at(i).unicode();
        // DEL and the C1 controls (U+009B opens a terminal escape as ESC [ does) go like C0 ones;
        // NEL is a line break.
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
        if (!control || c == u'\t' || c == u'\n')
            out += QChar(c);
        else if (c == 0)
            out += QChar(QChar::ReplacementCharacter);
        else if ((c == u'\r' && (i + 1 == valid.size() || valid.at(i + 1) != u'\n')) || c == 0x85)
            out += QLatin1Char('\n');
    }
    return out;
}

} // namespace TextSanitizer

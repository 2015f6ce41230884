#include "Rules/AudioSessionTitle.h"

#include "Documents/Graphemes.h"
#include "Documents/TextSanitizer.h"

#include <QRegularExpression>

namespace {

constexpr int maximumTitleCharacters = 72;

QString trimmedEnd(const QString &text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1).isSpace())
        --end;
    return text.left(end);
}

} // namespace

namespace AudioSessionTitle {

std::optional<QString> firstSpokenLine(const QString &transcript)
{
    static const QRegularExpression lineBreak(
        QStringLiteral("\\r\\n|[\\n\\r\\x{0B}\\x{0C}\\x{85}\\x{2028}\\x{2029}]"));
    const QStringList lines = TextSanitizer::validUtf16(transcript).split(lineBreak);
    for (const QString &raw : lines) {
        QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            const qsizetype close = line.indexOf(QLatin1Char(']'));
            if (close >= 0)
                line = line.mid(close + 1).trimmed();
        }
        if (line.isEmpty())
            continue;
        const QString cut = Graphemes::left(line, maximumTitleCharacters);
        return cut.size() < line.size() ? trimmedEnd(cut) : line;
    }
    return std::nullopt;
}

QString make(const QString &others, const QString &you)
{
    if (auto line = firstSpokenLine(others))
        return *line;
    if (auto line = firstSpokenLine(you))
        return *line;
    return QStringLiteral("Audio session");
}

} // namespace AudioSessionTitle

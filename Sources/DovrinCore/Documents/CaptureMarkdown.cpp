#include "Documents/CaptureMarkdown.h"

#include "Documents/Graphemes.h"
#include "Documents/TextSanitizer.h"

#include <QChar>
#include <QList>

namespace YAMLText {

namespace {

void appendHex(QString &out, char marker, uint value, int digits)
{
    out += QLatin1Char('\\');
    out += QLatin1Char(marker);
    out += QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

} // namespace

QString quoted(const QString &text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    // toUcs4 turns a lone surrogate into U+FFFD, which UTF-8 can carry.
    for (const char32_t point : text.toUcs4()) {
        switch (point) {
        case U'\\':
            out += QLatin1String("\\\\");
            continue;
        case U'"':
            out += QLatin1String("\\\"");
            continue;
        case 0x00:
            out += QLatin1String("\\0");
            continue;
        case 0x07:
            out += QLatin1String("\\a");
            continue;
        case 0x08:
            out += QLatin1String("\\b");
            continue;
        case 0x09:
            out += QLatin1String("\\t");
            continue;
        case 0x0A:
            out += QLatin1String("\\n");
            continue;
        case 0x0B:
            out += QLatin1String("\\v");
            continue;
        case 0x0C:
            out += QLatin1String("\\f");
            continue;
        case 0x0D:
            out += QLatin1String("\\r");
            continue;
        case 0x1B:
            out += QLatin1String("\\e");
            continue;
        case 0x85:
            out += QLatin1String("\\N");
            continue;
        case 0x2028:
            out += QLatin1String("\\L");
            continue;
        case 0x2029:
            out += QLatin1String("\\P");
            continue;
        default:
            break;
        }
        if (point < 0x20 || (point >= 0x7F && point <= 0x9F))
            appendHex(out, 'x', point, 2);
        else if (point == 0xFEFF || point == 0xFFFE || point == 0xFFFF)
            appendHex(out, 'u', point, 4);
        else
            out += QString::fromUcs4(&point, 1);
    }
    out += QLatin1Char('"');
    return out;
}

QString quoted(const std::optional<QString> &text)
{
    return text ? quoted(*text) : QStringLiteral("null");
}

QString sequence(const QStringList &items)
{
    QStringList parts;
    parts.reserve(items.size());
    for (const QString &item : items)
        parts.append(quoted(item));
    return QLatin1Char('[') + parts.join(QLatin1String(", ")) + QLatin1Char(']');
}

QString boolean(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString date(const QDateTime &date)
{
    if (!date.isValid())
        return QStringLiteral("null");
    const QDateTime local = date.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = (offset < 0 ? -offset : offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"))
        + (offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        + QStringLiteral("%1:%2")
              .arg(minutes / 60, 2, 10, QLatin1Char('0'))
              .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace YAMLText

namespace CaptureFilename {

namespace {

bool isKept(char32_t point)
{
    switch (QChar::category(point)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
        return true;
    default:
        return false;
    }
}

} // namespace

QString sanitizedTitle(const QString &title)
{
    QList<char32_t> slug;
    bool separatorPending = false;
    for (const char32_t point : title.toLower().toUcs4()) {
        if (!isKept(point)) {
            separatorPending = true;
            continue;
        }
        if (separatorPending && !slug.isEmpty())
            slug.append(U'-');
        separatorPending = false;
        slug.append(point);
    }
    // Cut whole characters as a reader sees them: never between a letter and its accent or vowel
    // sign, nor inside a UTF-16 pair.
    QString cut = Graphemes::left(QString::fromUcs4(slug.constData(), slug.size()), maximumSlugLength);
    while (cut.endsWith(QLatin1Char('-')))
        cut.chop(1);
    return cut.isEmpty() ? QStringLiteral("untitled") : cut;
}

QString make(const QDateTime &date, const QString &title, const QUuid &id, const QTimeZone &timeZone,
    const QString &pathExtension)
{
    QString stamp = QStringLiteral("0000-00-00T00-00-00");
    if (date.isValid()) {
        const QDateTime zoned = timeZone.isValid() ? date.toTimeZone(timeZone) : date.toLocalTime();
        const QDate day = zoned.date();
        const QTime time = zoned.time();
        stamp = QString::asprintf("%04d-%02d-%02dT%02d-%02d-%02d", day.year(), day.month(), day.day(),
            time.hour(), time.minute(), time.second());
    }
    const QString shortID = id.toString(QUuid::WithoutBraces).remove(QLatin1Char('-')).left(8).toLower();
    QString name = stamp + QLatin1Char('_') + sanitizedTitle(title) + QLatin1Char('_') + shortID;
    if (!pathExtension.isEmpty())
        name += QLatin1Char('.') + pathExtension;
    return name;
}

} // namespace CaptureFilename

// A saved note is YAML front matter with the metadata only, then a blank line and the words, each
// once: a capture's note and its captured text, or an audio session's note and its "## Others" and
// "## You" sections. Body text keeps no control characters but tab and line feed. Note apps show the front
// matter as properties and the body as the note, so nothing a reader edits in the body is left behind in a
// property that disagrees with it.
namespace {

QString frontMatter(const QString &schema, const QList<std::pair<const char *, QString>> &fields)
{
    QString out = QStringLiteral("---\nschema: ") + YAMLText::quoted(schema) + QLatin1Char('\n');
    for (const auto &[key, value] : fields)
        out += QLatin1String(key) + QLatin1String(": ") + value + QLatin1Char('\n');
    out += QLatin1String("---\n\n");
    return out;
}

QString idText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces);
}

// Paragraphs that are not empty, a blank line between them, and a final newline.
QString paragraphs(const QStringList &parts)
{
    QStringList kept;
    for (const QString &part : parts) {
        if (!part.isEmpty())
            kept.append(part);
    }
    return kept.isEmpty() ? QString() : kept.join(QLatin1String("\n\n")) + QLatin1Char('\n');
}

QString section(const QString &heading, const QString &transcript)
{
    const QString text = TextSanitizer::markdownBody(transcript);
    return QStringLiteral("## ") + heading + (text.isEmpty() ? QString() : QLatin1String("\n\n") + text);
}

} // namespace

QString CaptureMarkdownDocument::render() const
{
    return frontMatter(QLatin1String(schema),
               {
                   { "id", YAMLText::quoted(idText(id)) },
                   { "title", YAMLText::quoted(title) },
                   { "capturedAt", YAMLText::date(capturedAt) },
                   { "sourceApplication", YAMLText::quoted(sourceApplication) },
                   { "sourceBundleID", YAMLText::quoted(sourceBundleID) },
                   { "ocrLanguages", YAMLText::sequence(ocrLanguages) },
                   { "reviewedByUser", YAMLText::boolean(reviewedByUser) },
                   { "screenshotRetained", YAMLText::boolean(screenshotRetained) },
                   { "tags", YAMLText::sequence(tags) },
               })
        + paragraphs({ TextSanitizer::markdownBody(note), TextSanitizer::markdownBody(capturedText) });
}

QString AudioSessionMarkdownDocument::render() const
{
    return frontMatter(QLatin1String(schema),
               {
                   { "id", YAMLText::quoted(idText(id)) },
                   { "title", YAMLText::quoted(title) },
                   { "capturedAt", YAMLText::date(capturedAt) },
                   { "durationSeconds", QString::number(durationSeconds) },
                   { "othersFilename", YAMLText::quoted(othersFilename) },
                   { "youFilename", YAMLText::quoted(youFilename) },
                   { "heardOthers", YAMLText::boolean(heardOthers) },
                   { "heardYou", YAMLText::boolean(heardYou) },
                   { "transcriber", YAMLText::quoted(transcriber) },
                   { "reviewedByUser", YAMLText::boolean(reviewedByUser) },
                   { "othersTranscriptionUnavailable", YAMLText::boolean(othersTranscriptionUnavailable) },
                   { "youTranscriptionUnavailable", YAMLText::boolean(youTranscriptionUnavailable) },
               })
        + paragraphs({ TextSanitizer::markdownBody(note), section(QStringLiteral("Others"), othersTranscript),
            section(QStringLiteral("You"), youTranscript) });
}

#include "ScrollingTestDocument.h"

namespace {

// Plain words a recognizer reads surely; many, so that stretches of different records rarely agree.
const QStringList vocabulary = { "harbor", "granite", "ledger", "orbit", "violet", "tunnel", "sample",
    "beacon", "meadow", "copper", "drift", "quartz", "pepper", "lantern", "summit", "canvas", "thistle",
    "falcon", "marble", "willow", "ember", "saddle", "orchard", "signal", "river", "garden", "window",
    "market", "silver", "button", "pencil", "rocket", "forest", "planet", "bridge", "castle", "dragon",
    "jacket", "kitten", "ladder", "magnet", "needle", "pillow", "rabbit", "spider", "timber", "velvet",
    "wallet", "anchor", "basket", "candle", "dinner", "engine", "fabric", "goblet", "hammer", "island",
    "jungle", "kettle", "lemon", "mirror", "napkin", "oyster", "parrot", "quiver", "ribbon", "salmon",
    "tablet", "umpire", "vessel", "walnut", "yellow", "zipper", "across", "behind", "clever", "during",
    "eleven", "family", "gentle", "hollow", "inside", "joyful", "kindly", "little", "modern", "narrow",
    "office", "people", "quiet", "rather", "simple", "thirty", "useful", "winter", "wooden" };

const QString repeatedLine = QStringLiteral("more of the same words again");
const QString blockLine = QStringLiteral("recommended item with the same text");
constexpr int blockLines = 20;
constexpr int recordsPerBlock = 10;
constexpr int recordsPerHeading = 25;

QString number(int record)
{
    return QStringLiteral("%1").arg(record, 4, 10, QLatin1Char('0'));
}

QStringList wordsOf(int record, int count)
{
    QStringList words;
    quint32 seed = quint32(record) * 2654435761u + 12345u;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        words << vocabulary.at(int((seed >> 8) % quint32(vocabulary.size())));
    }
    return words;
}

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

} // namespace

ScrollingTestDocument::ScrollingTestDocument(const Options &options)
    : m_options(options)
{
    for (int record = 1; record <= options.records; ++record) {
        switch (options.content) {
        case Content::article:
            m_truth << QStringLiteral("Record %1 %2").arg(number(record), wordsOf(record, 40).join(u' '));
            m_isHeading << false;
            if (record % recordsPerHeading == 0 && record < options.records) {
                m_truth << QStringLiteral("Section %1").arg(record / recordsPerHeading + 1);
                m_isHeading << true;
            }
            break;
        case Content::lines:
        case Content::repeatedLines:
        case Content::identicalBlocks: {
            m_truth << number(record) + u' ' + wordsOf(record, 7).join(u' ');
            m_isHeading << false;
            // The last line is a record of its own: nothing else could tell where the document ends.
            const bool last = record == options.records;
            for (int copy = 0; options.content == Content::repeatedLines && !last && copy < record % 3;
                 ++copy) {
                m_truth << repeatedLine;
                m_isHeading << false;
            }
            for (int line = 0; options.content == Content::identicalBlocks && !last
                 && record % recordsPerBlock == 0 && line < blockLines;
                 ++line) {
                m_truth << blockLine;
                m_isHeading << false;
            }
            break;
        }
        case Content::lookAlikeRows:
            m_truth << QStringLiteral("Recommended item\tIn stock\t%1").arg(number(record));
            m_isHeading << false;
            break;
        }
    }
}

QString ScrollingTestDocument::name() const
{
    static const char *contents[]
        = { "article", "numbered lines", "repeated lines", "blocks of identical lines", "look-alike rows" };
    QString name = QStringLiteral("%1 of %2 records")
                       .arg(QString::fromLatin1(contents[int(m_options.content)]))
                       .arg(m_options.records);
    if (m_options.floatingButton)
        name += QStringLiteral(", floating button");
    if (m_options.fixedFooter)
        name += QStringLiteral(", fixed footer");
    if (m_options.flatPanel)
        name += QStringLiteral(", flat panel");
    if (m_options.content == Content::lookAlikeRows && !m_options.alternateRows)
        name += QStringLiteral(", one colour");
    return name;
}

QStringList ScrollingTestDocument::decorations() const
{
    return m_options.fixedFooter ? QStringList { QStringLiteral("Subscribe to the newsletter") }
                                 : QStringList();
}

QString ScrollingTestDocument::text() const
{
    QString text;
    for (const QString &line : m_truth) {
        QString shown = line;
        // Columns of a list as a pager shows them: padded, the number at the right.
        if (m_options.content == Content::lookAlikeRows) {
            const QStringList cells = line.split(u'\t');
            shown = cells.value(0).leftJustified(28) + cells.value(1).leftJustified(28)
                + cells.value(2).rightJustified(8);
        }
        text += shown + u'\n';
    }
    return text;
}

QString ScrollingTestDocument::rows() const
{
    QString rows;
    for (const QString &line : m_truth)
        rows += (line.contains(u'\t') ? line : line + QStringLiteral("\t\t")) + u'\n';
    return rows;
}

QString ScrollingTestDocument::html(const QString &readyToken) const
{
    QString body;
    const int panelAfter = m_options.flatPanel ? qMax(1, int(m_truth.size()) / 2) : -1;
    for (qsizetype i = 0; i < m_truth.size(); ++i) {
        const QString &line = m_truth[i];
        if (m_isHeading[i]) {
            body += QStringLiteral("<h2>%1</h2>\n").arg(escaped(line));
        } else if (m_options.content == Content::article) {
            const QString head = line.section(u' ', 0, 1);
            body
                += QStringLiteral("<p><b>%1</b> %2</p>\n").arg(escaped(head), escaped(line.section(u' ', 2)));
        } else if (m_options.content == Content::lookAlikeRows) {
            const QStringList cells = line.split(u'\t');
            body += QStringLiteral(
                "<div class=row><span>%1</span><span>%2</span><span class=n>%3</span></div>\n")
                        .arg(escaped(cells.value(0)), escaped(cells.value(1)), escaped(cells.value(2)));
        } else {
            body += QStringLiteral("<div class=line>%1</div>\n").arg(escaped(line));
        }
        if (i == panelAfter)
            body += QStringLiteral("<div class=panel></div>\n");
    }
    QString extras;
    if (m_options.floatingButton)
        extras += QStringLiteral("<div class=floating><div class=chevron></div></div>\n");
    if (m_options.fixedFooter)
        extras += QStringLiteral("<div class=footer>%1</div>\n").arg(decorations().constFirst());
    // The title tells the harness where the column is on screen, once fonts and layout have settled.
    const QString script = QStringLiteral(R"(
<script>
function report() {
  const column = document.querySelector("main").getBoundingClientRect();
  const ratio = window.devicePixelRatio;
  const left = Math.round((window.mozInnerScreenX + column.left - 16) * ratio);
  const top = Math.round(window.mozInnerScreenY * ratio);
  const width = Math.round((column.width + 32) * ratio);
  const height = Math.round(window.innerHeight * ratio);
  document.title = "%1 " + left + " " + top + " " + width + " " + height;
}
window.addEventListener("load", () => {
  document.fonts.ready.then(() => requestAnimationFrame(() => requestAnimationFrame(() => setTimeout(report, 300))));
});
</script>)")
                               .arg(readyToken);
    return QStringLiteral(R"(<!doctype html>
<html><head><meta charset="utf-8"><title>Article</title>
<style>
html { background: %1; }
body { margin: 0; color: #222222; font-family: "DejaVu Serif", serif; font-size: 17px; line-height: 1.45; }
main { width: min(720px, calc(100vw - 96px)); margin: 24px auto 40px auto; }
h2 { font-family: "DejaVu Sans", sans-serif; font-size: 22px; margin: 28px 0 12px 0; }
p { margin: 0 0 14px 0; }
.line { font-family: "DejaVu Sans Mono", monospace; font-size: 15px; white-space: pre; }
.row { display: flex; font-family: "DejaVu Sans", sans-serif; font-size: 15px; padding: 5px 8px; }
.striped .row:nth-child(even) { background: #e6edf6; }
.row span { flex: 1; } .row span.n { flex: 0 0 80px; text-align: right; }
.panel { height: 150vh; margin: 20px 0; background: #d6dce4; border: 1px solid #96a0ac; }
.floating { position: fixed; bottom: 72px; left: calc(50% + min(280px, 50vw - 140px)); width: 56px; height: 56px;
  border-radius: 50%; background: #16a085; box-shadow: 0 2px 6px rgba(0, 0, 0, 0.35); }
.chevron { position: absolute; left: 20px; top: 24px; width: 12px; height: 12px;
  border-left: 3px solid #ffffff; border-top: 3px solid #ffffff; transform: rotate(45deg); }
.footer { position: fixed; left: 0; right: 0; bottom: 0; height: 48px; background: #1e283c;
  color: #ffffff; font-family: "DejaVu Sans", sans-serif; font-size: 16px; line-height: 48px;
  text-align: center; }
</style>%2</head>
<body><main class="%5">
%3</main>
%4</body></html>
)")
        .arg(QString::fromLatin1(background), script, body, extras,
            m_options.alternateRows ? QStringLiteral("striped") : QString());
}

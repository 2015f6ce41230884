// The engine's lines set against the ink of a drawn line, without the engine: its mistakes (a mark
// read as another, left out, made up) are handed over as glyphs, where it reports them.

#include "Capture/GlyphInk.h"

#include <QGuiApplication>
#include <QPainter>
#include <QTest>

namespace {

using Line = TesseractEngine::Line;
using Word = TesseractEngine::Word;
using Glyph = TesseractEngine::Glyph;

// `text` drawn character by character in `family` at twice `pixelSize` (as the engine is given small
// text), dark on light; the characters in [underlineFrom, underlineTo) underlined as a link is.
// `read` is what the engine reports for each character: itself or another, "~" for nothing, "|" for
// nothing and a new word after it; `madeUp` a glyph it reports before the character at `madeUpAt`,
// over the left part of that character's ink.
struct Written
{
    QImage gray;
    Line line;
};

Written written(const QString &text, const QString &read, const QString &family, int pixelSize,
    const QString &madeUp = {}, qsizetype madeUpAt = -1, qsizetype underlineFrom = 0,
    qsizetype underlineTo = 0)
{
    QFont font(family);
    font.setPixelSize(2 * pixelSize);
    const QFontMetrics metrics(font);
    Written out;
    out.gray = QImage(
        metrics.horizontalAdvance(text) + 4 * pixelSize, 3 * metrics.height(), QImage::Format_Grayscale8);
    out.gray.fill(0xf6);
    QPainter painter(&out.gray);
    painter.setRenderHint(QPainter::Antialiasing);
    const int baseline = metrics.height() + metrics.ascent();
    int x = 2 * pixelSize;
    Word word;
    const auto endWord = [&] {
        if (word.glyphs.isEmpty())
            return;
        for (const Glyph &glyph : std::as_const(word.glyphs)) {
            word.text += glyph.text;
            word.box = word.box.united(glyph.box);
        }
        word.confidence = 0.9;
        out.line.words << word;
        out.line.box = out.line.box.united(word.box);
        word = Word();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        QFont drawn = font;
        drawn.setUnderline(i >= underlineFrom && i < underlineTo);
        painter.setFont(drawn);
        painter.setPen(QColor(0x22, 0x22, 0x22));
        painter.drawText(x, baseline, QString(text[i]));
        const QRect box = metrics.tightBoundingRect(QString(text[i])).translated(x, baseline);
        if (i == madeUpAt)
            word.glyphs << Glyph { madeUp,
                QRect(box.left(), box.top(), std::max(2, box.width() / 3), box.height()) };
        if (text[i] == u' ' || read[i] == u'|')
            endWord();
        else if (read[i] != u'~')
            word.glyphs << Glyph { QString(read[i]), box };
        x += metrics.horizontalAdvance(text[i]);
    }
    endWord();
    QStringList texts;
    for (const Word &each : std::as_const(out.line.words))
        texts << each.text;
    out.line.text = texts.join(u' ');
    return out;
}

} // namespace

class TestGlyphInk : public QObject
{
    Q_OBJECT

private slots:
    // Each row holds a mistake to mend, and beside it in the same line what must stay as the engine
    // read it: an underlined word, a real hyphen, a "G", a "6".
    void mendsWhatTheInkShows_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("read");
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("madeUp");
        QTest::addColumn<int>("madeUpAt");
        QTest::addColumn<int>("underlined"); // characters from the start

        QTest::newRow("an underscore left out, a link underlined")
            << "see docs setup_1 and max_value"
            << "see docs setup|1 and max~value"
            << "DejaVu Sans Mono" << 10 << QString() << -1 << 8;
        QTest::newRow("an underscore left out, proportional") << "load_config(path)"
                                                              << "load|config(path)"
                                                              << "DejaVu Sans" << 13 << QString() << -1 << 0;
        QTest::newRow("an underscore read as a point") << "total >= 1_000.5"
                                                       << "total >= 1.000.5"
                                                       << "DejaVu Sans Mono" << 12 << QString() << -1 << 0;
        QTest::newRow("two underscores read as one") << "total = z__3 - 6"
                                                     << "total = z_~3 - 6"
                                                     << "Liberation Mono" << 13 << QString() << -1 << 0;
        QTest::newRow("a hyphen made up over a letter, a real one kept")
            << "j.berg@example.org linux-6.6"
            << "j.berg@example.org linux-6.6"
            << "DejaVu Sans" << 13 << "-" << 2 << 0;
        QTest::newRow("a point read as a hyphen") << "maria.lopez@example.com"
                                                  << "maria-lopez@example.com"
                                                  << "Noto Sans" << 13 << QString() << -1 << 0;
        QTest::newRow("an at sign read as a G, a G kept") << "Git: bugs@example.org"
                                                          << "Git: bugsGexample.org"
                                                          << "DejaVu Sans Mono" << 13 << QString() << -1 << 0;
        QTest::newRow("a zero read as a six, a six kept") << "count = 0; max = 4096;"
                                                          << "count = 6; max = 4096;"
                                                          << "DejaVu Sans Mono" << 13 << QString() << -1 << 0;
        QTest::newRow("a zero with a dot read as an eight, eights kept")
            << "x = 1069 - 808 + 0"
            << "x = 1869 - 888 + 8"
            << "Liberation Mono" << 10 << QString() << -1 << 0;
        QTest::newRow("zeros with a dot read as other digits, the digits kept")
            << "606 909 808 -0.5"
            << "666 999 868 -8.5"
            << "DejaVu Sans Mono" << 12 << QString() << -1 << 0;
        QTest::newRow("a zero with a dot read as a Q in a hash, a Q in a word kept")
            << "0c9d8e7 Quit"
            << "Qc9d8e7 Quit"
            << "Liberation Mono" << 12 << QString() << -1 << 0;
        QTest::newRow("straight quotes read as curly, curly ones kept")
            << "{\"id\": 'x', \u201cok\u201d}"
            << "{\u201cid\": \u2018x', \u201cok\u201d}"
            << "DejaVu Sans Mono" << 13 << QString() << -1 << 0;
        QTest::newRow("straight quotes read as curly, proportional, curly ones kept")
            << "say \"hi\", don\u2019t \u201cshout\u201d"
            << "say \u201chi\", don\u2019t \u201cshout\u201d"
            << "DejaVu Sans" << 15 << QString() << -1 << 0;
        QTest::newRow("a quote mark read twice, an empty string kept")
            << "url: \"https://example.com\" or \"\""
            << "url: \"https://example.com\" or \"\""
            << "DejaVu Sans Mono" << 13 << "\u201c" << 5 << 0;
    }

    void mendsWhatTheInkShows()
    {
        QFETCH(QString, text);
        QFETCH(QString, read);
        QFETCH(QString, family);
        QFETCH(int, size);
        QFETCH(QString, madeUp);
        QFETCH(int, madeUpAt);
        QFETCH(int, underlined);
        const Written page = written(text, read, family, size, madeUp, madeUpAt, 0, underlined);
        QList<Line> lines { page.line };
        GlyphInk::reviseByShape(lines, page.gray);
        GlyphInk::restoreUnderscores(lines, page.gray);
        QCOMPARE(lines.front().text, text);
        // The words' own texts and boxes follow: each covers its glyphs.
        for (const Word &word : std::as_const(lines.front().words)) {
            for (const Glyph &glyph : word.glyphs)
                QVERIFY(word.box.contains(glyph.box));
        }
    }
};

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TestGlyphInk test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_GlyphInk.moc"

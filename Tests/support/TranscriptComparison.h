#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The text a scrolling capture recognized, compared word by word with the document's own lines:
// what is missing inside it (a hole), what was read twice (a double), and how far down it reaches.
// A recognizer misreads a word now and then; only stretches of several words missing, or repeated,
// without as many words in their place, count.
class TranscriptComparison
{
public:
    // Lines of the document, first and last (from 0), and the words concerned.
    struct Stretch
    {
        int firstLine = 0;
        int lastLine = 0;
        int words = 0;
    };

    // A stretch of at least this many words counts.
    static constexpr int significantWords = 4;

    // `decorations`: texts fixed over the column (a bar's label), which may be read once.
    TranscriptComparison(
        const QStringList &truth, const QString &recognized, const QStringList &decorations = {});

    int truthLines() const { return m_truthLines; }
    // Lines from the top down to the last one read.
    int linesReached() const { return m_linesReached; }
    // Whole lines after the last one read.
    int linesMissingAtEnd() const { return m_truthLines - m_linesReached; }
    // Missing above the last line read: at the top or inside.
    const QList<Stretch> &holes() const { return m_holes; }
    // Read again after they had been read.
    const QList<Stretch> &doubles() const { return m_doubles; }
    // Words read that the document does not have nearby (not a copy of its lines).
    int extraWords() const { return m_extraWords; }
    // Words misread in stretches: as many read as missing.
    int garbledWords() const { return m_garbledWords; }
    // How often each decoration was read, at most; more than once means it was stitched again.
    int mostDecorationReadings() const { return m_mostDecorationReadings; }
    // One line for a report.
    QString summary() const;

    // Lower-case words and numbers, digits read as look-alike letters put right.
    static QStringList wordsOf(const QString &text);

private:
    int m_truthLines = 0;
    int m_linesReached = 0;
    QList<Stretch> m_holes;
    QList<Stretch> m_doubles;
    int m_extraWords = 0;
    int m_garbledWords = 0;
    int m_mostDecorationReadings = 0;
};

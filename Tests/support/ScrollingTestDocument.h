#pragma once

#include <QString>
#include <QStringList>

// A generated document of numbered records for scrolling captures of real applications, in the
// forms they open (a web page, plain lines, rows of a list), and the text a capture of it must
// read: every line once, in order. Record numbers are four digits ("0042"), each record's words
// are drawn from a fixed vocabulary by its number, so any stretch of records reads differently.
class ScrollingTestDocument
{
public:
    enum class Content {
        article, // paragraphs of about forty words, a heading every 25
        lines, // one numbered line of seven words per record
        repeatedLines, // numbered lines, each followed by up to two copies of one line
        identicalBlocks, // numbered lines with a block of 20 identical lines after every 10th
        lookAlikeRows, // rows alike but for the number in the last column
    };
    struct Options
    {
        Content content = Content::lines;
        int records = 100;
        // A web page's extras: a round button fixed over the column's lower right corner, a bar
        // fixed over the view's bottom, a flat framed panel 1.5 views tall in the middle.
        bool floatingButton = false;
        bool fixedFooter = false;
        bool flatPanel = false;
        // Look-alike rows in alternating colours.
        bool alternateRows = true;
    };

    explicit ScrollingTestDocument(const Options &options);

    const Options &options() const { return m_options; }
    // What it holds, in a few words: "article of 300 records, floating button".
    QString name() const;
    // The lines a capture must read, in order (a paragraph is one line).
    const QStringList &truth() const { return m_truth; }
    // What a reader of the stitched column may find beside them: a fixed bar's label.
    QStringList decorations() const;
    // A web page: `readyToken` is put in its title, with the column's place in screen pixels, once
    // it has been laid out: "<readyToken> <x> <y> <width> <height>".
    QString html(const QString &readyToken) const;
    // Plain text, one line per line of the truth (a paragraph on one line).
    QString text() const;
    // Tab-separated rows of three cells, for a list.
    QString rows() const;

    static constexpr const char *background = "#fbf8ef";

private:
    Options m_options;
    QStringList m_truth;
    QList<bool> m_isHeading;
};

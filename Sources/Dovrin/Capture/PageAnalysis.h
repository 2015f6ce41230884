#pragma once

#include <QImage>
#include <QRect>
#include <QString>

#include <functional>
#include <utility>
#include <vector>

// What a page holds before anything is read: a grey copy with dark text on a light ground (light
// text on dark panels turned over, rules and cell frames painted out, faint text deepened), the
// size of its text, its lines, and the blocks the engine reads one by one (columns, the cells of
// tables). After reading, it joins the lines of a table's cell into one piece.
class PageAnalysis
{
public:
    struct Box
    {
        int left = 0;
        int top = 0;
        int right = 0; // exclusive
        int bottom = 0; // exclusive
        qint64 ink = 0; // dark pixels in the box that belong to the shape
        int darkest = 255; // the darkest of them
        int width() const { return right - left; }
        int height() const { return bottom - top; }
    };

    // A ruling line or the edge of a framed cell: text on either side of it belongs to different
    // cells.
    struct Separator
    {
        bool horizontal = false;
        int at = 0; // the row of a horizontal one, the column of a vertical one
        int from = 0; // extent along it, [from, to)
        int to = 0;
    };

    // How tall the page's letters are and where they lie.
    struct TextLayout
    {
        int capHeight = 0;
        int threshold = 0; // no lighter pixel is ink
        std::vector<Box> letters;
        std::vector<Box> marks; // other shapes: dots, dashes, the bars of "=", underlines
    };

    using Span = std::pair<int, int>; // [from, to) in pixels

    // One line of text across a region: the rows its letters cover and where along it there is ink.
    struct Band
    {
        int top = 0;
        int bottom = 0; // exclusive
        int capHeight = 0;
        std::vector<Span> ink;
        // From one letter's centre to the next within a word, in half pixels.
        std::vector<int> steps;
    };

    // Lines of about one size, read together.
    struct Section
    {
        int top = 0;
        int bottom = 0; // exclusive
        int capHeight = 0;
        std::vector<int> breaks; // rows between two of its lines, from the top down
        int narrowestGutter = 0; // between words of its lines: no narrower gap is a gutter
    };

    // A stretch of lines that share gutters: a table, a form, columns side by side. Its blocks are
    // read one by one; its bands tell afterwards which pieces of text make one cell.
    struct Run
    {
        QRect area;
        std::vector<int> cuts; // between its columns, left to right
        std::vector<Band> bands;
    };

    // A line of text as read, or a part of one, in the page's pixels (origin at the top-left).
    struct Piece
    {
        QString text;
        QRect box;
        double confidence = 0;
    };

    // Analyses `image`. Throws TaskCancelled soon after `shouldStop` answers true.
    explicit PageAnalysis(const QImage &image, const std::function<bool()> &shouldStop = {});

    // The page as the engine is to read it: 8-bit grey, dark text on a light ground.
    const QImage &gray() const { return m_gray; }
    // Its most common brightness.
    int ground() const { return m_ground; }
    // The height of its capitals; 0 when it holds nothing like text.
    int capHeight() const { return m_layout.capHeight; }
    const TextLayout &layout() const { return m_layout; }
    const std::vector<Separator> &separators() const { return m_separators; }
    // The blocks to read one by one, top to bottom, each column of a run left to right.
    const std::vector<QRect> &blocks() const { return m_blocks; }
    const std::vector<Run> &runs() const { return m_runs; }

    // Whether the ground of `area` is grainy (a photograph, a noisy texture) rather than flat: there
    // the engine makes words of the grain, and only words it is sure of are text.
    bool isNoisy(QRect area) const;
    // The lines whose letters' centres lie in `region`, top to bottom.
    std::vector<Band> linesIn(QRect region) const;
    // A block cut into lines of about one size.
    std::vector<Section> sectionsOf(QRect block) const;
    // The pieces read from the blocks, with the lines of each table cell joined into one.
    std::vector<Piece> joinCells(std::vector<Piece> pieces) const;

private:
    QImage m_gray;
    int m_ground = 255;
    TextLayout m_layout;
    std::vector<Separator> m_separators;
    std::vector<QRect> m_blocks;
    std::vector<Run> m_runs;
};

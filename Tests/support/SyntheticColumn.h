#pragma once

#include <QColor>
#include <QImage>

// A long column of numbered, varied text lines drawn into an image, and viewports of it as a
// scrolling window would show them: sticky header and footer, a scrollbar, a caret, an animated
// corner. For tests of frame alignment without a window.
namespace SyntheticColumn {

struct Style
{
    int width = 640;
    int lines = 200;
    int lineHeight = 22;
    bool dark = false;
    // Every line the same text (no numbers): the column repeats with a period of one line.
    bool identicalLines = false;
    // After each numbered line, this many copies of the same filler line.
    int repeatedFiller = 0;
};

QImage document(const Style &style);

struct Viewport
{
    int scroll = 0; // document row shown at the viewport's first content row
    int height = 400;
    int header = 0; // rows covered by a sticky header
    int footer = 0; // rows covered by a sticky footer
    int scrollbarWidth = 0; // a scrollbar at the right edge, its thumb placed for `scroll`
    bool caret = false; // a 2-pixel caret drawn at a fixed place of the document
    int animationPhase = -1; // >= 0: a 24-pixel animated square in the bottom-right corner
    int footerClock = -1; // >= 0: a changing number in the footer
};

QImage viewport(const QImage &document, const Viewport &view);

} // namespace SyntheticColumn

#pragma once

#include "Platform/TesseractEngine.h"

#include <QImage>
#include <QList>

// The engine's lines set against the ink of the image it read them from: marks it left out or
// invented, and characters it took for a look-alike that the ink rules out. The image is the one
// the engine was given (dark text on a light ground), boxes in its pixels.
class GlyphInk
{
public:
    using Line = TesseractEngine::Line;

    // Underscores the engine left out or took into a letter beside it, given back where they lie.
    static void restoreUnderscores(QList<Line> &lines, const QImage &gray);

    // A hyphen inside a word with no bar where the engine put it is dropped, and one that is a dot on
    // the line is a point; a point drawn as a flat stroke below the line is an underscore; a "G" that
    // reaches below the line is an "@"; a "6", "8" or "9" whose ink is closed all round and as wide
    // at its middle as anywhere is a "0", however the engine boxed it; a curly quote mark
    // drawn as upright bars is a straight one, and a quote mark read twice is read once.
    static void reviseByShape(QList<Line> &lines, const QImage &gray);
};

#include "Documents/Graphemes.h"

#include <QTextBoundaryFinder>

namespace Graphemes {

QString left(const QString &text, int count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int seen = 0;
    while (seen < count && finder.toNextBoundary() != -1)
        ++seen;
    if (seen < count || finder.position() < 0)
        return text;
    return text.left(finder.position());
}

} // namespace Graphemes

#include "SyntheticColumn.h"

#include <QPainter>
#include <QStringList>

namespace SyntheticColumn {

namespace {

const QStringList words = { "alpha", "stitch", "column", "render", "quiet", "window", "signal", "harbor",
    "granite", "ledger", "orbit", "violet", "tunnel", "sample", "beacon", "meadow", "copper", "drift" };

} // namespace

QImage document(const Style &style)
{
    const QColor background = style.dark ? QColor(30, 32, 36) : QColor(250, 250, 248);
    const QColor text = style.dark ? QColor(220, 224, 230) : QColor(20, 20, 24);
    const int rows = style.lines * (1 + style.repeatedFiller);
    QImage image(style.width, 12 + rows * style.lineHeight, QImage::Format_RGB32);
    image.fill(background);
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(style.lineHeight * 2 / 3);
    painter.setFont(font);
    painter.setPen(text);
    int y = 6;
    for (int line = 1; line <= style.lines; ++line) {
        QString content;
        if (style.identicalLines) {
            content = QStringLiteral("The same line of text again and again");
        } else {
            content = QStringLiteral("Line %1:").arg(line, 4, 10, QLatin1Char('0'));
            quint32 seed = quint32(line) * 2654435761u;
            const int count = 2 + int(seed >> 28) % 9;
            for (int i = 0; i < count; ++i) {
                seed = seed * 1664525u + 1013904223u;
                content += QLatin1Char(' ') + words.at(int(seed >> 24) % words.size());
            }
            if (line % 11 == 0)
                painter.fillRect(
                    QRect(style.width - 90, y + 4, 60, style.lineHeight - 8), QColor(70, 130, 180));
        }
        painter.drawText(QRect(12 + (line % 3) * 8, y, style.width - 24, style.lineHeight),
            Qt::AlignLeft | Qt::AlignVCenter, content);
        y += style.lineHeight;
        for (int filler = 0; filler < style.repeatedFiller; ++filler) {
            painter.drawText(QRect(28, y, style.width - 40, style.lineHeight),
                Qt::AlignLeft | Qt::AlignVCenter,
                QStringLiteral("repeated filler text that looks the same in every block"));
            y += style.lineHeight;
        }
    }
    return image;
}

QImage viewport(const QImage &document, const Viewport &view)
{
    QImage frame = document.copy(0, view.scroll, document.width(), view.height);
    QPainter painter(&frame);
    const QColor chrome(200, 60, 60);
    if (view.caret)
        painter.fillRect(QRect(200, 6 + 3 * 22 + 3 - view.scroll, 2, 16), Qt::black);
    if (view.header > 0) {
        painter.fillRect(QRect(0, 0, frame.width(), view.header), QColor(52, 73, 94));
        painter.setPen(Qt::white);
        painter.drawText(QRect(10, 0, 300, view.header), Qt::AlignVCenter, QStringLiteral("Sticky header"));
    }
    if (view.footer > 0) {
        painter.fillRect(QRect(0, view.height - view.footer, frame.width(), view.footer), QColor(90, 90, 90));
        painter.setPen(Qt::white);
        painter.drawText(QRect(10, view.height - view.footer, 300, view.footer), Qt::AlignVCenter,
            view.footerClock >= 0 ? QStringLiteral("Status: %1 s").arg(view.footerClock)
                                  : QStringLiteral("Status: footer"));
    }
    if (view.scrollbarWidth > 0) {
        const int x = frame.width() - view.scrollbarWidth;
        painter.fillRect(QRect(x, 0, view.scrollbarWidth, view.height), QColor(235, 235, 235));
        const double total = document.height();
        const int thumb = std::max(20, int(view.height * view.height / total));
        const int top = int((view.height - thumb) * view.scroll / std::max(1.0, total - view.height));
        painter.fillRect(QRect(x + 2, top, view.scrollbarWidth - 4, thumb), chrome);
    }
    if (view.animationPhase >= 0) {
        const QRect corner(frame.width() - 40, view.height - 40, 24, 24);
        painter.fillRect(corner, Qt::white);
        painter.setBrush(chrome);
        painter.drawPie(corner, view.animationPhase * 30 * 16, 90 * 16);
    }
    return frame;
}

} // namespace SyntheticColumn

// The text of a scrolling capture across the seams between its tiles: a column of numbered lines cut
// into tiles whose seams cross the lines at every few pixels, each tile read with the bottom rows of
// the tile above it (as the capture and Retry OCR read them) by the real recognizer, in several
// fonts. Every line must come out once, whole, and nothing else: no piece of a cut line.
#include "Capture/OCRService.h"
#include "Model/ScrollingRecognitionFlow.h"
#include "Rules/ScrollingCapture.h"
#include "Scrolling/ScrollingCaptureCoordinator.h"

#include <QGuiApplication>
#include <QPainter>
#include <QTest>

namespace {

const QStringList words = { "harbor", "granite", "ledger", "orbit", "violet", "tunnel", "sample", "beacon",
    "meadow", "copper", "drift", "quartz", "pepper", "lantern", "summit", "canvas", "thistle", "falcon",
    "marble", "willow", "ember", "saddle", "orchard", "signal" };

struct Column
{
    QString family;
    int pixelSize = 16;
    bool bold = false;
    int pitch = 24; // rows from one line to the next
};

QStringList linesOf(const Column &column)
{
    QStringList lines;
    // Enough tiles of seven lines and three rows that their seams cut a line at every third row.
    const int count = 7 * (column.pitch / 3 + 2);
    for (int n = 1; n <= count; ++n) {
        quint32 seed = quint32(n) * 2654435761u;
        QString line = QStringLiteral("Line %1").arg(n + 10);
        for (int i = 0; i < 5 + n % 3; ++i) {
            seed = seed * 1664525u + 1013904223u;
            line += QLatin1Char(' ') + words.at(int(seed >> 16) % words.size());
        }
        lines << line;
    }
    return lines;
}

QImage render(const Column &column, const QStringList &lines)
{
    QImage image(760, 12 + column.pitch * int(lines.size()), QImage::Format_RGB32);
    image.fill(QColor(252, 252, 250));
    QPainter painter(&image);
    QFont font(column.family);
    font.setPixelSize(column.pixelSize);
    font.setBold(column.bold);
    painter.setFont(font);
    painter.setPen(QColor(24, 24, 28));
    for (qsizetype i = 0; i < lines.size(); ++i)
        painter.drawText(QRect(16, 6 + column.pitch * int(i), 740, column.pitch), Qt::AlignVCenter, lines[i]);
    return image;
}

} // namespace

class TestScrollingTextSeams : public QObject
{
    Q_OBJECT

private slots:
    void eachLineOnceAndWhole_data()
    {
        QTest::addColumn<Column>("column");
        QTest::newRow("sans") << Column { "DejaVu Sans", 16, false, 24 };
        QTest::newRow("serif, larger") << Column { "DejaVu Serif", 19, false, 28 };
        QTest::newRow("monospace, small") << Column { "Liberation Mono", 13, false, 19 };
        QTest::newRow("bold sans, tight") << Column { "Liberation Sans", 17, true, 21 };
    }
    void eachLineOnceAndWhole()
    {
        QFETCH(Column, column);
        const QStringList lines = linesOf(column);
        const QImage document = render(column, lines);
        // Tiles 3 rows longer than a whole number of lines: seam after seam cuts the lines 3 rows
        // further down, through the whole height of a line.
        const int tileHeight = 7 * column.pitch + 3;
        OCRService ocr;
        struct Segment
        {
            Task<OCRResult> reading;
            QSize size;
            int documentTop = 0;
        };
        QList<Segment> segments;
        std::optional<QImage> previous;
        for (int top = 0; top < document.height(); top += tileHeight) {
            const QImage tile
                = document.copy(0, top, document.width(), std::min(tileHeight, document.height() - top));
            const int overlap = previous
                ? ScrollingCaptureCoordinator::recognitionOverlap(previous->height(), tile.height())
                : 0;
            const std::optional<QImage> joined
                = ScrollingRecognitionFlow::joinForScrollingOCR(previous, tile, overlap);
            QVERIFY(joined);
            segments.append(
                { ocr.recognizeText(*joined), joined->size(), top - (joined->height() - tile.height()) });
            previous = tile;
        }
        ScrollingTextAccumulator text;
        for (Segment &segment : segments) {
            QTRY_VERIFY_WITH_TIMEOUT(segment.reading.isFinished(), 120000);
            text.append(segment.reading.result().observations, segment.size, segment.documentTop);
        }

        // Each line once, in order, with its number and all of its words, and nothing between.
        const QStringList read = text.assembledText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QString all = read.join(QStringLiteral(" | "));
        QVERIFY2(read.size() == lines.size(), qPrintable(all));
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QVERIFY2(read[i].startsWith(lines[i].section(' ', 0, 1) + ' ')
                    && read[i].split(' ').size() == lines[i].split(' ').size(),
                qPrintable(read[i] + QStringLiteral(" for ") + lines[i]));
        }
    }
};

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TestScrollingTextSeams test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ScrollingTextSeams.moc"

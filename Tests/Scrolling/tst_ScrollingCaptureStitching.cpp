// Whole captures of a synthetic column through the coordinator, without a display: the window's
// pixels are a rendering of the column at its scroll position, and the wheel moves that position.
// The stitched document must hold every row of the column once, whatever floats over it, animates
// in it or comes into view at its bottom.
#include "Scrolling/ScrollingCaptureCoordinator.h"
#include "SyntheticColumn.h"

#include <QApplication>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

namespace {

enum class Overlay { none, floatingButton, footerFromScroll, animatedBox, fixedSpinner };

constexpr int viewHeight = 400;
constexpr int pixelsPerNotch = 40;

// The window: a column, what sits over it, and how often it was looked at (the animation's clock).
struct FakeWindow
{
    QImage document;
    Overlay overlay = Overlay::none;
    int footerFrom = 0;
    int scroll = 0;
    int looks = 0;

    int maximumScroll() const { return document.height() - viewHeight; }

    static void drawAnimation(QImage &frame, const QRect &box, int phase)
    {
        QPainter painter(&frame);
        painter.fillRect(box, QColor::fromHsv((phase * 47) % 360, 150, 220));
        painter.fillRect(QRect(box.x() + (phase * 17) % box.width(), box.y(), 8, box.height()), Qt::black);
    }

    QImage look()
    {
        SyntheticColumn::Viewport view;
        view.scroll = scroll;
        view.height = viewHeight;
        QImage frame = SyntheticColumn::viewport(document, view);
        const int phase = looks++;
        switch (overlay) {
        case Overlay::none:
            break;
        case Overlay::floatingButton: {
            QPainter painter(&frame);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(22, 160, 133));
            painter.drawEllipse(floatingRect());
            painter.setPen(QPen(Qt::white, 3));
            const QPoint c = floatingRect().center();
            painter.drawLine(c + QPoint(-8, 4), c + QPoint(0, -6));
            painter.drawLine(c + QPoint(0, -6), c + QPoint(8, 4));
            break;
        }
        case Overlay::footerFromScroll:
            if (scroll >= footerFrom) {
                QPainter painter(&frame);
                painter.fillRect(footerRect(), QColor(30, 40, 60));
                painter.setPen(Qt::white);
                painter.drawText(footerRect().adjusted(12, 0, 0, 0), Qt::AlignVCenter,
                    QStringLiteral("Subscribe to the newsletter"));
            }
            break;
        case Overlay::animatedBox:
            drawAnimation(frame, boxInDocument().translated(0, -scroll), phase);
            break;
        case Overlay::fixedSpinner:
            drawAnimation(frame, floatingRect(), phase);
            break;
        }
        return frame;
    }

    QRect floatingRect() const { return QRect(560, 320, 56, 56); }
    QRect footerRect() const { return QRect(0, viewHeight - 40, document.width(), 40); }
    QRect boxInDocument() const { return QRect(300, 620, 200, 100); }
};

struct Stitched
{
    QImage image;
    QString error;
};

Stitched capture(FakeWindow &window)
{
    QTemporaryDir dir;
    EncryptedDraftStore store(dir.path(), QByteArray(32, '\x33'));
    ScrollingRegionGeometry geometry;
    geometry.globalRect = QRectF(0, 0, window.document.width(), viewHeight);
    geometry.pixelRect = QRect(0, 0, window.document.width(), viewHeight);
    ScrollingCaptureEnvironment environment;
    environment.showsPanel = false;
    environment.observesDisplayChanges = false;
    environment.scrollDown = [&window](QPoint, int notches) {
        window.scroll = std::min(window.maximumScroll(), window.scroll + notches * pixelsPerNotch);
        return true;
    };
    const auto frames = ScrollingCaptureCoordinator::defaultFrameFunctions();
    ScrollingCaptureCoordinator coordinator(
        geometry, ScrollingCaptureTarget {}, QUuid::createUuid(), store,
        [&window](ScrollingRegionGeometry) -> Task<QImage> { co_return window.look(); },
        [](QImage) -> Task<OCRResult> { co_return OCRResult {}; }, ScrollingCaptureLimits::production,
        environment, frames.prepareFrame, frames.alignFrames, frames.frameDifference);

    Stitched result;
    std::optional<CaptureDraft> draft;
    bool finished = false;
    Task<void> task = Task<void>::spawn(&coordinator, [&]() -> Task<void> {
        try {
            Task<CaptureDraft> running = coordinator.run();
            draft = co_await running;
        } catch (const std::exception &error) {
            result.error = QString::fromUtf8(error.what());
        }
        finished = true;
    });
    if (!QTest::qWaitFor([&] { return finished; }, 60000))
        return { QImage(), QStringLiteral("the capture did not finish") };
    if (!draft)
        return result;
    const ScrollingCaptureManifest &manifest = *draft->scrollingCapture;
    result.image = QImage(manifest.pixelWidth, manifest.pixelHeight, QImage::Format_RGB32);
    result.image.fill(Qt::magenta);
    QPainter painter(&result.image);
    for (const ScrollingCaptureTile &tile : manifest.tiles)
        painter.drawImage(
            0, tile.documentTop, QImage::fromData(store.loadTilePNG(draft->id, tile.index), "PNG"));
    return result;
}

// Rows of `actual` that differ from `expected` outside `ignore`.
int differingRows(const QImage &actual, const QImage &expected, const QRect &ignore)
{
    int rows = 0;
    for (int y = 0; y < std::min(actual.height(), expected.height()); ++y) {
        for (int x = 0; x < std::min(actual.width(), expected.width()); ++x) {
            if (!ignore.contains(x, y)
                && (actual.pixel(x, y) & 0xffffff) != (expected.pixel(x, y) & 0xffffff)) {
                ++rows;
                break;
            }
        }
    }
    return rows;
}

} // namespace

Q_DECLARE_METATYPE(Overlay)

class TestScrollingCaptureStitching : public QObject
{
    Q_OBJECT

private slots:
    void everyRowOnce_data()
    {
        QTest::addColumn<Overlay>("overlay");
        QTest::addColumn<int>("footerFrom");
        QTest::newRow("plain column") << Overlay::none << 0;
        QTest::newRow("floating button") << Overlay::floatingButton << 0;
        QTest::newRow("footer comes into view early") << Overlay::footerFromScroll << 200;
        QTest::newRow("footer comes into view late") << Overlay::footerFromScroll << 900;
        QTest::newRow("animated box in the content") << Overlay::animatedBox << 0;
        QTest::newRow("spinner fixed over the content") << Overlay::fixedSpinner << 0;
    }
    void everyRowOnce()
    {
        QFETCH(Overlay, overlay);
        QFETCH(int, footerFrom);
        SyntheticColumn::Style style;
        style.lines = 80;
        FakeWindow window;
        window.document = SyntheticColumn::document(style);
        window.overlay = overlay;
        window.footerFrom = footerFrom;

        const Stitched stitched = capture(window);
        QVERIFY2(stitched.error.isEmpty(), qPrintable(stitched.error));
        QCOMPARE(window.scroll, window.maximumScroll());
        // The whole column, once: what sits over the content shows where the last frame had it,
        // and what animates, wherever it was.
        QCOMPARE(stitched.image.size(), window.document.size());
        const int end = window.maximumScroll();
        QRect ignore;
        if (overlay == Overlay::floatingButton || overlay == Overlay::fixedSpinner)
            ignore = window.floatingRect().translated(0, end);
        else if (overlay == Overlay::footerFromScroll)
            ignore = window.footerRect().translated(0, end);
        else if (overlay == Overlay::animatedBox)
            ignore = window.boxInDocument();
        // A floating element's faint antialiased top edge may be left in a strip or two (a few
        // rows); the element itself never is.
        const int tolerated = overlay == Overlay::floatingButton ? 6 : 0;
        const int differing = differingRows(stitched.image, window.document, ignore);
        QVERIFY2(differing <= tolerated, qPrintable(QString::number(differing)));
    }
};

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestScrollingCaptureStitching test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ScrollingCaptureStitching.moc"

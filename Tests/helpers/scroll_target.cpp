// A window with a long column of numbered, varied lines that scrolls with the mouse wheel: the
// application a scrolling capture is tested against.
//
//   scroll_target [--lines N] [--sticky] [--dark] [--repeat] [--cards N] [--pieces SPEC] [--large-step]
//                 [--caret] [--delay MS] [--size WxH] [--pos X,Y] [--render FILE]
//
// --sticky      a header above and a footer below the scrolling column that never move
// --dark        light text on a dark background
// --repeat      after every numbered line, two filler lines that are the same everywhere
// --cards N     after every third numbered line, N rows of identical three-row cards
// --pieces SPEC the column from top to bottom instead, comma-separated: tN numbered lines, bN identical
//               160-pixel blocks, pN a flat framed panel N pixels tall, gN N blank pixels
// --large-step  one wheel notch scrolls almost a whole viewport
// --delay MS    the column moves MS milliseconds after each wheel event, as a slow application does
// --caret       a caret blinks at the end of line 3
// --render FILE writes the whole column (header and footer included) as a PNG and exits
//
// Once the window is on screen it prints one line to standard output:
//   ready window=<X window id> region=x,y,w,h scrollbar=x,y,w,h caret=x,y,w,h
// region is the column with its header and footer, without the scrollbar, in root window pixels;
// caret is in the pixels of the rendered column (empty without --caret).
// It exits when standard input closes or reads "quit".
#include <QApplication>
#include <QCommandLineParser>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

struct Options
{
    int lines = 400;
    bool sticky = false;
    bool dark = false;
    bool repeat = false;
    int cards = 0;
    // Kind ('t', 'b', 'p', 'g') and count of each piece of the column; empty for the row layout.
    QList<std::pair<char, int>> pieces;
    int delay = 0;
    bool largeStep = false;
    bool caret = false;
    QSize size { 720, 520 };
    QPoint position { 40, 40 };
    QString render;
};

const QStringList words = { "harbor", "granite", "ledger", "orbit", "violet", "tunnel", "sample", "beacon",
    "meadow", "copper", "drift", "quartz", "pepper", "lantern", "summit", "canvas", "thistle", "falcon",
    "marble", "willow", "ember", "saddle", "orchard", "pixel" };

constexpr int lineHeight = 26;
constexpr int topMargin = 10;
constexpr int blockHeight = 160;

int pieceHeight(char kind, int count)
{
    return kind == 't' ? count * lineHeight : kind == 'b' ? count * blockHeight : count;
}

class Column : public QWidget
{
public:
    explicit Column(const Options &options)
        : m_options(options)
    {
        setMinimumHeight(options.pieces.isEmpty() ? topMargin * 2 + rowCount() * lineHeight : piecesHeight());
        setAttribute(Qt::WA_OpaquePaintEvent);
        if (options.caret) {
            auto *timer = new QTimer(this);
            connect(timer, &QTimer::timeout, this, [this] {
                m_caretOn = !m_caretOn;
                update(caretRect());
            });
            timer->start(350);
        }
    }

    // Rows of one block: its numbered lines and what follows them.
    int linesPerBlock() const { return m_options.cards > 0 ? 3 : 1; }
    int rowsPerBlock() const
    {
        return m_options.cards > 0 ? 3 + m_options.cards : (m_options.repeat ? 3 : 1);
    }
    int rowCount() const
    {
        const int blocks = m_options.lines / linesPerBlock();
        const int rest = m_options.lines % linesPerBlock();
        return blocks * rowsPerBlock() + rest;
    }
    QRect caretRect() const
    {
        return m_options.caret ? QRect(m_caretX, topMargin + 2 * lineHeight + 4, 2, 18) : QRect();
    }
    void setCaretVisible(bool on) { m_caretOn = on; }

    QColor background() const { return m_options.dark ? QColor(28, 30, 36) : QColor(252, 252, 250); }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QPainter painter(this);
        painter.fillRect(event->rect(), background());
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(16);
        if (!m_options.pieces.isEmpty()) {
            paintPieces(painter, font, event->rect());
            return;
        }
        const int first = std::max(0, (event->rect().top() - topMargin) / lineHeight - 1);
        const int last = std::min(rowCount() - 1, (event->rect().bottom() - topMargin) / lineHeight + 1);
        for (int row = first; row <= last; ++row)
            paintRow(painter, font, row);
        if (m_caretOn && m_options.caret)
            painter.fillRect(caretRect(), m_options.dark ? Qt::white : Qt::black);
    }

private:
    int piecesHeight() const
    {
        int height = 0;
        for (const auto &[kind, count] : m_options.pieces)
            height += pieceHeight(kind, count);
        return height;
    }

    void paintPieces(QPainter &painter, const QFont &font, const QRect &exposed)
    {
        int y = 0;
        int line = 0;
        for (const auto &[kind, count] : m_options.pieces) {
            const int height = pieceHeight(kind, count);
            for (int i = 0; y + height > exposed.top() && y <= exposed.bottom() && i < count; ++i) {
                if (kind == 't')
                    paintLine(painter, font, y + i * lineHeight, line + i + 1);
                else if (kind == 'b')
                    paintBlock(painter, font, y + i * blockHeight);
            }
            if (kind == 'p' && y + height > exposed.top() && y <= exposed.bottom()) {
                // A framed panel whose sides fall inside the analyzer's column bands, as a real one's do.
                const QRect panel(17, y, width() - 41, height);
                painter.fillRect(panel, QColor(214, 221, 229));
                painter.fillRect(QRect(panel.left(), y, 1, height), QColor(150, 160, 172));
                painter.fillRect(QRect(panel.right(), y, 1, height), QColor(150, 160, 172));
                painter.fillRect(QRect(panel.left() + 3, y, 2, height), QColor(240, 244, 248));
            }
            line += kind == 't' ? count : 0;
            y += height;
        }
    }

    // One block that looks the same everywhere: a framed card with a title and two lines of text.
    void paintBlock(QPainter &painter, QFont font, int y)
    {
        const QRect card(24, y + 12, width() - 56, blockHeight - 24);
        painter.setPen(QColor(120, 130, 150));
        painter.setBrush(QColor(238, 242, 247));
        painter.drawRect(card);
        painter.setBrush(Qt::NoBrush);
        painter.fillRect(QRect(card.right() - 90, card.top() + 14, 70, 22), QColor(46, 134, 193));
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(QColor(22, 22, 28));
        painter.drawText(QRect(card.left() + 16, card.top() + 12, 400, lineHeight), Qt::AlignVCenter,
            QStringLiteral("Recommended item"));
        font.setBold(false);
        painter.setFont(font);
        painter.drawText(QRect(card.left() + 16, card.top() + 48, card.width() - 32, lineHeight),
            Qt::AlignVCenter, QStringLiteral("the same block of text, repeated down the page"));
        painter.drawText(QRect(card.left() + 16, card.top() + 76, card.width() - 32, lineHeight),
            Qt::AlignVCenter, QStringLiteral("nothing in it tells one block from the next"));
    }

    void paintRow(QPainter &painter, QFont font, int row)
    {
        const QColor text = m_options.dark ? QColor(226, 230, 236) : QColor(22, 22, 28);
        const int y = topMargin + row * lineHeight;
        const int per = rowsPerBlock();
        const int inBlock = row % per;
        if (inBlock >= linesPerBlock()) {
            if (m_options.cards > 0) {
                paintCardRow(painter, font, y, (inBlock - linesPerBlock()) % 3);
                return;
            }
            painter.setFont(font);
            painter.setPen(text);
            painter.drawText(QRect(48, y, width() - 60, lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                QStringLiteral("the same filler text in every block"));
            return;
        }
        paintLine(painter, font, y, row / per * linesPerBlock() + inBlock + 1);
    }

    // Numbered line `number`, its words and accents drawn from its number.
    void paintLine(QPainter &painter, QFont font, int y, int number)
    {
        const QColor text = m_options.dark ? QColor(226, 230, 236) : QColor(22, 22, 28);
        const QColor accent = m_options.dark ? QColor(120, 190, 255) : QColor(20, 90, 160);
        quint32 seed = quint32(number) * 2654435761u;
        auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 16; };
        QString content = QStringLiteral("Line %1").arg(number);
        const int count = 2 + int(next() % 7);
        for (int i = 0; i < count; ++i)
            content += QLatin1Char(' ') + words.at(int(next() % quint32(words.size())));
        const int indent = 16 + int(next() % 4) * 14;
        font.setBold(number % 7 == 0);
        painter.setFont(font);
        painter.setPen(number % 5 == 0 ? accent : text);
        const QRect box(indent, y, width() - indent - 12, lineHeight);
        painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, content);
        if (number == 3)
            m_caretX = indent + QFontMetrics(font).horizontalAdvance(content) + 3;
        if (number % 9 == 0)
            painter.fillRect(QRect(width() - 70, y + 7, 44, lineHeight - 14), QColor(230, 126, 34));
    }

    // One row of a card that looks the same everywhere: its title, its text, its bottom edge.
    void paintCardRow(QPainter &painter, QFont font, int y, int part)
    {
        const QRect card(28, y, width() - 60, lineHeight);
        painter.fillRect(card, m_options.dark ? QColor(44, 48, 58) : QColor(238, 242, 247));
        painter.fillRect(QRect(card.left(), y, 2, lineHeight), QColor(120, 130, 150));
        painter.fillRect(QRect(card.right() - 1, y, 2, lineHeight), QColor(120, 130, 150));
        if (part == 2) {
            painter.fillRect(QRect(card.left(), card.bottom() - 1, card.width(), 2), QColor(120, 130, 150));
            return;
        }
        font.setBold(part == 0);
        painter.setFont(font);
        painter.setPen(m_options.dark ? QColor(226, 230, 236) : QColor(22, 22, 28));
        painter.drawText(card.adjusted(14, 0, -14, 0), Qt::AlignLeft | Qt::AlignVCenter,
            part == 0 ? QStringLiteral("Recommended item") : QStringLiteral("the same card text everywhere"));
    }

    Options m_options;
    bool m_caretOn = true;
    int m_caretX = 200;
};

QLabel *bar(const QString &text, const QColor &colour, int height)
{
    auto *label = new QLabel(text);
    label->setFixedHeight(height);
    label->setContentsMargins(14, 0, 0, 0);
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(15);
    label->setFont(font);
    return label;
}

// Holds each wheel event of the viewport back for a while, then hands it to the scroll bar.
class SlowWheel : public QObject
{
public:
    SlowWheel(QScrollBar *target, int delay, QObject *parent)
        : QObject(parent)
        , m_target(target)
        , m_delay(delay)
    { }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Wheel)
            return QObject::eventFilter(watched, event);
        std::shared_ptr<QEvent> later(event->clone());
        QTimer::singleShot(m_delay, m_target,
            [target = m_target, later] { QCoreApplication::sendEvent(target, later.get()); });
        return true;
    }

private:
    QScrollBar *m_target;
    int m_delay;
};

QString rectText(const QRect &rect)
{
    return QStringLiteral("%1,%2,%3,%4").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height());
}

std::optional<Options> parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOptions({ { "lines", "lines", "n" }, { "sticky", "sticky" }, { "dark", "dark" },
        { "repeat", "repeat" }, { "cards", "cards", "n" }, { "delay", "delay", "ms" },
        { "large-step", "large" }, { "caret", "caret" }, { "size", "size", "wxh" }, { "pos", "pos", "x,y" },
        { "render", "render", "file" }, { "pieces", "pieces", "spec" } });
    if (!parser.parse(arguments))
        return std::nullopt;
    Options options;
    if (parser.isSet("lines"))
        options.lines = std::clamp(parser.value("lines").toInt(), 1, 100000);
    options.sticky = parser.isSet("sticky");
    options.dark = parser.isSet("dark");
    options.repeat = parser.isSet("repeat");
    options.cards = std::clamp(parser.value("cards").toInt(), 0, 1000);
    options.delay = std::clamp(parser.value("delay").toInt(), 0, 10000);
    for (const QString &piece : parser.value("pieces").split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const char kind = piece.at(0).toLatin1();
        bool ok = false;
        const int count = piece.mid(1).toInt(&ok);
        if (!QByteArray("tbpg").contains(kind) || !ok || count < 1 || count > 100000)
            return std::nullopt;
        options.pieces.append({ kind, count });
    }
    options.largeStep = parser.isSet("large-step");
    options.caret = parser.isSet("caret");
    if (parser.isSet("size")) {
        const QStringList parts = parser.value("size").split('x');
        if (parts.size() == 2)
            options.size
                = QSize(std::clamp(parts[0].toInt(), 200, 4000), std::clamp(parts[1].toInt(), 150, 4000));
    }
    if (parser.isSet("pos")) {
        const QStringList parts = parser.value("pos").split(',');
        if (parts.size() == 2)
            options.position = QPoint(parts[0].toInt(), parts[1].toInt());
    }
    options.render = parser.value("render");
    return options;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const std::optional<Options> parsed = parse(app.arguments());
    if (!parsed)
        return 2;
    const Options options = *parsed;

    QWidget window;
    window.setWindowTitle(QStringLiteral("Scroll target"));
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    QLabel *header = nullptr;
    QLabel *footer = nullptr;
    if (options.sticky) {
        header = bar(QStringLiteral("Sticky header: Scroll target"), QColor(44, 62, 80), 48);
        layout->addWidget(header);
    }
    auto *area = new QScrollArea;
    area->setFrameShape(QFrame::NoFrame);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setWidgetResizable(true);
    auto *column = new Column(options);
    area->setWidget(column);
    layout->addWidget(area, 1);
    if (options.sticky) {
        footer = bar(QStringLiteral("Footer: status line"), QColor(80, 80, 86), 32);
        layout->addWidget(footer);
    }
    window.setFixedSize(options.size);
    window.move(options.position);
    window.ensurePolished();
    layout->activate();
    const int viewportHeight = area->viewport()->height();
    QScrollBar *scrollBar = area->verticalScrollBar();
    if (options.largeStep) {
        QApplication::setWheelScrollLines(3);
        scrollBar->setSingleStep(std::max(1, (viewportHeight - 40) / 3));
    } else {
        scrollBar->setSingleStep(20);
    }
    if (options.delay > 0)
        area->viewport()->installEventFilter(new SlowWheel(scrollBar, options.delay, &window));

    window.show();
    // Rendered once the window is laid out on screen, so the column has the width it is shown at.
    QTimer::singleShot(400, &window, [&] {
        if (!options.render.isEmpty()) {
            const int width = area->viewport()->width();
            column->setCaretVisible(false);
            const int top = header ? header->height() : 0;
            const int bottom = footer ? footer->height() : 0;
            QImage image(width, top + column->height() + bottom, QImage::Format_RGB32);
            image.fill(Qt::magenta);
            QPainter painter(&image);
            if (header)
                header->render(&painter, QPoint(0, 0), QRegion(0, 0, width, top));
            column->render(&painter, QPoint(0, top));
            if (footer)
                footer->render(&painter, QPoint(0, top + column->height()), QRegion(0, 0, width, bottom));
            painter.end();
            app.exit(image.save(options.render, "PNG") ? 0 : 1);
            return;
        }
        QWidget *viewport = area->viewport();
        const QPoint topLeft = (header ? header : viewport)->mapToGlobal(QPoint(0, 0));
        const int height
            = (header ? header->height() : 0) + viewport->height() + (footer ? footer->height() : 0);
        const QRect region(topLeft.x(), topLeft.y(), viewport->width(), height);
        const QRect scrollbarRect(scrollBar->mapToGlobal(QPoint(0, 0)), scrollBar->size());
        QRect caret = column->caretRect();
        if (!caret.isEmpty())
            caret.translate(0, header ? header->height() : 0);
        std::printf("ready window=%llu region=%s scrollbar=%s caret=%s\n", (unsigned long long)window.winId(),
            qPrintable(rectText(region)), qPrintable(rectText(scrollbarRect)), qPrintable(rectText(caret)));
        std::fflush(stdout);
    });

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    input.setEnabled(options.render.isEmpty());
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[64];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0 || QByteArray(buffer, int(n)).contains("quit"))
            app.quit();
    });
    return app.exec();
}

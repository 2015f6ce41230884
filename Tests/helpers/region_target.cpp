// A window of "another application" for the capture tests: a solid colour with a few lines of
// text at a given place. Prints "ready <window id>" once it is on screen; quits when stdin closes.
//
//   region_target --rect x,y,w,h --color #rrggbb --class Name [--announce desktop-id] [--text "a|b"]
//                 [--take-focus]   (takes the keyboard focus on each line read from stdin)

#include <QApplication>
#include <QCommandLineParser>
#include <QPainter>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdio>
#include <unistd.h>

namespace {

class Board : public QWidget
{
public:
    Board(QColor color, QStringList lines)
        : m_color(color)
        , m_lines(std::move(lines))
    {
        setWindowFlag(Qt::FramelessWindowHint);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), m_color);
        QFont font("DejaVu Sans");
        font.setPixelSize(16);
        painter.setFont(font);
        painter.setPen(m_color.lightness() > 128 ? Qt::black : Qt::white);
        for (int i = 0; i < m_lines.size(); ++i)
            painter.drawText(20, 40 + i * 30, m_lines[i]);
    }

private:
    QColor m_color;
    QStringList m_lines;
};

void announce(QWidget *window, const QByteArray &id)
{
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return;
    xcb_connection_t *c = x11->connection();
    const char name[] = "_GTK_APPLICATION_ID";
    xcb_intern_atom_reply_t *property
        = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof(name) - 1, name), nullptr);
    const char utf8[] = "UTF8_STRING";
    xcb_intern_atom_reply_t *type
        = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof(utf8) - 1, utf8), nullptr);
    if (property && type)
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()), property->atom,
            type->atom, 8, uint32_t(id.size()), id.constData());
    xcb_flush(c);
    free(property);
    free(type);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({ "rect", "x,y,w,h", "rect" });
    parser.addOption({ "color", "fill", "color", "#336699" });
    parser.addOption({ "class", "window class", "name", "Regiontarget" });
    parser.addOption({ "announce", "desktop id", "id" });
    parser.addOption({ "text", "lines separated by |", "text", "Target window" });
    parser.addOption({ "take-focus", "take the keyboard focus when a line arrives on stdin" });
    parser.process(app);
    QApplication::setApplicationName(parser.value("class"));

    const QStringList parts = parser.value("rect").split(',');
    Board board(QColor(parser.value("color")), parser.value("text").split('|'));
    if (parts.size() == 4)
        board.setGeometry(parts[0].toInt(), parts[1].toInt(), parts[2].toInt(), parts[3].toInt());
    board.winId();
    if (parser.isSet("announce"))
        announce(&board, parser.value("announce").toUtf8());
    board.show();

    QTimer::singleShot(200, &board, [&board] {
        std::printf("ready %llu\n", static_cast<unsigned long long>(board.winId()));
        std::fflush(stdout);
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    const bool takeFocus = parser.isSet("take-focus");
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&input, &board, takeFocus] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        // Another application coming to the front, as a click or a window manager would make it.
        auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
        if (takeFocus && x11 && x11->connection()) {
            xcb_set_input_focus(x11->connection(), XCB_INPUT_FOCUS_POINTER_ROOT, xcb_window_t(board.winId()),
                XCB_CURRENT_TIME);
            xcb_flush(x11->connection());
        }
    });
    return app.exec();
}

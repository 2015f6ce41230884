// Renders the tray menu, the window that stands in for the tray, and the tray icon, in the light and
// the dark palette, idle and while recording, for a person to look at.

#include "Gallery.h"
#include "ModelHarness.h"
#include "Shell/MenuBarExtra.h"
#include "Shell/MenuBarRecordingStatus.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace {

// The tray icon on a dark panel, on trayer's light grey one and on a white one, each under a light and
// a dark desktop theme, at two sizes, idle and with the recording dot: the panel decides the ink.
class IconStrip : public QWidget
{
protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QColor panels[]
            = { QColor(0x24, 0x24, 0x24), QColor(0xd9, 0xd9, 0xd9), QColor(0xff, 0xff, 0xff) };
        int x = 0;
        for (const QColor &panel : panels) {
            for (const QPalette &theme : { Gallery::light(), Gallery::dark() }) {
                const QColor ink
                    = MenuBarRecordingStatus::panelInk(std::nullopt, QStringLiteral("KDE"), theme, panel);
                painter.fillRect(QRect(x, 0, 200, height()), panel);
                int left = x + 12;
                for (const int side : { 22, 44 }) {
                    for (const bool active : { false, true }) {
                        const QPixmap icon = MenuBarRecordingStatus::trayIcon(active, ink).pixmap(side, side);
                        painter.drawPixmap(left, (height() - side) / 2, icon);
                        left += side + 10;
                    }
                }
                x += 200;
            }
        }
    }
    QSize sizeHint() const override { return QSize(1200, 64); }
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (!Gallery::begin(argc, argv))
        return 1;
    bool ok = true;
    ModelHarness harness;
    harness.make();
    ModelCommands commands;
    commands.handleCaptureInvocation = [] {};
    commands.startScrollingCapture = [] {};
    commands.handleAudioInvocation = [] {};
    commands.openCaptureFolder = [] {};
    MenuBarExtra extra(
        *harness.model, commands, { [](const QString &) {}, [] {}, [] {}, [] {}, [] { return false; } });
    const std::pair<QString, QPalette> palettes[]
        = { { QStringLiteral("light"), Gallery::light() }, { QStringLiteral("dark"), Gallery::dark() } };
    for (auto [name, palette] : palettes) {
        // Menus etch disabled text with the light role, which a dark theme sets dark.
        palette.setColor(QPalette::Disabled, QPalette::Light, palette.color(QPalette::Window));
        QApplication::setPalette(palette);
        for (const bool recording : { false, true }) {
            harness.model->audio().setPhase(
                recording ? AudioSessionPhase::recording : AudioSessionPhase::idle);
            const QString state = recording ? QStringLiteral("-recording") : QString();
            extra.menu()->popup(QPoint(0, 0));
            ok = Gallery::save(extra.menu(), QStringLiteral("menu") + state + u'-' + name) && ok;
            extra.menu()->hide();
            extra.comeForward();
            ok = Gallery::save(extra.fallbackWindow(), QStringLiteral("window") + state + u'-' + name) && ok;
        }
        // A recording that could not start: the status line says why.
        harness.model->flowContext().setStatusMessage(
            QStringLiteral("Can't record: capture folder “R&D notes” is not writable"));
        harness.model->audio().setPhase(AudioSessionPhase::failed);
        extra.menu()->popup(QPoint(0, 0));
        ok = Gallery::save(extra.menu(), QStringLiteral("menu-failed-") + name) && ok;
        extra.menu()->hide();
        harness.model->audio().setPhase(AudioSessionPhase::idle);
    }
    // A desktop switching from light to dark and back while the window stays open, its lines unchanged:
    // every line must follow the new palette at once.
    for (const auto &[from, to] :
        { std::pair { palettes[0], palettes[1] }, std::pair { palettes[1], palettes[0] } }) {
        QApplication::setPalette(from.second);
        extra.comeForward();
        Gallery::settle();
        QApplication::setPalette(to.second);
        ok = Gallery::save(
                 extra.fallbackWindow(), QStringLiteral("window-switched-") + from.first + u'-' + to.first)
            && ok;
    }
    IconStrip icons;
    // Wider than a new window may open on the offscreen screen.
    icons.setFixedSize(1200, 64);
    ok = Gallery::save(&icons, QStringLiteral("tray-icons")) && ok;
    return ok ? 0 : 1;
}

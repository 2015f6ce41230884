#pragma once

#include <QObject>

#include <cstdint>

class QSocketNotifier;
struct xcb_connection_t;

// Tells when the X11 system tray (the XEmbed tray manager of the default screen) comes or goes: a panel
// that restarts takes the tray with it for a while. It keeps an X connection of its own, so the events it
// asks for never change what the toolkit's connection receives, and it is woken by the X server, not by a
// timer. Main thread only; without an X server it says nothing.
class X11TrayManagerWatch : public QObject
{
    Q_OBJECT

public:
    explicit X11TrayManagerWatch(QObject *parent = nullptr);
    ~X11TrayManagerWatch() override;

    // Whether the watch could reach the X server.
    bool isWatching() const { return m_connection != nullptr; }
    // Whether a tray manager owns the tray selection now.
    bool hasManager() const { return m_manager != 0; }

signals:
    // A tray manager appeared or went away.
    void managerChanged(bool present);

private:
    void readEvents();
    void follow(std::uint32_t manager);

    xcb_connection_t *m_connection = nullptr;
    QSocketNotifier *m_notifier = nullptr;
    std::uint32_t m_selection = 0;
    std::uint32_t m_managerAtom = 0;
    std::uint32_t m_manager = 0;
};

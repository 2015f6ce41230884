#pragma once

#include "Capture/ScrollingCaptureTarget.h"

#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QSize>
#include <QTemporaryDir>

#include <memory>

class ScrollingTestDocument;

// A real application showing a generated document, as a person would scroll it: Firefox ESR on a
// fresh profile of its own (no first-run pages, telemetry, updates or network), a GTK 3 text view or
// list (python3-gi), or `less` in xterm. Started on the display of `environment`; knows the window
// and the scrolling column in root pixels. Stopped, by its pid, when it goes away, and its files
// with it.
class ScrollingTestApplication
{
public:
    enum class Kind { firefox, gtkText, gtkList, xtermLess };
    struct Options
    {
        Kind kind = Kind::firefox;
        // Firefox only: its smooth scrolling (on by default, as Firefox ships).
        bool smoothScrolling = true;
        QSize size { 1000, 860 };
        QPoint position { 40, 30 };
    };

    explicit ScrollingTestApplication(QProcessEnvironment environment);
    ~ScrollingTestApplication();
    ScrollingTestApplication(const ScrollingTestApplication &) = delete;
    ScrollingTestApplication &operator=(const ScrollingTestApplication &) = delete;

    // Starts it and waits until the document is on screen; false, with problem() telling why, when
    // it did not get there.
    bool start(const Options &options, const ScrollingTestDocument &document);
    void stop();
    QString problem() const { return m_problem; }

    Kind kind() const { return m_kind; }
    quint64 window() const { return m_window; }
    // The column a person would outline, in root window pixels.
    QRect region() const { return m_region; }
    ScrollingCaptureTarget captureTarget() const;

    static QString nameOf(Kind kind);

private:
    bool startFirefox(const Options &options, const ScrollingTestDocument &document);
    bool startGtk(const Options &options, const ScrollingTestDocument &document);
    bool startXterm(const Options &options, const ScrollingTestDocument &document);
    bool launch(const QString &program, const QStringList &arguments);
    bool waitUntilDrawn();
    bool fail(const QString &problem);

    QProcessEnvironment m_environment;
    QString m_display;
    Kind m_kind = Kind::firefox;
    std::unique_ptr<QTemporaryDir> m_files;
    std::unique_ptr<QProcess> m_process;
    quint64 m_window = 0;
    QRect m_region;
    QString m_problem;
};

#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// An X server of a test's own (for a display without XTEST, or with two screens), stopped by pid
// when it goes away.
class XvfbInstance
{
public:
    explicit XvfbInstance(const QStringList &extraArguments = {});
    ~XvfbInstance();
    XvfbInstance(const XvfbInstance &) = delete;
    XvfbInstance &operator=(const XvfbInstance &) = delete;

    bool isRunning() const { return m_pid > 0 && !m_display.isEmpty(); }
    // ":N", for DISPLAY or xcb_connect.
    QString display() const { return m_display; }

private:
    QTemporaryDir m_dir;
    qint64 m_pid = 0;
    QString m_display;
};

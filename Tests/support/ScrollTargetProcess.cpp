#include "ScrollTargetProcess.h"

#include "Capture/ScreenCaptureService.h"
#include "TestSupport.h"

#include <QGuiApplication>
#include <QImage>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>

namespace {

QString program()
{
    return TestSupport::binaryDir() + QStringLiteral("/scroll_target");
}

QRect parseRect(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return QRect();
    return QRect(parts[0].toInt(), parts[1].toInt(), parts[2].toInt(), parts[3].toInt());
}

} // namespace

ScrollTargetProcess::~ScrollTargetProcess()
{
    stop();
}

bool ScrollTargetProcess::start(const QStringList &arguments)
{
    m_process.setProgram(program());
    m_process.setArguments(arguments);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    TestSupport::endWithTest(m_process);
    m_process.start();
    if (!m_process.waitForStarted(5000))
        return false;
    QString output;
    for (int i = 0; i < 150 && !output.contains(QLatin1Char('\n')); ++i) {
        m_process.waitForReadyRead(100);
        output += QString::fromUtf8(m_process.readAllStandardOutput());
    }
    const QRegularExpressionMatch match = QRegularExpression(
        QStringLiteral("ready window=(\\d+) region=(\\S+) scrollbar=(\\S+) caret=(\\S+)"))
                                              .match(output);
    if (!match.hasMatch())
        return false;
    m_window = match.captured(1).toULongLong();
    m_region = parseRect(match.captured(2));
    m_scrollbar = parseRect(match.captured(3));
    m_caret = parseRect(match.captured(4));
    return true;
}

void ScrollTargetProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.write("quit\n");
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QImage ScrollTargetProcess::render(const QStringList &arguments)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("column.png"));
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program(), arguments + QStringList { QStringLiteral("--render"), file });
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit)
        return QImage();
    return QImage(file);
}

ScrollingCaptureTarget ScrollTargetProcess::captureTarget() const
{
    ScrollingCaptureTarget target;
    target.name = QStringLiteral("Scroll target");
    target.bundleID = QStringLiteral("scroll_target");
    target.windowID = m_window;
    return target;
}

ScrollingRegionGeometry ScrollTargetProcess::geometryOf(const QRect &region)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    ScrollingRegionGeometry geometry;
    geometry.displayID = ScreenCaptureService::displayID(screen);
    geometry.displayFrame = screen->geometry();
    geometry.globalRect = QRectF(region);
    geometry.pixelRect = region.translated(-screen->geometry().topLeft());
    geometry.displayPixelSize = screen->geometry().size();
    return geometry;
}

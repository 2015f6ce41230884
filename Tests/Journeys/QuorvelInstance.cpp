#include "QuorvelInstance.h"

#include "TestSupport.h"

#include <QTest>

QuorvelInstance::QuorvelInstance(
    const QString &program, const QProcessEnvironment &environment, const QString &logPath)
    : m_program(program)
    , m_logPath(logPath)
    , m_process(std::make_unique<QProcess>())
{
    TestSupport::endWithTest(*m_process);
    m_process->setProcessEnvironment(environment);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(logPath, QIODevice::Append);
}

QuorvelInstance::~QuorvelInstance()
{
    if (isRunning()) {
        m_process->kill();
        m_process->waitForFinished(10000);
    }
}

bool QuorvelInstance::start()
{
    m_process->start(m_program, {});
    if (!m_process->waitForStarted(10000))
        return false;
    m_pid = m_process->processId();
    return true;
}

bool QuorvelInstance::isRunning() const
{
    return m_process->state() != QProcess::NotRunning;
}

void QuorvelInstance::kill()
{
    if (isRunning())
        m_process->kill();
}

void QuorvelInstance::terminate()
{
    if (isRunning())
        m_process->terminate();
}

bool QuorvelInstance::waitForExit(int milliseconds)
{
    return QTest::qWaitFor([this] { return !isRunning(); }, milliseconds);
}

bool QuorvelInstance::exitedCleanly() const
{
    return !isRunning() && m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0;
}

QString QuorvelInstance::exitDescription() const
{
    if (isRunning())
        return QStringLiteral("still running");
    if (m_process->exitStatus() == QProcess::CrashExit)
        return QStringLiteral("ended by a signal");
    return QStringLiteral("exit status %1").arg(m_process->exitCode());
}

QString QuorvelInstance::logTail(int lines) const
{
    const QStringList all = QString::fromUtf8(TestSupport::readFile(m_logPath)).split(u'\n');
    return all.mid(std::max<qsizetype>(0, all.size() - lines)).join(u'\n');
}

#include "PrivatePulseAudio.h"

#include "TestSupport.h"

#include <QTest>

#include <csignal>

PrivatePulseAudio::PrivatePulseAudio()
{
    m_ready = launch();
}

bool PrivatePulseAudio::launch()
{
    if (!m_runtime.isValid())
        return false;
    m_process.setProcessEnvironment(TestSupport::serverEnvironment(m_runtime.path()));
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    TestSupport::endWithTest(m_process);
    m_process.start(QStringLiteral("pulseaudio"),
        { "--daemonize=no", "-n", "--exit-idle-time=-1", "--use-pid-file=no", "--system=no",
            "--log-target=file:" + m_runtime.filePath(QStringLiteral("pulse.log")),
            "--load=module-native-protocol-unix socket=" + m_runtime.filePath(QStringLiteral("native")),
            "--load=module-null-sink sink_name=spk sink_properties=device.description=Speakers",
            "--load=module-null-sink sink_name=micsrc sink_properties=device.description=Microphone-Feed",
            "--load=module-remap-source master=micsrc.monitor source_name=mic "
            "source_properties=device.description=Virtual-Microphone" });
    if (!m_process.waitForStarted(5000))
        return false;
    // It answers once every module above is loaded; a server that exited answers nothing.
    const bool answered = QTest::qWaitFor(
        [this] { return m_process.state() != QProcess::Running || pactl({ QStringLiteral("info") }); },
        10000);
    return answered && m_process.state() == QProcess::Running && pactl({ "set-default-sink", "spk" })
        && pactl({ "set-default-source", "mic" });
}

void PrivatePulseAudio::kill()
{
    m_ready = false;
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool PrivatePulseAudio::restart()
{
    kill();
    m_ready = launch();
    return m_ready;
}

PrivatePulseAudio::~PrivatePulseAudio()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    // A test may have stopped it to make it slow to answer.
    ::kill(pid_t(m_process.processId()), SIGCONT);
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QByteArray PrivatePulseAudio::address() const
{
    return "unix:" + m_runtime.filePath(QStringLiteral("native")).toLocal8Bit();
}

QByteArray PrivatePulseAudio::log() const
{
    return TestSupport::readFile(m_runtime.filePath(QStringLiteral("pulse.log")));
}

bool PrivatePulseAudio::pactl(const QStringList &arguments) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PULSE_SERVER"), QString::fromLocal8Bit(address()));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QStringLiteral("pactl"), arguments);
    return process.waitForFinished(5000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

#include "TonePlayers.h"

#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QThread>

#include <cmath>
#include <csignal>

TonePlayers::~TonePlayers()
{
    stopAll();
}

QString TonePlayers::toneProgram()
{
    return TestSupport::binaryDir() + QStringLiteral("/tone_player");
}

QProcess *TonePlayers::start(const QString &program, const QStringList &arguments, bool waitUntilReady)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    TestSupport::endWithTest(*process);
    process->start(program, arguments);
    if (!process->waitForStarted(5000))
        return nullptr;
    QProcess *raw = process.get();
    m_players.push_back(std::move(process));
    if (!waitUntilReady)
        return raw;
    QByteArray seen;
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        raw->waitForReadyRead(100);
        seen += raw->peek(4096);
        if (seen.contains("ready\n"))
            return raw;
        if (raw->state() == QProcess::NotRunning)
            return nullptr;
    }
    return nullptr;
}

bool TonePlayers::keepSinksAwake()
{
    for (const char *sink : { "spk", "micsrc" }) {
        if (!start(toneProgram(), { "--name", "Keeper", "--freq", "0", "--device", sink }))
            return false;
    }
    QTest::qWait(2100);
    return true;
}

qint64 TonePlayers::childPid(QProcess *player)
{
    const QList<QByteArray> lines = player->peek(1 << 16).split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("child "))
            return line.mid(6).toLongLong();
    }
    return 0;
}

void TonePlayers::stopAll()
{
    for (auto &player : m_players) {
        if (player->state() != QProcess::NotRunning) {
            if (const qint64 child = childPid(player.get()); child > 0)
                ::kill(pid_t(child), SIGKILL);
            player->kill();
            player->waitForFinished(3000);
        }
    }
    m_players.clear();
}

void writeDesktopFile(const QString &dataDir, const QString &id, const QString &body)
{
    QFile file(dataDir + QStringLiteral("/applications/") + id + QStringLiteral(".desktop"));
    QDir().mkpath(QFileInfo(file).absolutePath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(body.toUtf8());
}

QString installToneApplication(
    const QString &root, const QString &dataDir, const QString &id, const QString &name)
{
    const QString folder = root + QLatin1Char('/') + id;
    QDir().mkpath(folder);
    const QString program = folder + QLatin1Char('/') + id;
    QFile::remove(program);
    QFile::copy(TonePlayers::toneProgram(), program);
    QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner);
    writeDesktopFile(dataDir, id,
        QStringLiteral(
            "[Desktop Entry]\nType=Application\nName=%1\nExec=%2 --freq 440\nIcon=audio-x-generic\n")
            .arg(name, program));
    return program;
}

namespace ToneAnalysis {

double energyAt(const std::vector<float> &mono, double sampleRate, double frequency)
{
    const std::size_t n = mono.size();
    if (n < 2)
        return 0;
    const double coefficient = 2 * std::cos(2 * M_PI * frequency / sampleRate);
    double s1 = 0;
    double s2 = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double window = 0.5 - 0.5 * std::cos(2 * M_PI * double(i) / double(n - 1));
        const double s0 = double(mono[i]) * window + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return (s1 * s1 + s2 * s2 - coefficient * s1 * s2) / double(n);
}

std::vector<float> downmix(const std::vector<float> &interleaved, int channels)
{
    std::vector<float> mono(interleaved.size() / std::size_t(std::max(channels, 1)));
    for (std::size_t i = 0; i < mono.size(); ++i) {
        float sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += interleaved[i * std::size_t(channels) + std::size_t(c)];
        mono[i] = sum / float(channels);
    }
    return mono;
}

double rms(const std::vector<float> &mono, qsizetype from, qsizetype to)
{
    if (to < 0 || to > qsizetype(mono.size()))
        to = qsizetype(mono.size());
    from = std::clamp<qsizetype>(from, 0, to);
    if (to == from)
        return 0;
    double sum = 0;
    for (qsizetype i = from; i < to; ++i)
        sum += double(mono[std::size_t(i)]) * double(mono[std::size_t(i)]);
    return std::sqrt(sum / double(to - from));
}

} // namespace ToneAnalysis

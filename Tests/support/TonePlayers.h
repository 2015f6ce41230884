#pragma once

// Sound for the capture tests: tone players started as real processes under chosen identities,
// and measures of what was recorded.

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

// Starts tone_player processes and stops every one of them (by pid) when destroyed.
class TonePlayers
{
public:
    ~TonePlayers();
    // Runs `program` (tone_player or a copy of it) with the arguments and waits until its stream
    // plays. Null when it did not start.
    QProcess *start(const QString &program, const QStringList &arguments, bool waitUntilReady = true);
    // The pid a player printed for its child ("child <pid>"), or 0.
    static qint64 childPid(QProcess *player);
    static QString toneProgram(); // the helper built beside the tests
    // An idle null sink renders in two-second blocks and takes that long to notice a low-latency
    // listener: a silent low-latency player on "spk" and on "micsrc" keeps them as responsive as a
    // sound card. Starts both and waits those two seconds; false when one did not start.
    bool keepSinksAwake();
    void stopAll();

private:
    std::vector<std::unique_ptr<QProcess>> m_players;
};

// A copy of the tone helper under another file name in a folder of its own, with a .desktop file for
// it in `dataDir`/applications: an installed application with its own program.
QString installToneApplication(
    const QString &root, const QString &dataDir, const QString &id, const QString &name);
void writeDesktopFile(const QString &dataDir, const QString &id, const QString &body);

namespace ToneAnalysis {
// Energy of one frequency in a mono signal (Hann window, Goertzel).
double energyAt(const std::vector<float> &mono, double sampleRate, double frequency);
// Interleaved frames down to one channel.
std::vector<float> downmix(const std::vector<float> &interleaved, int channels);
double rms(const std::vector<float> &mono, qsizetype from = 0, qsizetype to = -1);
} // namespace ToneAnalysis

#pragma once

#include <QString>
#include <QVector>

// Spoken test audio made with flite, and how to score what was heard.
namespace SpeechFixtures {

constexpr int sampleRate = 16000;

// `text` spoken by flite's `voice` ("kal16", "rms", "slt", "awb") as 16 kHz mono samples; empty when
// flite failed.
QVector<qint16> speak(const QString &text, const QString &voice);
QVector<qint16> silence(double seconds);
// Where the first sample louder than a whisper lies, in seconds.
double onsetSeconds(const QVector<qint16> &samples);

bool writeWav(const QString &path, const QVector<qint16> &samples);
// Stores the samples the way a session's recordings are stored: through the session's AAC writer.
bool writeRecording(const QString &path, const QVector<qint16> &samples);

// Lower-case words without punctuation.
QStringList words(const QString &text);
// 1 minus the word error rate of `hypothesis` against `reference` (word edit distance).
double wordAccuracy(const QString &reference, const QString &hypothesis);

} // namespace SpeechFixtures

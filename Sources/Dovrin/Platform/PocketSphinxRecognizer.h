#pragma once

#include "Platform/SpeechFileRecognizer.h"

#include <optional>

// The live recognizer: FFmpeg decodes the file to 16 kHz mono, PocketSphinx hears it with its own
// voice-activity detection. Each stretch of speech between pauses becomes one final result; long
// continuous speech is cut at a short pause or between two words, so no result runs much past 14 s.
// A long file is heard in stretches at once, cut in long pauses, each by a recognizer of its own.
class PocketSphinxRecognizer final : public SpeechFileRecognizer
{
public:
    // `modelRoot` holds one folder per language, as the pocketsphinx-en-us package installs it.
    // `parallelism`: how many stretches of one file are heard at once, at most.
    explicit PocketSphinxRecognizer(
        QString modelRoot = defaultModelRoot(), int parallelism = defaultParallelism());

    static QString defaultModelRoot();
    static int defaultParallelism();

    QStringList supportedLocales() const override;
    ModelState modelState(const QString &locale) const override;
    SpeechRecognitionOutcome recognize(
        const QString &filePath, const QString &locale, const Callbacks &callbacks) const override;

private:
    struct ModelFiles
    {
        QString acoustic;
        QString languageModel;
        QString dictionary;
    };
    std::optional<ModelFiles> modelFiles(const QString &locale) const;

    QString m_modelRoot;
    int m_parallelism;
};

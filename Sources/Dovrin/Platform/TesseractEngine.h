#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// Tesseract with its English model, one engine per thread: an engine is never shared between threads,
// and it stays loaded for as long as its thread lives, since loading costs more than a typical read.
// Its tens of megabytes go back to the system when it is unloaded.
class TesseractEngine
{
public:
    // One character as the engine placed it.
    struct Glyph
    {
        QString text;
        QRect box;
    };
    struct Word
    {
        QString text;
        QRect box;
        double confidence = 0; // 0..1
        QList<Glyph> glyphs; // left to right
    };
    struct Line
    {
        QString text;
        QRect box;
        double confidence = 0; // 0..1
        QList<Word> words;
    };

    // The calling thread's engine, loaded on first use and unloaded when the thread finishes.
    static TesseractEngine &forCurrentThread();

    ~TesseractEngine();

    // Engines loaded now, on every thread.
    static int loadedCount();

    // False when the engine could not load its language data.
    bool isReady() const;

    // The engine's coordinates are 16-bit: no side of an image it reads may be longer than this.
    static constexpr int maximumSide = 32000;

    // The lines of an 8-bit grey image (dark text on a light ground) read as one block, with their
    // words; boxes in the image's pixels. Nothing when the engine gave up: `shouldStop` answered true
    // (asked between words, from this thread), or the image was beyond it.
    std::optional<QList<Line>> read(
        const QImage &gray, int resolution, const std::function<bool()> &shouldStop = {});

private:
    TesseractEngine();
    struct Private;
    std::unique_ptr<Private> d;
};

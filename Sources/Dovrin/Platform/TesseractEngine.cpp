#include "Platform/TesseractEngine.h"

#include "Platform/FreedMemory.h"

#include <QThreadStorage>

#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <atomic>
#include <dlfcn.h>

namespace {

std::atomic<int> loaded { 0 };

} // namespace

struct TesseractEngine::Private
{
    tesseract::TessBaseAPI api;
    bool ready = false;
};

TesseractEngine &TesseractEngine::forCurrentThread()
{
    // Deleted while its thread finishes, before anyone waiting for the thread goes on: an engine
    // still being unloaded when the program's statics go away leaves the engine's shared
    // dictionaries behind.
    static QThreadStorage<TesseractEngine *> engines;
    if (!engines.hasLocalData())
        engines.setLocalData(new TesseractEngine);
    return *engines.localData();
}

TesseractEngine::TesseractEngine()
    : d(std::make_unique<Private>())
{
    // The recognizer's own OpenMP threads bring no speed here (regions are already read on
    // several engines at once) and, when the machine is busy, spin against other work: a
    // full screen took three times as long. Its parallel regions run on this thread alone.
    using SetMaxActiveLevels = void (*)(int);
    if (void *symbol = dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"))
        reinterpret_cast<SetMaxActiveLevels>(symbol)(0);
    d->api.SetVariable("debug_file", "/dev/null");
    d->ready = d->api.Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) == 0;
    ++loaded;
}

TesseractEngine::~TesseractEngine()
{
    d->api.End();
    d.reset();
    // The dictionaries engines share stay cached after the last one ends, unless cleared.
    if (--loaded == 0)
        tesseract::TessBaseAPI::ClearPersistentCache();
    // Thousands of small blocks of the model, in the heap of a thread that is ending: nothing else
    // would give their pages back.
    FreedMemory::returnToSystem();
    // The thread hands its cache of small blocks back to its heap only as it ends, after this.
    FreedMemory::returnToSystemAfter(std::chrono::seconds(2));
}

int TesseractEngine::loadedCount()
{
    return loaded;
}

bool TesseractEngine::isReady() const
{
    return d->ready;
}

std::optional<QList<TesseractEngine::Line>> TesseractEngine::read(
    const QImage &gray, int resolution, const std::function<bool()> &shouldStop)
{
    if (gray.isNull() || gray.format() != QImage::Format_Grayscale8 || gray.width() > maximumSide
        || gray.height() > maximumSide)
        return std::nullopt;
    tesseract::TessBaseAPI &api = d->api;
    api.SetPageSegMode(tesseract::PSM_SINGLE_BLOCK);
    api.SetImage(gray.constBits(), gray.width(), gray.height(), 1, int(gray.bytesPerLine()));
    api.SetSourceResolution(resolution);
    tesseract::ETEXT_DESC monitor;
    if (shouldStop) {
        monitor.cancel_this = const_cast<std::function<bool()> *>(&shouldStop);
        monitor.cancel = [](void *stop, int) { return (*static_cast<std::function<bool()> *>(stop))(); };
    }
    if (api.Recognize(&monitor) != 0) {
        api.Clear();
        return std::nullopt;
    }
    QList<Line> lines;
    const auto boxAt = [](tesseract::ResultIterator &it, tesseract::PageIteratorLevel level, QRect *box) {
        int left = 0;
        int top = 0;
        int right = 0;
        int bottom = 0;
        if (!it.BoundingBox(level, &left, &top, &right, &bottom))
            return false;
        *box = QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
        return true;
    };
    const auto confidenceAt = [](tesseract::ResultIterator &it, tesseract::PageIteratorLevel level) {
        return std::clamp(double(it.Confidence(level)) / 100.0, 0.0, 1.0);
    };
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (it && !it->Empty(tesseract::RIL_WORD)) {
        bool inLine = false;
        do {
            if (!inLine || it->IsAtBeginningOf(tesseract::RIL_TEXTLINE)) {
                Line line { QString(), QRect(), confidenceAt(*it, tesseract::RIL_TEXTLINE), {} };
                std::unique_ptr<char[]> utf8(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
                if (utf8)
                    line.text = QString::fromUtf8(utf8.get()).simplified();
                boxAt(*it, tesseract::RIL_TEXTLINE, &line.box);
                lines.push_back(std::move(line));
                inLine = true;
            }
            std::unique_ptr<char[]> utf8(it->GetUTF8Text(tesseract::RIL_WORD));
            Word word { utf8 ? QString::fromUtf8(utf8.get()).simplified() : QString(), QRect(),
                confidenceAt(*it, tesseract::RIL_WORD), {} };
            if (!word.text.isEmpty() && boxAt(*it, tesseract::RIL_WORD, &word.box)) {
                tesseract::ResultIterator glyph(*it);
                do {
                    std::unique_ptr<char[]> symbol(glyph.GetUTF8Text(tesseract::RIL_SYMBOL));
                    Glyph read { symbol ? QString::fromUtf8(symbol.get()) : QString(), QRect() };
                    if (!read.text.isEmpty() && boxAt(glyph, tesseract::RIL_SYMBOL, &read.box))
                        word.glyphs.push_back(std::move(read));
                } while (glyph.Next(tesseract::RIL_SYMBOL) && !glyph.IsAtBeginningOf(tesseract::RIL_WORD));
                lines.back().words.push_back(std::move(word));
            }
        } while (it->Next(tesseract::RIL_WORD));
    }
    api.Clear();
    return lines;
}

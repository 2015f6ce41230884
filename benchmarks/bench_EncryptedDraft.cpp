// Saving and loading a draft that holds a 3840x2160 screenshot, beside writing and reading the same
// PNG bytes without sealing: plainly (no sync) and with the store's own atomic, synced write. The
// "ratio" counters divide the sealed time by each plain time.
#include "Documents/AtomicFile.h"
#include "Documents/DraftKeyStore.h"
#include "Documents/EncryptedDraft.h"
#include "Documents/ImageNormalization.h"

#include <QFile>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <map>

namespace {

// A desktop-like picture: window chrome, lines of text, a sidebar, a gradient and a photo-like patch.
QByteArray screenshotPNG()
{
    QImage image(3840, 2160, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(236, 238, 241));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient wallpaper(0, 0, 3840, 2160);
    wallpaper.setColorAt(0, QColor(40, 70, 120));
    wallpaper.setColorAt(1, QColor(160, 90, 140));
    painter.fillRect(image.rect(), wallpaper);
    painter.fillRect(QRect(0, 0, 3840, 56), QColor(30, 30, 34));
    const QRect window(240, 160, 3000, 1800);
    painter.fillRect(window, Qt::white);
    painter.fillRect(QRect(window.topLeft(), QSize(window.width(), 72)), QColor(246, 246, 248));
    painter.fillRect(
        QRect(window.left(), window.top() + 72, 520, window.height() - 72), QColor(241, 243, 246));
    QFont font = painter.font();
    font.setPixelSize(26);
    painter.setFont(font);
    painter.setPen(QColor(40, 40, 48));
    QRandomGenerator random(42);
    const QStringList words { "capture", "region", "text", "draft", "note", "folder", "review", "sealed",
        "scrolling", "tile", "markdown", "audio", "session", "quarterly", "report" };
    for (int line = 0; line < 48; ++line) {
        QString text;
        const int count = 6 + int(random.bounded(10));
        for (int w = 0; w < count; ++w)
            text += words.at(int(random.bounded(words.size()))) + QLatin1Char(' ');
        painter.drawText(QPoint(window.left() + 580, window.top() + 130 + line * 34), text);
        if (line < 30)
            painter.drawText(
                QPoint(window.left() + 40, window.top() + 130 + line * 40), words.at(line % words.size()));
    }
    QImage photo(900, 600, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < photo.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(photo.scanLine(y));
        for (int x = 0; x < photo.width(); ++x) {
            const int noise = int(random.bounded(24));
            row[x] = qRgb((x / 4 + noise) & 0xff, (y / 3 + noise) & 0xff, (x + y) / 8 & 0xff);
        }
    }
    painter.drawImage(QPoint(window.right() - 1000, window.top() + 200), photo);
    painter.end();
    return ImageNormalization::pngData(image).value_or(QByteArray());
}

struct Fixture
{
    QTemporaryDir folder;
    QByteArray png = screenshotPNG();
    EncryptedDraftStore store { folder.filePath(QStringLiteral("store")),
        DraftKeyStore::loadOrCreate(folder.filePath(QStringLiteral("store"))) };
    CaptureDraft draft { QUuid::createUuid(), QDateTime::currentDateTimeUtc(),
        QDateTime::currentDateTimeUtc(), QDateTime::currentDateTimeUtc(), png,
        QStringLiteral("recognized text"), QStringLiteral("reviewed text"), { QStringLiteral("en-US") }, {},
        QStringLiteral("Browser"), QStringLiteral("org.example.browser"), QStringLiteral("Untitled capture"),
        QString(), {}, std::nullopt, std::nullopt };
    QString plainPath = folder.filePath(QStringLiteral("plain.png"));
};

Fixture &fixture()
{
    static Fixture instance;
    return instance;
}

// Seconds per iteration of each finished benchmark, by name.
std::map<std::string, double> &averages()
{
    static std::map<std::string, double> values;
    return values;
}

template <typename Body> void timed(benchmark::State &state, const char *name, Body body)
{
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        body();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    averages()[name] = total / double(state.iterations());
    state.SetBytesProcessed(int64_t(state.iterations()) * fixture().png.size());
    state.counters["png_MB"] = double(fixture().png.size()) / 1e6;
}

void ratios(benchmark::State &state, const char *name)
{
    const double mine = averages()[name];
    if (averages().count("plain") && averages()["plain"] > 0)
        state.counters["ratio_vs_plain"] = mine / averages()["plain"];
    if (averages().count("plain_atomic") && averages()["plain_atomic"] > 0)
        state.counters["ratio_vs_plain_atomic"] = mine / averages()["plain_atomic"];
}

// The same bytes written and read back with no sealing and no sync.
void PlainWriteRead(benchmark::State &state)
{
    Fixture &f = fixture();
    timed(state, "plain", [&] {
        QFile out(f.plainPath);
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        out.write(f.png);
        out.close();
        QFile in(f.plainPath);
        in.open(QIODevice::ReadOnly);
        benchmark::DoNotOptimize(in.readAll());
    });
}

// The same bytes with the store's durability and no sealing: the store's own atomic write (synced
// temporary file, rename, synced folder) and read.
void PlainAtomicWriteRead(benchmark::State &state)
{
    Fixture &f = fixture();
    int error = 0;
    const AtomicFile::Descriptor folder = AtomicFile::openDirectory(f.folder.path(), &error);
    timed(state, "plain_atomic", [&] {
        AtomicFile::writeReplacing(folder.get(), "plain.png", f.png, 0600);
        QByteArray back;
        AtomicFile::readFile(folder.get(), "plain.png", 1 << 30, &back);
        benchmark::DoNotOptimize(back);
    });
}

void SealedSaveLoad(benchmark::State &state)
{
    Fixture &f = fixture();
    timed(state, "sealed", [&] {
        f.store.save(f.draft);
        benchmark::DoNotOptimize(f.store.load());
    });
    ratios(state, "sealed");
}

void SealedSave(benchmark::State &state)
{
    Fixture &f = fixture();
    timed(state, "sealed_save", [&] { f.store.save(f.draft); });
}

void SealedLoad(benchmark::State &state)
{
    Fixture &f = fixture();
    f.store.save(f.draft);
    timed(state, "sealed_load", [&] { benchmark::DoNotOptimize(f.store.load()); });
}

void TileSaveLoad(benchmark::State &state)
{
    Fixture &f = fixture();
    const QUuid id = QUuid::createUuid();
    timed(state, "tile", [&] {
        f.store.saveTilePNG(id, 0, f.png);
        benchmark::DoNotOptimize(f.store.loadTilePNG(id, 0));
    });
    ratios(state, "tile");
}

} // namespace

BENCHMARK(PlainWriteRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PlainAtomicWriteRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SealedSaveLoad)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(TileSaveLoad)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SealedSave)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SealedLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    // Text drawing for the test picture needs a GUI application, never a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    fixture();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

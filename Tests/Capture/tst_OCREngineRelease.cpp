// Recognition engines hold tens of megabytes each: once the threads that loaded them have been idle
// for the set time they are let go, whichever way a recognition loaded them (one worker, helpers
// reading a tall page, several recognitions at once, a cancelled one), and the next recognition
// loads them again and reads as before.

#include "Capture/OCRService.h"
#include "Platform/TesseractEngine.h"

#include <QGuiApplication>
#include <QPainter>
#include <QTest>
#include <QThreadPool>

#include <algorithm>

using namespace std::chrono_literals;

namespace {

QImage page(const QStringList &lines)
{
    QImage image(640, 40 + 30 * int(lines.size()), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(16);
    painter.setFont(font);
    painter.setPen(QColor(0x22, 0x22, 0x22));
    for (int i = 0; i < lines.size(); ++i)
        painter.drawText(20, 40 + 30 * i, lines[i]);
    return image;
}

QStringList numbered(const QString &word, int count)
{
    QStringList lines;
    for (int i = 1; i <= count; ++i)
        lines << QStringLiteral("%1 entry number %2 of the ledger").arg(word).arg(i);
    return lines;
}

} // namespace

class TestOCREngineRelease : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { OCRService::setEngineIdleTime(300ms); }

    void letGoWhenIdle_data()
    {
        QTest::addColumn<QList<QStringList>>("pages");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<int>("engines"); // loaded at least, right after the recognitions

        QTest::newRow("one line") << QList<QStringList> { { "Quarterly budget review" } } << false << 1;
        // Cut into stretches that the reading helpers take too.
        QTest::newRow("a tall page read by helpers")
            << QList<QStringList> { numbered("Harbor", 60) } << false << 2;
        // As many engines as there are workers to read them: one on a two-core machine.
        QTest::newRow("three sections at once, as a scrolling capture reads them")
            << QList<QStringList> { numbered("Amber", 12), numbered("Basil", 12), numbered("Cedar", 12) }
            << false << std::min(3, OCRService::workers()->maxThreadCount());
        QTest::newRow("again after the engines were let go")
            << QList<QStringList> { { "Invoice number 4821 approved" } } << false << 1;
        QTest::newRow("cancelled while reading")
            << QList<QStringList> { numbered("Granite", 80) } << true << 0;
    }

    void letGoWhenIdle()
    {
        QFETCH(QList<QStringList>, pages);
        QFETCH(bool, cancel);
        QFETCH(int, engines);
        // The rows before this one let theirs go.
        QTRY_COMPARE_WITH_TIMEOUT(TesseractEngine::loadedCount(), 0, 20000);

        QObject owner;
        OCRService service;
        QList<Task<OCRResult>> readings;
        for (const QStringList &lines : pages) {
            const QImage image = page(lines);
            readings << Task<OCRResult>::spawn(&owner,
                [&service, image]() -> Task<OCRResult> { co_return co_await service.recognizeText(image); });
        }
        if (cancel) {
            QTRY_VERIFY(TesseractEngine::loadedCount() > 0);
            for (Task<OCRResult> &reading : readings)
                reading.cancel();
        }
        // Counted while they read: on a busy machine the first to finish lets its engine go before the
        // last one is done.
        int most = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            (most = std::max(most, TesseractEngine::loadedCount()),
                std::all_of(readings.begin(), readings.end(),
                    [](const Task<OCRResult> &reading) { return reading.isFinished(); })),
            120000);
        QVERIFY2(most >= engines, qPrintable(QString::number(most)));
        if (!cancel) {
            for (qsizetype i = 0; i < pages.size(); ++i)
                QCOMPARE(readings[i].result().text, pages[i].join(QLatin1Char('\n')));
        }
        QTRY_COMPARE_WITH_TIMEOUT(TesseractEngine::loadedCount(), 0, 20000);
    }

    // While recognitions keep coming, the engines stay: none is loaded twice in a row of them.
    void keptWhileBusy()
    {
        QTRY_COMPARE_WITH_TIMEOUT(TesseractEngine::loadedCount(), 0, 20000);
        OCRService::setEngineIdleTime(5s);
        QObject owner;
        OCRService service;
        int most = 0;
        for (int i = 0; i < 4; ++i) {
            const QImage image = page({ QStringLiteral("Shipping address %1 updated").arg(100 + i) });
            Task<OCRResult> reading = Task<OCRResult>::spawn(&owner,
                [&service, image]() -> Task<OCRResult> { co_return co_await service.recognizeText(image); });
            QTRY_VERIFY_WITH_TIMEOUT(reading.isFinished(), 60000);
            QCOMPARE(reading.result().text, QStringLiteral("Shipping address %1 updated").arg(100 + i));
            QCOMPARE_GE(TesseractEngine::loadedCount(), 1);
            most = std::max(most, TesseractEngine::loadedCount());
        }
        // One worker at a time reads one line: the engines did not pile up either.
        QCOMPARE_LE(most, OCRService::workers()->maxThreadCount());
        OCRService::setEngineIdleTime(300ms);
        QTRY_COMPARE_WITH_TIMEOUT(TesseractEngine::loadedCount(), 0, 20000);
    }
};

QTEST_MAIN(TestOCREngineRelease)
#include "tst_OCREngineRelease.moc"

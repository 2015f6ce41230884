// Frames that real applications showed a scrolling capture (Tests/Scrolling/recordings, described
// in the README there), replayed through the frame alignment offline: the same pairs of looks,
// with what was seen changing at rest and the steps the capture expected, as the capture asked.
// A step the pixels tell must be placed where the content went, with what stays put over it left
// out of the new rows; one they cannot tell only where the capture expected it.
#include "Scrolling/ScrollingFrameAnalyzer.h"
#include "TestSupport.h"

#include <QDir>
#include <QGuiApplication>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

struct Pair
{
    QString folder;
    QJsonObject event; // the recorded alignment
    QJsonObject truth;
};

std::vector<quint32> marksOf(const QJsonValue &value)
{
    std::vector<quint32> marks;
    for (const QJsonValue &bands : value.toArray())
        marks.push_back(quint32(bands.toInteger()));
    return marks;
}

QString recordingsFolder()
{
    return TestSupport::sourceDir() + QStringLiteral("/Scrolling/recordings");
}

} // namespace

Q_DECLARE_METATYPE(Pair)

class TestScrollingRecordedFrames : public QObject
{
    Q_OBJECT

private:
    // The look's frame as the analyzer was given it.
    ScrollingFramePtr frameOf(const Pair &pair, const QString &role)
    {
        const int look = pair.event.value(role).toInt(-1);
        const QString file = QDir(pair.folder).filePath(m_imageOfLook.value(pair.folder).value(look));
        const QImage image(file);
        if (image.isNull())
            return nullptr;
        return std::make_shared<const ScrollingFrame>(
            image, marksOf(pair.event.value(role + "Changed")), marksOf(pair.event.value(role + "Volatile")));
    }

    QHash<QString, QHash<int, QString>> m_imageOfLook;

private slots:
    void aligns_data()
    {
        QTest::addColumn<Pair>("pair");
        const QDir recordings(recordingsFolder());
        const QStringList folders = recordings.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        QVERIFY2(!folders.isEmpty(), qPrintable(recordings.path()));
        int withTruth = 0;
        for (const QString &name : folders) {
            const QString folder = recordings.filePath(name);
            const QJsonObject manifest
                = QJsonDocument::fromJson(TestSupport::readFile(folder + QStringLiteral("/manifest.json")))
                      .object();
            QVERIFY2(manifest.value(QStringLiteral("format")).toInt() == 1, qPrintable(folder));
            const QJsonArray images = manifest.value(QStringLiteral("images")).toArray();
            QHash<int, QString> &imageOfLook = m_imageOfLook[folder];
            int step = 0;
            for (const QJsonValue &value : manifest.value(QStringLiteral("events")).toArray()) {
                const QJsonObject event = value.toObject();
                const QString kind = event.value(QStringLiteral("kind")).toString();
                if (kind == QStringLiteral("look"))
                    imageOfLook.insert(event.value(QStringLiteral("look")).toInt(),
                        images.at(event.value(QStringLiteral("image")).toInt()).toString());
                if (kind != QStringLiteral("align"))
                    continue;
                ++step;
                const QJsonObject truth = event.value(QStringLiteral("truth")).toObject();
                if (truth.isEmpty())
                    continue;
                ++withTruth;
                QTest::addRow("%s, alignment %d", qPrintable(name), step) << Pair { folder, event, truth };
            }
        }
        QVERIFY(withTruth > 0);
    }
    void aligns()
    {
        QFETCH(Pair, pair);
        const ScrollingFramePtr from = frameOf(pair, QStringLiteral("from"));
        const ScrollingFramePtr to = frameOf(pair, QStringLiteral("to"));
        QVERIFY(from && to);
        QList<int> expected;
        for (const QJsonValue &offset : pair.event.value(QStringLiteral("expected")).toArray())
            expected << offset.toInt();
        const ScrollingAlignment alignment = ScrollingFrameAnalyzer::alignFrames(*from, *to, expected);
        const QString answer
            = QString::asprintf("offset %d, confidence %.2f, fixed %d/%d, period %d", alignment.offset,
                alignment.confidence, alignment.fixedTop, alignment.fixedBottom, alignment.period);

        const QJsonValue offset = pair.truth.value(QStringLiteral("offset"));
        if (offset.isDouble()) {
            // The pixels tell it: placed, where the content went.
            QVERIFY2(alignment.isConfident(), qPrintable(answer));
            QCOMPARE(alignment.offset, offset.toInt());
        } else {
            // The pixels cannot tell it (rows that repeat): only the step the capture expected may be
            // taken.
            QVERIFY2(
                !alignment.isConfident() || (!expected.isEmpty() && alignment.offset == expected.first()),
                qPrintable(answer));
        }
        // What stays put over the bottom of the content is left out of the new rows, and no more
        // than a little around it.
        const QJsonValue fixedBottom = pair.truth.value(QStringLiteral("fixedBottom"));
        if (fixedBottom.isDouble() && alignment.isConfident()) {
            QVERIFY2(alignment.fixedBottom >= fixedBottom.toInt(), qPrintable(answer));
            QVERIFY2(alignment.fixedBottom <= fixedBottom.toInt() + 16, qPrintable(answer));
        }
    }
};

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TestScrollingRecordedFrames test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ScrollingRecordedFrames.moc"

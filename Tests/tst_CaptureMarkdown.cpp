#include "CaptureMarkdown.h"
#include "TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

namespace {

// Reads each document's front matter with a real YAML parser (PyYAML) and answers, per document,
// {"front": <mapping>, "body": <text after the closing --- and its blank line>} with dates as ISO 8601 text.
const char *parserScript = R"PY(
import json, sys, yaml
out = []
for text in json.load(sys.stdin):
    lines = text.split('\n')
    assert lines[0] == '---', 'no opening ---'
    end = lines.index('---', 1)
    assert lines[end + 1] == '', 'no blank line after the front matter'
    front = yaml.safe_load('\n'.join(lines[1:end]))
    out.append({'front': front, 'body': '\n'.join(lines[end + 2:])})
json.dump(out, sys.stdout, default=lambda value: value.isoformat())
)PY";

QJsonArray parseWithYAML(const QStringList &documents)
{
    QProcess python;
    python.start(QStringLiteral("python3"), { QStringLiteral("-c"), QString::fromUtf8(parserScript) });
    if (!python.waitForStarted())
        return {};
    python.write(QJsonDocument(QJsonArray::fromStringList(documents)).toJson(QJsonDocument::Compact));
    python.closeWriteChannel();
    python.waitForFinished(30000);
    if (python.exitCode() != 0)
        qWarning().noquote() << python.readAllStandardError();
    return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}

QJsonValue optionalText(const std::optional<QString> &text)
{
    return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

QDateTime parsedDate(const QJsonValue &value)
{
    return QDateTime::fromString(value.toString(), Qt::ISODate);
}

CaptureMarkdownDocument basicCapture()
{
    CaptureMarkdownDocument document;
    document.id = QUuid(QStringLiteral("3f2504e0-4f89-41d3-9a0c-0305e82c3301"));
    document.title = QStringLiteral("Quarterly report");
    document.capturedAt = QDateTime(QDate(2024, 5, 1), QTime(9, 30, 0), Qt::UTC);
    document.sourceApplication = QStringLiteral("Text Editor");
    document.sourceBundleID = QStringLiteral("org.example.editor");
    document.ocrLanguages = { QStringLiteral("en-US"), QStringLiteral("de-DE") };
    document.reviewedByUser = true;
    document.tags = { QStringLiteral("work"), QStringLiteral("q3") };
    document.note = QStringLiteral("Check the totals.");
    document.capturedText = QStringLiteral("Revenue 1,204\nCosts 880");
    return document;
}

CaptureMarkdownDocument hostileCapture(const QString &value)
{
    CaptureMarkdownDocument document = basicCapture();
    document.title = value;
    document.note = value;
    document.tags = { value, QStringLiteral("plain") };
    document.sourceApplication = value;
    document.sourceBundleID = std::nullopt;
    document.ocrLanguages = {};
    document.capturedText = value;
    return document;
}

CaptureMarkdownDocument noNoteCapture()
{
    CaptureMarkdownDocument document = basicCapture();
    document.note.clear();
    document.sourceApplication = std::nullopt;
    document.sourceBundleID = std::nullopt;
    document.ocrLanguages.clear();
    document.tags.clear();
    document.reviewedByUser = false;
    document.screenshotRetained = true;
    return document;
}

QString hostileSample()
{
    return QStringLiteral("He said \"stop\": ---\n# not a comment\\ 🙂");
}

AudioSessionMarkdownDocument basicAudio()
{
    AudioSessionMarkdownDocument document;
    document.id = QUuid(QStringLiteral("9b2f6c1e-0d4a-4c55-8e2b-7f3a1c9d0e42"));
    document.title = QStringLiteral("Team sync");
    document.capturedAt = QDateTime(QDate(2024, 12, 31), QTime(23, 0, 5), Qt::UTC);
    document.durationSeconds = 754;
    document.othersFilename = QStringLiteral("2025-01-01T04-30-05_audio-session_9b2f6c1e_others.m4a");
    document.youFilename = QStringLiteral("2025-01-01T04-30-05_audio-session_9b2f6c1e_you.m4a");
    document.heardOthers = true;
    document.heardYou = true;
    document.othersTranscript = QStringLiteral("welcome everyone\nlet us start");
    document.youTranscript = QStringLiteral("thanks");
    document.transcriber = QStringLiteral("pocketsphinx");
    document.reviewedByUser = true;
    document.note = QStringLiteral("Quit before transcription finished.");
    return document;
}

AudioSessionMarkdownDocument silentAudio()
{
    AudioSessionMarkdownDocument document = basicAudio();
    document.title = QStringLiteral("Audio session");
    document.durationSeconds = 0;
    document.othersFilename = std::nullopt;
    document.youFilename = std::nullopt;
    document.heardOthers = false;
    document.heardYou = false;
    document.othersTranscript.clear();
    document.youTranscript.clear();
    document.transcriber = std::nullopt;
    document.reviewedByUser = false;
    document.note.clear();
    document.othersTranscriptionUnavailable = true;
    document.youTranscriptionUnavailable = true;
    return document;
}

void compareCapture(const QJsonObject &front, const CaptureMarkdownDocument &document)
{
    QCOMPARE(front.value("schema").toString(), QStringLiteral("quorvel.capture/v1"));
    QCOMPARE(QUuid(front.value("id").toString()), document.id);
    QCOMPARE(front.value("title").toString(), document.title);
    QCOMPARE(parsedDate(front.value("capturedAt")), document.capturedAt);
    QCOMPARE(front.value("sourceApplication"), optionalText(document.sourceApplication));
    QCOMPARE(front.value("sourceBundleID"), optionalText(document.sourceBundleID));
    QCOMPARE(front.value("ocrLanguages").toVariant().toStringList(), document.ocrLanguages);
    QCOMPARE(front.value("reviewedByUser"), QJsonValue(document.reviewedByUser));
    QCOMPARE(front.value("screenshotRetained"), QJsonValue(document.screenshotRetained));
    QCOMPARE(front.value("tags").toVariant().toStringList(), document.tags);
    QCOMPARE(front.value("note").toString(), document.note);
    QCOMPARE(front.value("capturedText").toString(), document.capturedText);
    QCOMPARE(front.keys().size(), 12);
}

void compareAudio(const QJsonObject &front, const AudioSessionMarkdownDocument &document)
{
    QCOMPARE(front.value("schema").toString(), QStringLiteral("quorvel.audio/v1"));
    QCOMPARE(QUuid(front.value("id").toString()), document.id);
    QCOMPARE(front.value("title").toString(), document.title);
    QCOMPARE(parsedDate(front.value("capturedAt")), document.capturedAt);
    QCOMPARE(front.value("durationSeconds"), QJsonValue(document.durationSeconds));
    QCOMPARE(front.value("othersFilename"), optionalText(document.othersFilename));
    QCOMPARE(front.value("youFilename"), optionalText(document.youFilename));
    QCOMPARE(front.value("heardOthers"), QJsonValue(document.heardOthers));
    QCOMPARE(front.value("heardYou"), QJsonValue(document.heardYou));
    QCOMPARE(front.value("othersTranscript").toString(), document.othersTranscript);
    QCOMPARE(front.value("youTranscript").toString(), document.youTranscript);
    QCOMPARE(front.value("transcriber"), optionalText(document.transcriber));
    QCOMPARE(front.value("reviewedByUser"), QJsonValue(document.reviewedByUser));
    QCOMPARE(front.value("note").toString(), document.note);
    QCOMPARE(
        front.value("othersTranscriptionUnavailable"), QJsonValue(document.othersTranscriptionUnavailable));
    QCOMPARE(front.value("youTranscriptionUnavailable"), QJsonValue(document.youTranscriptionUnavailable));
    QCOMPARE(front.keys().size(), 16);
}

QString readGolden(const QString &name)
{
    QFile file(TestSupport::sourceDir() + QStringLiteral("/golden/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

} // namespace

class TestCaptureMarkdown : public QObject
{
    Q_OBJECT

private slots:
    void sanitizedTitle_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("slug");
        QTest::newRow("ascii") << "Hello, World!"
                               << "hello-world";
        QTest::newRow("runs and ends") << "  --Quarterly Report: Q3 2024--  "
                                       << "quarterly-report-q3-2024";
        QTest::newRow("path characters") << "a/b\\c.d:e"
                                         << "a-b-c-d-e";
        QTest::newRow("cyrillic") << "Привет Мир"
                                  << "привет-мир";
        QTest::newRow("greek") << "ΑΒΓ δέλτα"
                               << "αβγ-δέλτα";
        QTest::newRow("cjk and kana") << "東京 タワー"
                                      << "東京-タワー";
        QTest::newRow("devanagari keeps its marks") << "हिन्दी पाठ"
                                                    << "हिन्दी-पाठ";
        QTest::newRow("arabic-indic digits") << "مرحبا ١٢٣"
                                             << "مرحبا-١٢٣";
        QTest::newRow("combining accent") << "Cafe\u0301 Noir"
                                          << "cafe\u0301-noir";
        QTest::newRow("emoji are separators") << "🙂 smile 🙂"
                                              << "smile";
        QTest::newRow("punctuation only") << "!?…—"
                                          << "untitled";
        QTest::newRow("emoji only") << "🙂🎉"
                                    << "untitled";
        QTest::newRow("empty") << ""
                               << "untitled";
        QTest::newRow("cut at 40") << QString(45, QLatin1Char('a')) << QString(40, QLatin1Char('a'));
        QTest::newRow("cut then trimmed")
            << QStringLiteral("abc ").repeated(15) << QStringLiteral("abc-").repeated(10).chopped(1);
        QTest::newRow("cut counts characters, not UTF-16 units")
            << QStringLiteral("𠀀").repeated(45) << QStringLiteral("𠀀").repeated(40);
        QTest::newRow("cut counts characters, not bytes")
            << QStringLiteral("é").repeated(41) << QStringLiteral("é").repeated(40);
    }

    void sanitizedTitle()
    {
        QFETCH(QString, title);
        QFETCH(QString, slug);
        const QString result = CaptureFilename::sanitizedTitle(title);
        QCOMPARE(result, slug);
        QVERIFY(result.isValidUtf16());
        QVERIFY(result.toUcs4().size() <= CaptureFilename::maximumSlugLength);
    }

    void make_data()
    {
        QTest::addColumn<QDateTime>("date");
        QTest::addColumn<QTimeZone>("zone");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("name");
        const QUuid id(QStringLiteral("0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9"));
        const QDateTime late(QDate(2024, 3, 9), QTime(23, 59, 58), Qt::UTC);
        QTest::newRow("utc") << late << QTimeZone::utc() << "Notes"
                             << "md"
                             << "2024-03-09T23-59-58_notes_0a1b2c3d.md";
        QTest::newRow("next day in the zone") << late << QTimeZone(2 * 3600) << "Notes"
                                              << "md"
                                              << "2024-03-10T01-59-58_notes_0a1b2c3d.md";
        QTest::newRow("previous day in the zone")
            << QDateTime(QDate(2024, 1, 1), QTime(0, 30), Qt::UTC) << QTimeZone(-5 * 3600) << ""
            << "md"
            << "2023-12-31T19-30-00_untitled_0a1b2c3d.md";
        QTest::newRow("audio base") << late << QTimeZone::utc() << "audio-session"
                                    << "m4a"
                                    << "2024-03-09T23-59-58_audio-session_0a1b2c3d.m4a";
        QTest::newRow("no extension") << late << QTimeZone::utc() << "A/B"
                                      << ""
                                      << "2024-03-09T23-59-58_a-b_0a1b2c3d";
    }

    void make()
    {
        QFETCH(QDateTime, date);
        QFETCH(QTimeZone, zone);
        QFETCH(QString, title);
        QFETCH(QString, extension);
        QFETCH(QString, name);
        const QUuid id(QStringLiteral("0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9"));
        QCOMPARE(CaptureFilename::make(date, title, id, zone, extension), name);
    }

    void goldenFiles_data()
    {
        QTest::addColumn<QString>("golden");
        QTest::addColumn<QString>("rendered");
        QTest::addColumn<QString>("body");
        QTest::newRow("capture") << "capture.md" << basicCapture().render()
                                 << "Check the totals.\n\nRevenue 1,204\nCosts 880\n";
        QTest::newRow("capture without note")
            << "capture-no-note.md" << noNoteCapture().render() << "Revenue 1,204\nCosts 880\n";
        QTest::newRow("capture hostile")
            << "capture-hostile.md" << hostileCapture(hostileSample()).render()
            << "He said \"stop\": ---\n# not a comment\\ 🙂\n\nHe said \"stop\": ---\n# "
               "not a comment\\ 🙂\n";
        QTest::newRow("audio") << "audio.md" << basicAudio().render()
                               << "## Others\n\nwelcome everyone\nlet us start\n\n## You\n\nthanks\n";
        QTest::newRow("audio silent")
            << "audio-silent.md" << silentAudio().render() << "## Others\n\n## You\n";
    }

    // The layout is frozen: a change to any rendered byte must be deliberate.
    void goldenFiles()
    {
        QFETCH(QString, golden);
        QFETCH(QString, rendered);
        QFETCH(QString, body);
        const QString expected = readGolden(golden);
        if (rendered != expected) {
            QFile actual(TestSupport::binaryDir() + QLatin1Char('/') + golden + QStringLiteral(".actual"));
            if (actual.open(QIODevice::WriteOnly))
                actual.write(rendered.toUtf8());
        }
        QCOMPARE(rendered, expected);
        const QJsonArray parsed = parseWithYAML({ expected });
        QCOMPARE(parsed.size(), 1);
        QCOMPARE(parsed.at(0).toObject().value("body").toString(), body);
    }

    // Every golden file is valid YAML front matter that reads back as the document's fields.
    void goldenFilesParse()
    {
        const QList<std::pair<QString, CaptureMarkdownDocument>> captures {
            { "capture.md", basicCapture() },
            { "capture-no-note.md", noNoteCapture() },
            { "capture-hostile.md", hostileCapture(hostileSample()) },
        };
        const QList<std::pair<QString, AudioSessionMarkdownDocument>> sessions {
            { "audio.md", basicAudio() },
            { "audio-silent.md", silentAudio() },
        };
        QStringList texts;
        for (const auto &[name, document] : captures)
            texts.append(readGolden(name));
        for (const auto &[name, document] : sessions)
            texts.append(readGolden(name));
        const QJsonArray parsed = parseWithYAML(texts);
        QCOMPARE(parsed.size(), texts.size());
        for (qsizetype i = 0; i < captures.size(); ++i)
            compareCapture(parsed.at(i).toObject().value("front").toObject(), captures.at(i).second);
        for (qsizetype i = 0; i < sessions.size(); ++i)
            compareAudio(
                parsed.at(captures.size() + i).toObject().value("front").toObject(), sessions.at(i).second);
    }

    void dateCarriesTheLocalOffset()
    {
        // TZ is fixed to UTC+05:30 for this test.
        QCOMPARE(YAMLText::date(QDateTime(QDate(2024, 5, 1), QTime(9, 30), Qt::UTC)),
            QStringLiteral("2024-05-01T15:00:00+05:30"));
        QCOMPARE(YAMLText::date(QDateTime()), QStringLiteral("null"));
    }

    void hostileValuesRoundTrip()
    {
        const QStringList values {
            QStringLiteral("\"quoted\" and 'single'"),
            QStringLiteral("line one\nline two\r\nline three\rend"),
            QStringLiteral("---"),
            QStringLiteral("---\ntitle: injected\n---"),
            QStringLiteral("key: value"),
            QStringLiteral("# comment"),
            QStringLiteral("back\\slash \\n not a newline"),
            QStringLiteral("tab\there"),
            QStringLiteral("emoji 🙂👩‍👩‍👧 and 東京"),
            QStringLiteral("null"),
            QStringLiteral("true"),
            QStringLiteral("~"),
            QStringLiteral("- item"),
            QStringLiteral("[a, b]"),
            QStringLiteral("{x: 1}"),
            QStringLiteral("&anchor *alias !tag %YAML @ ` | >"),
            QStringLiteral("  leading and trailing  "),
            QString::fromUcs4(U"controls \x01\x07\x1b\x7f\x85\x9f end"),
            QString::fromUcs4(U"separators \u2028 and \u2029"),
            QString::fromUcs4(U"\uFEFFbyte order mark, \uFFFE and \uFFFF"),
            QString(QChar(0xD800)) + QStringLiteral(" lone surrogate"),
            QString(),
        };
        QStringList texts;
        for (const QString &value : values)
            texts.append(hostileCapture(value).render());
        AudioSessionMarkdownDocument audio = basicAudio();
        audio.title = values.at(3);
        audio.othersTranscript = values.at(1);
        audio.youTranscript = values.at(17);
        audio.note = values.at(5);
        audio.transcriber = values.at(0);
        audio.othersFilename = values.at(4);
        texts.append(audio.render());

        const QJsonArray parsed = parseWithYAML(texts);
        QCOMPARE(parsed.size(), texts.size());
        for (qsizetype i = 0; i < values.size(); ++i) {
            CaptureMarkdownDocument expected = hostileCapture(values.at(i));
            if (i == values.size() - 2) {
                // UTF-8 cannot carry a lone surrogate; it arrives as the replacement character.
                const QString replaced = QString(QChar(0xFFFD)) + QStringLiteral(" lone surrogate");
                expected = hostileCapture(replaced);
            }
            compareCapture(parsed.at(i).toObject().value("front").toObject(), expected);
            if (QTest::currentTestFailed())
                qWarning() << "value" << i << values.at(i);
        }
        compareAudio(parsed.last().toObject().value("front").toObject(), audio);
    }
};

QTEST_GUILESS_MAIN(TestCaptureMarkdown)
#include "tst_CaptureMarkdown.moc"

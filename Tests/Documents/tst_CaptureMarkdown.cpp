#include "Documents/CaptureMarkdown.h"
#include "TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

namespace {

// Reads each document with a real YAML parser (PyYAML): per document {"front": <mapping>,
// "body": <text after the closing --- and its blank line>}, dates as ISO 8601 text.
const char *parserScript = R"PY(
import json, sys, yaml
out = []
for text in json.load(sys.stdin):
    lines = text.split('\n')
    assert lines[0] == '---', 'no opening ---'
    end = lines.index('---', 1)
    assert lines[end + 1] == '', 'no blank line after the front matter'
    out.append({'front': yaml.safe_load('\n'.join(lines[1:end])), 'body': '\n'.join(lines[end + 2:])})
json.dump(out, sys.stdout, default=lambda value: value.isoformat())
)PY";

QJsonArray parseWithYAML(const QStringList &documents)
{
    QProcess python;
    python.start(QStringLiteral("python3"), { QStringLiteral("-c"), QString::fromUtf8(parserScript) });
    python.write(QJsonDocument(QJsonArray::fromStringList(documents)).toJson(QJsonDocument::Compact));
    python.closeWriteChannel();
    python.waitForFinished(30000);
    if (python.exitCode() != 0)
        qWarning().noquote() << python.readAllStandardError();
    return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}

QJsonValue optional(const std::optional<QString> &text)
{
    return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

// The front matter a parser must read back: every metadata field under its own name, none of the words.
QJsonObject expectedFront(const CaptureMarkdownDocument &d)
{
    return { { "schema", "quorvel.capture/v1" }, { "id", d.id.toString(QUuid::WithoutBraces) },
        { "title", d.title }, { "sourceApplication", optional(d.sourceApplication) },
        { "sourceBundleID", optional(d.sourceBundleID) },
        { "ocrLanguages", QJsonArray::fromStringList(d.ocrLanguages) },
        { "reviewedByUser", d.reviewedByUser }, { "screenshotRetained", d.screenshotRetained },
        { "tags", QJsonArray::fromStringList(d.tags) } };
}

QJsonObject expectedFront(const AudioSessionMarkdownDocument &d)
{
    return { { "schema", "quorvel.audio/v1" }, { "id", d.id.toString(QUuid::WithoutBraces) },
        { "title", d.title }, { "durationSeconds", d.durationSeconds },
        { "othersFilename", optional(d.othersFilename) }, { "youFilename", optional(d.youFilename) },
        { "heardOthers", d.heardOthers }, { "heardYou", d.heardYou },
        { "transcriber", optional(d.transcriber) }, { "reviewedByUser", d.reviewedByUser },
        { "othersTranscriptionUnavailable", d.othersTranscriptionUnavailable },
        { "youTranscriptionUnavailable", d.youTranscriptionUnavailable } };
}

// The parsed front matter equals the expectation, its date being the same instant.
template <typename Document> void compareFront(QJsonObject front, const Document &document)
{
    QCOMPARE(QDateTime::fromString(front.take("capturedAt").toString(), Qt::ISODate), document.capturedAt);
    QCOMPARE(front, expectedFront(document));
}

const QUuid captureID(QStringLiteral("3f2504e0-4f89-41d3-9a0c-0305e82c3301"));
const QUuid audioID(QStringLiteral("9b2f6c1e-0d4a-4c55-8e2b-7f3a1c9d0e42"));

const QDateTime captureDate(QDate(2024, 5, 1), QTime(9, 30), Qt::UTC);

CaptureMarkdownDocument basicCapture()
{
    return { captureID, "Quarterly report", captureDate, "Text Editor", "org.example.editor",
        { "en-US", "de-DE" }, true, false, { "work", "q3" }, "Check the totals.",
        "Revenue 1,204\nCosts 880" };
}

CaptureMarkdownDocument hostileCapture(const QString &value)
{
    return { captureID, value, captureDate, value, std::nullopt, {}, true, false, { value, "plain" }, value,
        value };
}

const QString hostileSample = QStringLiteral("He said \"stop\": ---\n# not a comment\\ 🙂");

AudioSessionMarkdownDocument basicAudio()
{
    return { audioID, "Team sync", QDateTime(QDate(2024, 12, 31), QTime(23, 0, 5), Qt::UTC), 754,
        "2025-01-01T04-30-05_audio-session_9b2f6c1e_others.m4a",
        "2025-01-01T04-30-05_audio-session_9b2f6c1e_you.m4a", true, true, "welcome everyone\nlet us start",
        "thanks", "pocketsphinx", true, "Quit before transcription finished." };
}

QString readGolden(const QString &name)
{
    QFile file(TestSupport::sourceDir() + QStringLiteral("/golden/") + name);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
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
        const auto row = [](const char *name, const QString &title, const QString &slug) {
            QTest::newRow(name) << title << slug;
        };
        row("ascii", "Hello, World!", "hello-world");
        row("runs and ends", "  --Quarterly Report: Q3 2024--  ", "quarterly-report-q3-2024");
        row("path characters", "a/b\\c.d:e", "a-b-c-d-e");
        row("cyrillic", "Привет Мир", "привет-мир");
        row("cjk and kana", "東京 タワー", "東京-タワー");
        row("devanagari keeps its marks", "हिन्दी पाठ", "हिन्दी-पाठ");
        row("arabic-indic digits", "مرحبا ١٢٣", "مرحبا-١٢٣");
        row("combining accent", "Cafe\u0301 Noir", "cafe\u0301-noir");
        row("emoji are separators", "🙂 smile 🙂", "smile");
        row("punctuation only", "!?…—", "untitled");
        row("empty", "", "untitled");
        row("cut at 40", QString(45, 'a'), QString(40, 'a'));
        row("cut then trimmed", QString("abc ").repeated(15), QString("abc-").repeated(10).chopped(1));
        row("cut counts characters, not UTF-16 units", QString("𠀀").repeated(45),
            QString("𠀀").repeated(40));
        row("cut counts characters, not bytes", QString("é").repeated(41), QString("é").repeated(40));
        // Cut at 40 code points, these lost the accent or the vowel sign of their last letter.
        row("cut keeps a decomposed accent with its letter", "a" + QString("e\u0301").repeated(45),
            "a" + QString("e\u0301").repeated(39));
        row("cut keeps a Devanagari vowel sign with its letter", "क" + QString("कि").repeated(45),
            "क" + QString("कि").repeated(39));
    }

    void sanitizedTitle()
    {
        QFETCH(QString, title);
        const QString result = CaptureFilename::sanitizedTitle(title);
        QTEST(result, "slug");
        QVERIFY(result.isValidUtf16());
    }

    // The date's fields in the given zone, the slug, eight hex digits of the id, the extension if any.
    void make()
    {
        const QUuid id(QStringLiteral("0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9"));
        const QDateTime late(QDate(2024, 3, 9), QTime(23, 59, 58), Qt::UTC),
            newYear(QDate(2024, 1, 1), QTime(0, 30), Qt::UTC);
        QCOMPARE(CaptureFilename::make(late, "Notes", id, QTimeZone(2 * 3600)),
            QString("2024-03-10T01-59-58_notes_0a1b2c3d.md"));
        QCOMPARE(CaptureFilename::make(newYear, "", id, QTimeZone(-5 * 3600)),
            QString("2023-12-31T19-30-00_untitled_0a1b2c3d.md"));
        QCOMPARE(CaptureFilename::make(late, "A/B", id, QTimeZone::utc(), ""),
            QString("2024-03-09T23-59-58_a-b_0a1b2c3d"));
    }

    void goldenFiles_data()
    {
        QTest::addColumn<QString>("golden");
        QTest::addColumn<QString>("rendered");
        QTest::addColumn<QJsonObject>("front");
        QTest::addColumn<QDateTime>("date");
        const auto row = [](const char *golden, const auto &document) {
            QTest::newRow(golden) << golden << document.render() << expectedFront(document)
                                  << document.capturedAt;
        };
        row("capture.md", basicCapture());
        auto bare = basicCapture();
        bare.note.clear();
        bare.sourceApplication.reset();
        bare.sourceBundleID.reset();
        bare.ocrLanguages.clear();
        bare.tags.clear();
        bare.reviewedByUser = false;
        bare.screenshotRetained = true;
        row("capture-no-note.md", bare);
        row("capture-hostile.md", hostileCapture(hostileSample));
        row("audio.md", basicAudio());
        row("audio-silent.md",
            AudioSessionMarkdownDocument { .id = audioID,
                .title = "Audio session",
                .capturedAt = basicAudio().capturedAt,
                .othersTranscriptionUnavailable = true,
                .youTranscriptionUnavailable = true });
    }

    // The layout is frozen, and every golden file reads back through a YAML parser as its fields.
    void goldenFiles()
    {
        QFETCH(QString, golden);
        QFETCH(QString, rendered);
        QFETCH(QJsonObject, front);
        const QString expected = readGolden(golden);
        if (rendered != expected) {
            QFile actual(TestSupport::binaryDir() + QLatin1Char('/') + golden + QStringLiteral(".actual"));
            if (actual.open(QIODevice::WriteOnly))
                actual.write(rendered.toUtf8());
        }
        QCOMPARE(rendered, expected);
        const QJsonArray parsed = parseWithYAML({ expected });
        QCOMPARE(parsed.size(), 1);
        QJsonObject parsedFront = parsed.at(0).toObject().value("front").toObject();
        QTEST(QDateTime::fromString(parsedFront.take("capturedAt").toString(), Qt::ISODate), "date");
        QCOMPARE(parsedFront, front);
    }

    // A page of text and a note of several lines stand in the body once and nowhere else.
    void wordsOnceInTheBody_data()
    {
        QTest::addColumn<QString>("rendered");
        QTest::addColumn<QStringList>("words");
        QStringList lines;
        for (int i = 0; i < 200; ++i)
            lines << QStringLiteral("line %1 of the captured text").arg(i);
        const QString note = QStringLiteral("first line of the note\nsecond line of the note");
        auto capture = basicCapture();
        capture.note = note;
        capture.capturedText = lines.join(QLatin1Char('\n'));
        QTest::newRow("capture") << capture.render() << QStringList { note, capture.capturedText };
        auto audio = basicAudio();
        audio.note = note;
        audio.othersTranscript = lines.mid(0, 100).join(QLatin1Char('\n'));
        audio.youTranscript = lines.mid(100).join(QLatin1Char('\n'));
        QTest::newRow("audio") << audio.render()
                               << QStringList { note, audio.othersTranscript, audio.youTranscript };
    }

    void wordsOnceInTheBody()
    {
        QFETCH(QString, rendered);
        QFETCH(QStringList, words);
        const QJsonArray parsed = parseWithYAML({ rendered });
        QCOMPARE(parsed.size(), 1);
        const QJsonObject front = parsed.at(0).toObject().value("front").toObject();
        const QString body = parsed.at(0).toObject().value("body").toString();
        QVERIFY(front.contains("title"));
        for (const char *key : { "capturedText", "othersTranscript", "youTranscript", "note" })
            QVERIFY2(!front.contains(QLatin1String(key)), key);
        for (const QString &text : words) {
            QCOMPARE(rendered.count(text), 1);
            QVERIFY(body.contains(text));
        }
    }

    // Note apps and editors choke on NUL and other controls that recognition or a paste bring along.
    void bodyKeepsNoControlCharacters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("body");
        const auto row = [](const char *name, const QString &text, const QString &body) {
            QTest::newRow(name) << text << body;
        };
        row("NUL", QString::fromUtf16(u"a\0b", 3), "a\uFFFDb");
        row("other C0 controls", "a\x01\x07\x1b[0mb\x0b\x0c\x1f", "a[0mb");
        row("tab and line feed kept", "a\tb\nc", "a\tb\nc");
        row("DEL",
            "a\x7f"
            "b\x7f",
            "ab");
        row("C1 CSI opens no terminal escape", QString::fromUtf16(u"a\u009b31mred\u009b0m"), "a31mred0m");
        row("first and last C1", QString::fromUtf16(u"\u0080a\u009fb\u008dc"), "abc");
        row("NEL ends a line", QString::fromUtf16(u"a\u0085b"), "a\nb");
        row("Latin-1 beside C1 kept", QString::fromUtf16(u"\u00a0\u00e9~"),
            QString::fromUtf16(u"\u00a0\u00e9~"));
        row("CR LF and a lone CR end lines", "a\r\nb\rc\r", "a\nb\nc\n");
        row("lone surrogate", "a" + QString(QChar(0xDC00)) + "b", "a\uFFFDb");
        row("nothing left", "\x01\x02", "");
    }

    void bodyKeepsNoControlCharacters()
    {
        QFETCH(QString, text);
        QFETCH(QString, body);
        auto capture = basicCapture();
        capture.note = text;
        capture.capturedText = text;
        auto audio = basicAudio();
        audio.note = text;
        audio.othersTranscript = text;
        audio.youTranscript.clear();
        const QString paragraph = body.isEmpty() ? QString() : body + QStringLiteral("\n\n");
        const auto bodyOf
            = [](const QString &rendered) { return rendered.mid(rendered.indexOf("\n---\n\n") + 6); };
        QCOMPARE(bodyOf(capture.render()), (paragraph + paragraph).chopped(body.isEmpty() ? 0 : 1));
        QCOMPARE(
            bodyOf(audio.render()), paragraph + QStringLiteral("## Others\n\n") + paragraph + "## You\n");
    }

    void hostileValuesRoundTrip()
    {
        QCOMPARE(YAMLText::date(QDateTime()), QStringLiteral("null"));
        const QStringList values { "\"quoted\" and 'single'", "line one\nline two\r\nline three\rend", "---",
            "---\ntitle: injected\n---", "key: value", "# comment", "back\\slash \\n not a newline",
            "tab\there", "emoji 🙂👩‍👩‍👧 and 東京", "null", "true", "~", "- item", "[a, b]",
            "{x: 1}", "&anchor *alias !tag %YAML @ ` | >", "  leading and trailing  ",
            QString::fromUcs4(U"controls \x01\x07\x1b\x7f\x85\x9f end"),
            QString::fromUcs4(U"separators \u2028 and \u2029"),
            QString::fromUcs4(U"\uFEFFbyte order mark, \uFFFE and \uFFFF"), QString() };
        QStringList texts;
        for (const QString &value : values)
            texts.append(hostileCapture(value).render());
        // UTF-8 cannot carry a lone surrogate; it arrives as the replacement character.
        texts.append(hostileCapture(QString(QChar(0xD800)) + "x").render());
        auto audio = basicAudio();
        audio.title = values.at(3);
        audio.transcriber = values.at(0);
        audio.othersFilename = values.at(4);
        texts.append(audio.render());

        const QJsonArray parsed = parseWithYAML(texts);
        QCOMPARE(parsed.size(), texts.size());
        for (qsizetype i = 0; i < values.size(); ++i) {
            compareFront(parsed.at(i).toObject().value("front").toObject(), hostileCapture(values.at(i)));
            if (QTest::currentTestFailed())
                qWarning() << "value" << values.at(i);
        }
        compareFront(parsed.at(values.size()).toObject().value("front").toObject(),
            hostileCapture(QString(QChar(0xFFFD)) + "x"));
        compareFront(parsed.last().toObject().value("front").toObject(), audio);
    }
};

QTEST_GUILESS_MAIN(TestCaptureMarkdown)
#include "tst_CaptureMarkdown.moc"

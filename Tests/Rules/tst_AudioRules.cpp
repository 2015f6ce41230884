#include "Rules/AudioGates.h"
#include "Rules/AudioLevelMeter.h"
#include "Rules/AudioOthersSelection.h"
#include "Rules/AudioRecordingNote.h"
#include "Rules/AudioSessionPhase.h"
#include "Rules/AudioSessionTitle.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <cmath>
#include <limits>

using Kind = AudioRecordingGate::Action::Kind;
using Decision = MicrophoneSpeechGate::Decision;
using Phase = AudioSessionPhase;

Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(AudioRecordingNote::Gap)

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr float notANumberF = std::numeric_limits<float>::quiet_NaN();
constexpr float infF = std::numeric_limits<float>::infinity();

} // namespace

class TestAudioRules : public QObject
{
    Q_OBJECT

private slots:
    // Values that are not numbers, negative or huge never reach the meters and clocks as garbage.
    void oddNumbers()
    {
        for (float level : { notANumberF, -infF, -0.5f })
            QCOMPARE(AudioLevelMeter::bar(level), QString("\u2014"));
        QCOMPARE(AudioLevelMeter::bar(infF), QString("\u2588"));
        for (double seconds : { notANumber, inf, -inf, -12.0, -0.0001 }) {
            QCOMPARE(AudioLevelMeter::timestamp(seconds), QString("0:00"));
            QCOMPARE(AudioElapsed::label(seconds), QString("0:00"));
        }
        static const QRegularExpression minutesForm(QStringLiteral("^\\d+:[0-5]\\d$"));
        static const QRegularExpression hoursForm(QStringLiteral("^\\d+:[0-5]\\d:[0-5]\\d$"));
        for (double seconds : { 1e15, 1e19, 1e300, std::numeric_limits<double>::max() }) {
            QVERIFY2(minutesForm.match(AudioLevelMeter::timestamp(seconds)).hasMatch(),
                qPrintable(AudioLevelMeter::timestamp(seconds)));
            QVERIFY2(hoursForm.match(AudioElapsed::label(seconds)).hasMatch(),
                qPrintable(AudioElapsed::label(seconds)));
        }
    }

    // The transcript's timestamps stay in minutes; the elapsed label grows hours. Both round down.
    void clockTexts()
    {
        for (const auto &[seconds, timestamp, elapsed] : { std::tuple { 0.99, "0:00", "0:00" },
                 { 59.999, "0:59", "0:59" }, { 75.9, "1:15", "1:15" }, { 3599.99, "59:59", "59:59" },
                 { 3600.0, "60:00", "1:00:00" }, { 90061.0, "1501:01", "25:01:01" } }) {
            QCOMPARE(AudioLevelMeter::timestamp(seconds), QString(timestamp));
            QCOMPARE(AudioElapsed::label(seconds), QString(elapsed));
        }
    }

    // What a recording went through, in the note: every gap listed in one sentence, lengths that never
    // read "0 s" nor hide an hour.
    void recordingNotes_data()
    {
        QTest::addColumn<QList<AudioRecordingNote::Gap>>("gaps");
        QTest::addColumn<QString>("sentence");
        QTest::newRow("none") << QList<AudioRecordingNote::Gap>() << QString();
        QTest::newRow("one, shorter than a second")
            << QList<AudioRecordingNote::Gap> { { 4.2, 0.3 } }
            << "The sound server was away at 0:04 for 1 s: that stretch is silent in both recordings.";
        QTest::newRow("three, one past a minute long")
            << QList<AudioRecordingNote::Gap> { { 4.2, 5.4 }, { 70, 59.6 }, { 3725, std::nan("") } }
            << "The sound server was away at 0:04 for 5 s, at 1:10 for 1:00 and at 1:02:05 for 1 s: those "
               "stretches are silent in both recordings.";
    }
    void recordingNotes()
    {
        QFETCH(QList<AudioRecordingNote::Gap>, gaps);
        QTEST(AudioRecordingNote::serverGaps(gaps), "sentence");
    }

    void speechGate_data()
    {
        QTest::addColumn<float>("youPeak");
        QTest::addColumn<float>("othersPeak");
        QTest::addColumn<bool>("includeYou");
        QTest::addColumn<Decision>("decision");
        const auto row = [](const char *name, float you, float others, bool include, Decision decision) {
            QTest::newRow(name) << you << others << include << decision;
        };
        row("off wins over everything", 0.9f, 0.0f, false, Decision::skipDisabled);
        row("quiet before bleed", 0.039f, 0.9f, true, Decision::skipQuiet);
        row("bleed", 0.05f, 0.6f, true, Decision::skipBleed);
        row("a tenth exactly is speech", 0.0625f, 0.625f, true, Decision::transcribe);
        row("NaN you proves nothing", notANumberF, 0.9f, true, Decision::transcribe);
        row("NaN others proves nothing", 0.05f, notANumberF, true, Decision::transcribe);
        row("infinite others proves nothing", 0.05f, infF, true, Decision::transcribe);
        row("-inf you is quiet", -infF, 0.0f, true, Decision::skipQuiet);
    }

    void speechGate()
    {
        QFETCH(float, youPeak);
        QFETCH(float, othersPeak);
        QFETCH(bool, includeYou);
        QTEST(MicrophoneSpeechGate::decision(youPeak, othersPeak, includeYou), "decision");
    }

    // A session under way is stopped whatever else holds; at rest the checks come in order.
    void recordingGate()
    {
        const std::optional<QString> none, slack = QString("slack"), name = QString("Slack");
        for (Phase phase : AudioSessionPhases::allCases) {
            const bool atRest = phase == Phase::idle || phase == Phase::saved || phase == Phase::failed;
            QCOMPARE(AudioRecordingGate::action(phase, false, false, false, slack, name, false, true).kind,
                atRest ? Kind::unsupported : Kind::stop);
            if (atRest)
                QCOMPARE(AudioRecordingGate::action(phase, true, true, true, none, none, false, false).kind,
                    Kind::begin);
        }
        const auto idle = [&](bool setup, bool folder, bool supported, std::optional<QString> id,
                              std::optional<QString> appName, bool running, bool review) {
            const auto action = AudioRecordingGate::action(
                Phase::idle, setup, folder, supported, id, appName, running, review);
            return std::pair { action.kind, action.displayName };
        };
        using Result = std::pair<Kind, QString>;
        QCOMPARE(idle(false, false, false, none, none, true, true), Result(Kind::unsupported, {}));
        QCOMPARE(idle(false, false, true, none, none, true, true), Result(Kind::requestSetup, {}));
        QCOMPARE(idle(true, false, true, none, none, true, true), Result(Kind::requestFolder, {}));
        QCOMPARE(idle(true, true, true, slack, name, false, true), Result(Kind::blockedByReview, {}));
        QCOMPARE(
            idle(true, true, true, QString(), name, false, false), Result(Kind::begin, {})); // whole computer
        QCOMPARE(idle(true, true, true, slack, name, true, false), Result(Kind::begin, {}));
        QCOMPARE(idle(true, true, true, slack, name, false, false), Result(Kind::requestSource, "Slack"));
        QCOMPARE(
            idle(true, true, true, slack, QString(), false, false), Result(Kind::requestSource, "slack"));
        QCOMPARE(idle(true, true, true, slack, none, false, false), Result(Kind::requestSource, "slack"));
    }

    void firstSpokenLine_data()
    {
        QTest::addColumn<QString>("transcript");
        QTest::addColumn<std::optional<QString>>("line");
        const auto row = [](const char *name, const QString &transcript, std::optional<QString> line) {
            QTest::newRow(name) << transcript << line;
        };
        const QString a71(71, QLatin1Char('a')), c72(72, QLatin1Char('c'));
        const QString emoji = QStringLiteral("\U0001F44D\U0001F3FD"); // one character, four UTF-16 units
        row("blank lines only", "  \n\t\n\r\n   ", std::nullopt);
        row("tags only", "[0:00]\n[music]  \n [1:02]   ", std::nullopt);
        row("blank and tag lines skipped", "\n\n  [0:00]   \n[1:15]  Second line  \nthird", "Second line");
        row("CRLF lines", "\r\n\r\n  hello\r\nworld", "hello");
        row("bracket not at the start", "no tag ] here", "no tag ] here");
        row("unclosed tag kept", "[unclosed tag", "[unclosed tag");
        row("only the first tag goes", "[0:01] [laughs] ok", "[laughs] ok");
        row("100 characters cut and trimmed", a71 + ' ' + QString(28, QLatin1Char('b')), a71);
        row("72 characters kept", "[3:00] " + c72, c72);
        row("cut never splits a character", a71 + emoji + "zzz", a71 + emoji);
    }

    void firstSpokenLine()
    {
        QFETCH(QString, transcript);
        QTEST(AudioSessionTitle::firstSpokenLine(transcript), "line");
    }

    void sessionTitleAndOthers()
    {
        QCOMPARE(AudioSessionTitle::make("[0:00]\n\n", "[0:02] hi"), QString("hi"));
        QCOMPARE(AudioSessionTitle::make("  ", "[0:04]"), QString("Audio session"));
        using AudioOthersSelection::displayName;
        QCOMPARE(displayName(QString(), QString("Slack")), QString("This Computer"));
        QCOMPARE(displayName(QString("slack"), QString()), QString("slack"));
        QCOMPARE(displayName(QString("slack"), std::nullopt), QString("slack"));
        using AudioInputSelection::Choice;
        using AudioInputSelection::resolve;
        QCOMPARE(resolve(QString(), { "mic" }), (Choice { std::nullopt, false }));
        QCOMPARE(resolve(QString("mic"), { "usb", "mic" }), (Choice { QString("mic"), false }));
        QCOMPARE(resolve(QString("unplugged"), { "mic" }), (Choice { std::nullopt, true }));
    }

    // An application's helpers are its own ".helper" and ".Helper" children, nothing looser; the most
    // specific installed family wins.
    void family()
    {
        const QString p = QStringLiteral("com.example.Player");
        for (const char *suffix : { "", ".helper", ".Helper", ".helper.Renderer", ".Helper.GPU" })
            QVERIFY2(AudioOthersSelection::belongsToFamily(p + suffix, p), suffix);
        for (const char *suffix : { ".helperx", ".HELPER", ".Plugin", "Pro" })
            QVERIFY2(!AudioOthersSelection::belongsToFamily(p + suffix, p), suffix);
        QVERIFY(!AudioOthersSelection::belongsToFamily(p, p + ".helper"));
        QVERIFY(!AudioOthersSelection::belongsToFamily(".helper", QString()));
        using AudioOthersCatalog::preferredPrimaryBundleID;
        const QStringList installed { "", "org.example.App", "org.example.App.helper", "slack" };
        QCOMPARE(preferredPrimaryBundleID("org.example.App.helper.helper.GPU", installed),
            std::optional<QString>("org.example.App.helper"));
        QCOMPARE(preferredPrimaryBundleID("org.example.App.Helper", installed),
            std::optional<QString>("org.example.App"));
        QCOMPARE(preferredPrimaryBundleID("org.unknown.helper", installed), std::nullopt);
        QCOMPARE(preferredPrimaryBundleID(".helper", { "" }), std::nullopt);
    }

    // Known applications are usable desktop IDs, listed once and never excluded.
    void catalog()
    {
        static const QRegularExpression desktopID(QStringLiteral("^[A-Za-z0-9_-]+(\\.[A-Za-z0-9_-]+)*$"));
        QSet<QString> seen;
        for (const AudioOthersCatalogApp &app : AudioOthersCatalog::knownApps()) {
            QVERIFY2(desktopID.match(app.bundleID).hasMatch(), qPrintable(app.bundleID));
            QVERIFY2(!seen.contains(app.bundleID), qPrintable("listed twice: " + app.bundleID));
            QVERIFY2(!app.fallbackName.trimmed().isEmpty(), qPrintable(app.bundleID));
            QVERIFY2(
                !AudioOthersCatalog::isExcluded(app.bundleID, app.fallbackName), qPrintable(app.bundleID));
            seen.insert(app.bundleID);
        }
    }

    void phaseRawValuesRoundTrip()
    {
        for (Phase phase : AudioSessionPhases::allCases)
            QCOMPARE(AudioSessionPhases::fromRawValue(AudioSessionPhases::rawValue(phase)), phase);
        QCOMPARE(AudioSessionPhases::fromRawValue("Recording"), std::nullopt);
    }
};

QTEST_APPLESS_MAIN(TestAudioRules)
#include "tst_AudioRules.moc"

#include "Rules/AudioGates.h"
#include "Rules/AudioLevelMeter.h"
#include "Rules/AudioOthersSelection.h"
#include "Rules/AudioSessionPhase.h"
#include "Rules/AudioSessionTitle.h"
#include "Rules/MenuBarStatusPresentation.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <cmath>
#include <limits>

using Kind = AudioRecordingGate::Action::Kind;
using Decision = MicrophoneSpeechGate::Decision;

Q_DECLARE_METATYPE(AudioSessionPhase)
Q_DECLARE_METATYPE(AudioRecordingGate::Action)
Q_DECLARE_METATYPE(Decision)
Q_DECLARE_METATYPE(MenuBarRecordingPresence)
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr float notANumberF = std::numeric_limits<float>::quiet_NaN();
constexpr float infF = std::numeric_limits<float>::infinity();

const QString dash = QStringLiteral("\u2014");
const QString low = QStringLiteral("\u2582");
const QString half = QStringLiteral("\u2584");
const QString full = QStringLiteral("\u2588");

} // namespace

class TestAudioRules : public QObject
{
    Q_OBJECT

private slots:
    void levelBar_data()
    {
        QTest::addColumn<float>("level");
        QTest::addColumn<QString>("glyph");
        QTest::newRow("negative") << -0.5f << dash;
        QTest::newRow("zero") << 0.0f << dash;
        QTest::newRow("just below 0.001") << 0.000999f << dash;
        QTest::newRow("0.001") << 0.001f << low;
        QTest::newRow("just below 0.05") << 0.0499f << low;
        QTest::newRow("0.05") << 0.05f << half;
        QTest::newRow("just below 0.2") << 0.1999f << half;
        QTest::newRow("0.2") << 0.2f << full;
        QTest::newRow("above full scale") << 3.0f << full;
        QTest::newRow("NaN") << notANumberF << dash;
        QTest::newRow("+inf") << infF << full;
        QTest::newRow("-inf") << -infF << dash;
    }
    void levelBar()
    {
        QFETCH(float, level);
        QFETCH(QString, glyph);
        QCOMPARE(AudioLevelMeter::bar(level), glyph);
    }

    void timestamp_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("negative") << -12.0 << "0:00";
        QTest::newRow("NaN") << notANumber << "0:00";
        QTest::newRow("+inf") << inf << "0:00";
        QTest::newRow("-inf") << -inf << "0:00";
        QTest::newRow("zero") << 0.0 << "0:00";
        QTest::newRow("rounded down") << 59.999 << "0:59";
        QTest::newRow("one minute") << 60.0 << "1:00";
        QTest::newRow("75.9") << 75.9 << "1:15";
        QTest::newRow("just below an hour") << 3599.99 << "59:59";
        QTest::newRow("one hour stays minutes") << 3600.0 << "60:00";
        QTest::newRow("ten hours") << 36000.0 << "600:00";
    }
    void timestamp()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(AudioLevelMeter::timestamp(seconds), text);
    }

    void elapsedLabel_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("negative") << -3.0 << "0:00";
        QTest::newRow("tiny negative") << -0.0001 << "0:00";
        QTest::newRow("NaN") << notANumber << "0:00";
        QTest::newRow("+inf") << inf << "0:00";
        QTest::newRow("-inf") << -inf << "0:00";
        QTest::newRow("under a second") << 0.99 << "0:00";
        QTest::newRow("nine seconds") << 9.5 << "0:09";
        QTest::newRow("just below an hour") << 3599.999 << "59:59";
        QTest::newRow("exactly one hour") << 3600.0 << "1:00:00";
        QTest::newRow("hour, minute, second") << 3661.0 << "1:01:01";
        QTest::newRow("over a day") << 90061.0 << "25:01:01";
    }
    void elapsedLabel()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(AudioElapsed::label(seconds), text);
    }

    void hugeSecondsStayWellFormed()
    {
        static const QRegularExpression minutesForm(QStringLiteral("^\\d+:[0-5]\\d$"));
        static const QRegularExpression hoursForm(QStringLiteral("^\\d+:[0-5]\\d:[0-5]\\d$"));
        for (double seconds : { 1e15, 1e19, 1e300, std::numeric_limits<double>::max() }) {
            QVERIFY2(minutesForm.match(AudioLevelMeter::timestamp(seconds)).hasMatch(),
                qPrintable(AudioLevelMeter::timestamp(seconds)));
            QVERIFY2(hoursForm.match(AudioElapsed::label(seconds)).hasMatch(),
                qPrintable(AudioElapsed::label(seconds)));
        }
    }

    void speechGate_data()
    {
        QTest::addColumn<float>("youPeak");
        QTest::addColumn<float>("othersPeak");
        QTest::addColumn<bool>("includeYou");
        QTest::addColumn<Decision>("decision");
        QTest::newRow("off wins over everything") << 0.9f << 0.0f << false << Decision::skipDisabled;
        QTest::newRow("off even when quiet") << 0.0f << 0.0f << false << Decision::skipDisabled;
        QTest::newRow("quiet before bleed") << 0.039f << 0.9f << true << Decision::skipQuiet;
        QTest::newRow("0.04 is not quiet") << 0.04f << 0.0f << true << Decision::transcribe;
        QTest::newRow("bleed") << 0.05f << 0.6f << true << Decision::skipBleed;
        QTest::newRow("a tenth exactly is speech") << 0.0625f << 0.625f << true << Decision::transcribe;
        QTest::newRow("loud others, louder you") << 0.5f << 0.9f << true << Decision::transcribe;
        QTest::newRow("NaN you proves nothing") << notANumberF << 0.9f << true << Decision::transcribe;
        QTest::newRow("NaN others proves nothing") << 0.05f << notANumberF << true << Decision::transcribe;
        QTest::newRow("infinite others proves nothing") << 0.05f << infF << true << Decision::transcribe;
        QTest::newRow("-inf you is quiet") << -infF << 0.0f << true << Decision::skipQuiet;
    }
    void speechGate()
    {
        QFETCH(float, youPeak);
        QFETCH(float, othersPeak);
        QFETCH(bool, includeYou);
        QFETCH(Decision, decision);
        QCOMPARE(MicrophoneSpeechGate::decision(youPeak, othersPeak, includeYou), decision);
    }

    void recordingGate_data()
    {
        QTest::addColumn<AudioSessionPhase>("phase");
        QTest::addColumn<bool>("setupComplete");
        QTest::addColumn<bool>("hasFolder");
        QTest::addColumn<bool>("supported");
        QTest::addColumn<std::optional<QString>>("bundleID");
        QTest::addColumn<std::optional<QString>>("name");
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("reviewOpen");
        QTest::addColumn<AudioRecordingGate::Action>("action");

        const auto of = AudioRecordingGate::Action::of;
        const std::optional<QString> none;
        const std::optional<QString> slack = QStringLiteral("slack");
        const std::optional<QString> slackName = QStringLiteral("Slack");
        for (AudioSessionPhase phase :
            { AudioSessionPhase::starting, AudioSessionPhase::recording, AudioSessionPhase::stopping,
                AudioSessionPhase::transcribing, AudioSessionPhase::reviewing }) {
            QTest::addRow("%s stops whatever else holds", qPrintable(AudioSessionPhases::rawValue(phase)))
                << phase << false << false << false << slack << slackName << false << true << of(Kind::stop);
        }
        for (AudioSessionPhase phase :
            { AudioSessionPhase::idle, AudioSessionPhase::saved, AudioSessionPhase::failed }) {
            QTest::addRow("%s begins", qPrintable(AudioSessionPhases::rawValue(phase)))
                << phase << true << true << true << none << none << false << false << of(Kind::begin);
        }
        const auto idle = AudioSessionPhase::idle;
        QTest::newRow("unsupported before setup")
            << idle << false << false << false << none << none << true << true << of(Kind::unsupported);
        QTest::newRow("setup before folder")
            << idle << false << false << true << none << none << true << true << of(Kind::requestSetup);
        QTest::newRow("folder before review")
            << idle << true << false << true << none << none << true << true << of(Kind::requestFolder);
        QTest::newRow("review before source") << idle << true << true << true << slack << slackName << false
                                              << true << of(Kind::blockedByReview);
        QTest::newRow("empty ID is the whole computer")
            << idle << true << true << true << std::optional<QString>(QString()) << slackName << false
            << false << of(Kind::begin);
        QTest::newRow("running application")
            << idle << true << true << true << slack << slackName << true << false << of(Kind::begin);
        QTest::newRow("not running, named") << idle << true << true << true << slack << slackName << false
                                            << false << AudioRecordingGate::Action::requestSource("Slack");
        QTest::newRow("not running, empty name")
            << idle << true << true << true << slack << std::optional<QString>(QString()) << false << false
            << AudioRecordingGate::Action::requestSource("slack");
        QTest::newRow("not running, no name") << idle << true << true << true << slack << none << false
                                              << false << AudioRecordingGate::Action::requestSource("slack");
    }
    void recordingGate()
    {
        QFETCH(AudioSessionPhase, phase);
        QFETCH(bool, setupComplete);
        QFETCH(bool, hasFolder);
        QFETCH(bool, supported);
        QFETCH(std::optional<QString>, bundleID);
        QFETCH(std::optional<QString>, name);
        QFETCH(bool, running);
        QFETCH(bool, reviewOpen);
        QFETCH(AudioRecordingGate::Action, action);
        const auto answer = AudioRecordingGate::action(
            phase, setupComplete, hasFolder, supported, bundleID, name, running, reviewOpen);
        QCOMPARE(int(answer.kind), int(action.kind));
        QCOMPARE(answer.displayName, action.displayName);
    }

    void firstSpokenLine_data()
    {
        QTest::addColumn<QString>("transcript");
        QTest::addColumn<std::optional<QString>>("line");
        const std::optional<QString> none;
        const QString hundred
            = QString(71, QLatin1Char('a')) + QLatin1Char(' ') + QString(28, QLatin1Char('b'));
        const QString seventyTwo = QString(72, QLatin1Char('c'));
        const QString emoji = QStringLiteral("\U0001F44D\U0001F3FD"); // one character, four UTF-16 units
        QTest::newRow("empty") << QString() << none;
        QTest::newRow("blank lines only") << "  \n\t\n\r\n   " << none;
        QTest::newRow("tags only") << "[0:00]\n[music]  \n [1:02]   " << none;
        QTest::newRow("timestamp dropped") << "[0:05] hello there" << std::optional<QString>("hello there");
        QTest::newRow("blank and tag lines skipped")
            << "\n\n  [0:00]   \n[1:15]  Second line  \nthird" << std::optional<QString>("Second line");
        QTest::newRow("CRLF lines") << "\r\n\r\n  hello\r\nworld" << std::optional<QString>("hello");
        QTest::newRow("bracket not at the start")
            << "no tag ] here" << std::optional<QString>("no tag ] here");
        QTest::newRow("unclosed tag kept") << "[unclosed tag" << std::optional<QString>("[unclosed tag");
        QTest::newRow("only the first tag goes")
            << "[0:01] [laughs] ok" << std::optional<QString>("[laughs] ok");
        QTest::newRow("100 characters cut and trimmed")
            << hundred << std::optional<QString>(QString(71, QLatin1Char('a')));
        QTest::newRow("72 characters kept") << "[3:00] " + seventyTwo << std::optional<QString>(seventyTwo);
        QTest::newRow("cut never splits a character") << QString(71, QLatin1Char('a')) + emoji
                + "zzz" << std::optional<QString>(QString(71, QLatin1Char('a')) + emoji);
    }
    void firstSpokenLine()
    {
        QFETCH(QString, transcript);
        QFETCH(std::optional<QString>, line);
        QCOMPARE(AudioSessionTitle::firstSpokenLine(transcript), line);
    }

    void sessionTitle()
    {
        QCOMPARE(
            AudioSessionTitle::make("[0:01] Welcome everyone", "[0:02] hi"), QString("Welcome everyone"));
        QCOMPARE(AudioSessionTitle::make("[0:00]\n\n", "[0:02] hi"), QString("hi"));
        QCOMPARE(AudioSessionTitle::make("  ", "[0:04]"), QString("Audio session"));
    }

    void othersDisplayName()
    {
        using AudioOthersSelection::displayName;
        QCOMPARE(displayName(std::nullopt, QString("Slack")), QString("This Computer"));
        QCOMPARE(displayName(QString(), QString("Slack")), QString("This Computer"));
        QCOMPARE(displayName(QString("slack"), QString("Slack")), QString("Slack"));
        QCOMPARE(displayName(QString("slack"), QString()), QString("slack"));
        QCOMPARE(displayName(QString("slack"), std::nullopt), QString("slack"));
    }

    void family_data()
    {
        QTest::addColumn<QString>("candidate");
        QTest::addColumn<QString>("primary");
        QTest::addColumn<bool>("belongs");
        const QString p = QStringLiteral("com.example.Player");
        QTest::newRow("itself") << p << p << true;
        QTest::newRow(".helper") << p + ".helper" << p << true;
        QTest::newRow(".Helper") << p + ".Helper" << p << true;
        QTest::newRow(".helper.Renderer") << p + ".helper.Renderer" << p << true;
        QTest::newRow(".Helper.GPU") << p + ".Helper.GPU" << p << true;
        QTest::newRow(".helperx") << p + ".helperx" << p << false;
        QTest::newRow(".HELPER") << p + ".HELPER" << p << false;
        QTest::newRow("other child") << p + ".Plugin" << p << false;
        QTest::newRow("longer name") << p + "Pro" << p << false;
        QTest::newRow("someone else's helper") << "com.example.Other.helper" << p << false;
        QTest::newRow("primary is the helper") << p << p + ".helper" << false;
        QTest::newRow("empty primary") << QString() << QString() << false;
        QTest::newRow("anything under empty primary") << ".helper" << QString() << false;
    }
    void family()
    {
        QFETCH(QString, candidate);
        QFETCH(QString, primary);
        QFETCH(bool, belongs);
        QCOMPARE(AudioOthersSelection::belongsToFamily(candidate, primary), belongs);
    }

    void preferredPrimary()
    {
        using AudioOthersCatalog::preferredPrimaryBundleID;
        const QStringList installed { "", "org.example.App", "org.example.App.helper",
            "org.example.Apx.helper", "slack" };
        QCOMPARE(preferredPrimaryBundleID("slack", installed), std::optional<QString>("slack"));
        // The helper's own family is the longer, more specific match.
        QCOMPARE(preferredPrimaryBundleID("org.example.App.helper.helper.GPU", installed),
            std::optional<QString>("org.example.App.helper"));
        QCOMPARE(preferredPrimaryBundleID("org.example.App.Helper", installed),
            std::optional<QString>("org.example.App"));
        QCOMPARE(preferredPrimaryBundleID("org.unknown.helper", installed), std::nullopt);
        QCOMPARE(preferredPrimaryBundleID("x.helper", { "x", "y", "x" }), std::optional<QString>("x"));
        QCOMPARE(preferredPrimaryBundleID(".helper", { "" }), std::nullopt);
    }

    void excluded_data()
    {
        QTest::addColumn<QString>("bundleID");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("excluded");
        QTest::newRow("ordinary") << "org.mozilla.firefox"
                                  << "Firefox" << false;
        QTest::newRow("test build") << "org.example.browser"
                                    << "Browser for Testing" << true;
        QTest::newRow("preview, any case") << "org.example.web"
                                           << "Web TECHNOLOGY Preview" << true;
        QTest::newRow("simulator") << "org.example.sim"
                                   << "Phone Simulator" << true;
        QTest::newRow("browser launcher") << "xfce4-web-browser"
                                          << "Web Browser" << true;
        QTest::newRow("ourselves") << "com.quorvel.dovrin"
                                   << "Quorvel" << true;
    }
    void excluded()
    {
        QFETCH(QString, bundleID);
        QFETCH(QString, name);
        QFETCH(bool, excluded);
        QCOMPARE(AudioOthersCatalog::isExcluded(bundleID, name), excluded);
    }

    void catalogEntriesAreUsableDesktopIDs()
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
        for (const char *flatpak :
            { "us.zoom.Zoom", "com.slack.Slack", "org.mozilla.firefox", "com.spotify.Client" })
            QVERIFY2(seen.contains(QLatin1String(flatpak)), flatpak);
    }

    void inputSelection()
    {
        using AudioInputSelection::Choice;
        using AudioInputSelection::resolve;
        const QStringList available { "alsa_input.usb-mic", "mic" };
        QCOMPARE(resolve(std::nullopt, available), (Choice { std::nullopt, false }));
        QCOMPARE(resolve(QString(), available), (Choice { std::nullopt, false }));
        QCOMPARE(resolve(QString("mic"), available), (Choice { QString("mic"), false }));
        QCOMPARE(resolve(QString("unplugged"), available), (Choice { std::nullopt, true }));
        QCOMPARE(resolve(QString("mic"), {}), (Choice { std::nullopt, true }));
    }

    void menuBarStatus_data()
    {
        QTest::addColumn<AudioSessionPhase>("phase");
        QTest::addColumn<MenuBarRecordingPresence>("presence");
        QTest::addColumn<bool>("active");
        QTest::addColumn<bool>("showsElapsed");
        QTest::addColumn<QString>("elapsedLabel");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("value");
        const auto compact = MenuBarRecordingPresence::compact;
        const auto elapsed = MenuBarRecordingPresence::elapsed;
        for (AudioSessionPhase phase : { AudioSessionPhase::idle, AudioSessionPhase::transcribing,
                 AudioSessionPhase::reviewing, AudioSessionPhase::saved, AudioSessionPhase::failed }) {
            QTest::addRow("%s", qPrintable(AudioSessionPhases::rawValue(phase)))
                << phase << elapsed << false << false << "0:00"
                << "Quorvel"
                << "";
        }
        QTest::newRow("starting, elapsed") << AudioSessionPhase::starting << elapsed << true << true << "0:00"
                                           << "Starting recording"
                                           << "0:00";
        QTest::newRow("recording, compact")
            << AudioSessionPhase::recording << compact << true << false << "1:00:05"
            << "Recording audio"
            << "1:00:05";
        QTest::newRow("stopping, elapsed")
            << AudioSessionPhase::stopping << elapsed << true << true << "1:00:05"
            << "Recording audio"
            << "1:00:05";
    }
    void menuBarStatus()
    {
        QFETCH(AudioSessionPhase, phase);
        QFETCH(MenuBarRecordingPresence, presence);
        const auto presentation = MenuBarStatusPresentation::resolve(phase, 3605.7, presence);
        QTEST(presentation.isActive, "active");
        QTEST(presentation.showsElapsed, "showsElapsed");
        QTEST(presentation.elapsedLabel, "elapsedLabel");
        QTEST(presentation.accessibilityLabel, "label");
        QTEST(presentation.accessibilityValue, "value");
    }

    void phaseRawValuesRoundTrip()
    {
        QSet<QString> raws;
        for (AudioSessionPhase phase : AudioSessionPhases::allCases) {
            raws.insert(AudioSessionPhases::rawValue(phase));
            QCOMPARE(AudioSessionPhases::fromRawValue(AudioSessionPhases::rawValue(phase)), phase);
        }
        QCOMPARE(raws.size(), qsizetype(AudioSessionPhases::allCases.size()));
        QCOMPARE(AudioSessionPhases::fromRawValue("Recording"), std::nullopt);
    }
};

QTEST_APPLESS_MAIN(TestAudioRules)
#include "tst_AudioRules.moc"

#include "Rules/LaunchAtLoginPresentation.h"
#include "Rules/PermissionPresentation.h"

#include <QSet>
#include <QTest>

using St = PermissionStatus;
using Tone = PermissionFeedbackTone;

class TestPermissionRules : public QObject
{
    Q_OBJECT

private slots:
    // Whatever the inputs, a row has a title and a detail, offers the settings, never both buttons and
    // never a relaunch.
    void everyRowIsComplete()
    {
        namespace R = PermissionPresentationResolver;
        using Fact = MicrophoneAuthorizationFact;
        QList<PermissionPresentation> rows;
        for (int bits = 0; bits < 8; ++bits)
            rows << R::screen(bits & 1, bits & 2, bits & 4) << R::controlScrolling(bits & 1, bits & 2);
        for (auto observation : { SystemAudioObservation::neverAttempted,
                 SystemAudioObservation::lastStartSucceeded, SystemAudioObservation::lastStartFailed })
            rows << R::systemAudio(observation);
        for (Fact fact :
            { Fact::authorized, Fact::notDetermined, Fact::denied, Fact::restricted, Fact::unknown }) {
            rows << R::microphone(fact, true);
            // Only the explanation follows the record-You switch, so the row must still change with it.
            QVERIFY(R::microphone(fact, true).detail != R::microphone(fact, false).detail);
        }
        for (const PermissionPresentation &row : rows) {
            QVERIFY(!row.statusTitle.isEmpty() && !row.detail.isEmpty());
            // Only the sound settings can change a check's answer; the others depend on the session.
            QCOMPARE(row.showsOpenSettings,
                row.kind == PermissionKind::systemAudio || row.kind == PermissionKind::microphone);
            QVERIFY(!row.mayNeedRelaunch);
            QVERIFY(!(row.showsRequestAccess && row.showsCheckAgain));
        }
        // A grant that worked before asks to be allowed again; an undecided microphone can be asked.
        QCOMPARE(R::screen(false, true, true).status, St::allowAgain);
        QCOMPARE(R::screen(false, true, true).requestActionTitle(), QString("Allow Again"));
        QVERIFY(R::microphone(Fact::notDetermined, true).showsRequestAccess);
    }

    // Sentences are joined with one period between them, whatever the parts end with.
    void afterCheck()
    {
        using PermissionFeedbackCopy::afterCheck;
        QCOMPARE(afterCheck(PermissionKind::screenRecording, St::notAllowed, St::notAllowed, true).text,
            QString("Returned from System Settings. Screen Recording is still not allowed."));
        QCOMPARE(afterCheck(PermissionKind::systemAudio, St::unverified, St::unverified, true).text,
            QString("Returned from System Settings. System Audio could not be verified. Start a recording to "
                    "try again."));
        QCOMPARE(afterCheck(PermissionKind::screenRecording, St::allowed, St::allowAgain, false).text,
            QString("Screen Recording is no longer allowed"));
        QCOMPARE(afterCheck(PermissionKind::microphone, St::notRequested, St::restricted, false).tone,
            Tone::failure);
    }

    // Only an allowed permission is ever reported as a success.
    void everyCheckSaysSomething()
    {
        for (PermissionKind kind : PermissionKinds::allCases) {
            QVERIFY(!PermissionFeedbackCopy::settingsOpened(kind).text.isEmpty());
            QSet<QString> helps;
            for (St previous : PermissionStatuses::allCases) {
                for (St current : PermissionStatuses::allCases) {
                    for (bool returning : { false, true }) {
                        const auto feedback
                            = PermissionFeedbackCopy::afterCheck(kind, previous, current, returning);
                        QVERIFY(!feedback.text.isEmpty());
                        QCOMPARE(feedback.tone == Tone::success, current == St::allowed);
                    }
                }
                // Only a prompt's yes may speak of an acceptance, and only while the row is not allowed.
                for (bool accepted : { false, true }) {
                    const auto feedback = PermissionFeedbackCopy::afterRequest(kind, previous, accepted);
                    QVERIFY(!feedback.text.isEmpty());
                    QCOMPARE(feedback.text.contains("accepted"),
                        accepted && previous != PermissionStatus::allowed);
                    QCOMPARE(feedback.tone == PermissionFeedbackTone::success,
                        previous == PermissionStatus::allowed);
                }
                PermissionPresentation row;
                row.kind = kind;
                row.status = previous;
                QVERIFY(row.requestActionAccessibilityLabel().contains(PermissionKinds::title(kind)));
                helps.insert(row.requestActionHelp());
            }
            QCOMPARE(helps.size(), 2); // one for asking, one for asking again
        }
    }

    void afterRequest()
    {
        using PermissionFeedbackCopy::afterRequest;
        QCOMPARE(afterRequest(PermissionKind::screenRecording, PermissionStatus::allowed, false).text,
            QString("Screen Recording is allowed"));
        // On X11 only another session changes the answer: the line says what that takes.
        for (PermissionKind kind : { PermissionKind::screenRecording, PermissionKind::controlScrolling }) {
            const auto missing = afterRequest(kind, PermissionStatus::notAllowed, false);
            QCOMPARE(missing.tone, PermissionFeedbackTone::warning);
            QVERIFY(missing.text.contains("X11 (Xorg) session"));
        }
        QCOMPARE(afterRequest(PermissionKind::microphone, PermissionStatus::restricted, false).tone,
            PermissionFeedbackTone::failure);
        const auto refused = afterRequest(PermissionKind::microphone, PermissionStatus::notAllowed, false);
        QCOMPARE(refused.tone, PermissionFeedbackTone::warning);
        // On Linux nothing refuses the microphone: the sound server has none.
        QVERIFY(refused.text.startsWith("No microphone is connected"));
    }

    // Launch at login: an error shows with any status and changes nothing else; an empty one is none.
    void launchAtLoginError()
    {
        const QString failed = LaunchAtLoginPresentation::updateFailedMessage();
        for (LaunchAtLoginStatus status : LaunchAtLoginStatuses::allCases) {
            const auto row = LaunchAtLoginPresentation::resolve(status, std::nullopt);
            QCOMPARE(LaunchAtLoginPresentation::resolve(status, QString()), row);
            auto withError = LaunchAtLoginPresentation::resolve(status, failed);
            QCOMPARE(withError.errorMessage, std::optional<QString>(failed));
            withError.errorMessage.reset();
            QCOMPARE(withError, row);
        }
    }
};

QTEST_APPLESS_MAIN(TestPermissionRules)
#include "tst_PermissionRules.moc"

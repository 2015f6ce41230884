#include "Rules/LaunchAtLoginPresentation.h"
#include "Rules/PermissionPresentation.h"

#include <QSet>
#include <QTest>

Q_DECLARE_METATYPE(PermissionKind)
Q_DECLARE_METATYPE(PermissionStatus)
Q_DECLARE_METATYPE(PermissionFeedbackTone)
Q_DECLARE_METATYPE(MicrophoneAuthorizationFact)
Q_DECLARE_METATYPE(LaunchAtLoginStatus)

namespace {

// What every row offers whatever its state.
void verifyCommon(const PermissionPresentation &row, PermissionKind kind)
{
    QCOMPARE(row.kind, kind);
    QVERIFY(!row.statusTitle.isEmpty());
    QVERIFY(!row.detail.isEmpty());
    QVERIFY(row.showsOpenSettings);
    QVERIFY(!row.mayNeedRelaunch);
    QVERIFY(!(row.showsRequestAccess && row.showsCheckAgain));
}

} // namespace

class TestPermissionRules : public QObject
{
    Q_OBJECT

private slots:
    void screenRow_data()
    {
        QTest::addColumn<bool>("preflight");
        QTest::addColumn<bool>("requested");
        QTest::addColumn<bool>("granted");
        QTest::addColumn<PermissionStatus>("status");
        for (int bits = 0; bits < 8; ++bits) {
            const bool preflight = bits & 1, requested = bits & 2, granted = bits & 4;
            const PermissionStatus status = preflight ? PermissionStatus::allowed
                : granted                             ? PermissionStatus::allowAgain
                : requested                           ? PermissionStatus::notAllowed
                                                      : PermissionStatus::notRequested;
            QTest::addRow("preflight %d requested %d granted %d", preflight, requested, granted)
                << preflight << requested << granted << status;
        }
    }
    void screenRow()
    {
        QFETCH(bool, preflight);
        QFETCH(bool, requested);
        QFETCH(bool, granted);
        QFETCH(PermissionStatus, status);
        const PermissionPresentation row
            = PermissionPresentationResolver::screen(preflight, requested, granted);
        verifyCommon(row, PermissionKind::screenRecording);
        QCOMPARE(row.status, status);
        QCOMPARE(row.showsRequestAccess, !preflight);
        QCOMPARE(row.showsCheckAgain, preflight);
    }

    void scrollingRow()
    {
        using PermissionPresentationResolver::controlScrolling;
        const struct
        {
            bool preflight, requested;
            PermissionStatus status;
        } cases[] = {
            { true, false, PermissionStatus::allowed },
            { true, true, PermissionStatus::allowed },
            { false, true, PermissionStatus::notAllowed },
            { false, false, PermissionStatus::notRequested },
        };
        for (const auto &c : cases) {
            const PermissionPresentation row = controlScrolling(c.preflight, c.requested);
            verifyCommon(row, PermissionKind::controlScrolling);
            QCOMPARE(row.status, c.status);
            QCOMPARE(row.showsRequestAccess, !c.preflight);
            QCOMPARE(row.showsCheckAgain, c.preflight);
        }
    }

    void systemAudioRow()
    {
        using PermissionPresentationResolver::systemAudio;
        const PermissionPresentation never = systemAudio(SystemAudioObservation::neverAttempted);
        const PermissionPresentation worked = systemAudio(SystemAudioObservation::lastStartSucceeded);
        const PermissionPresentation failed = systemAudio(SystemAudioObservation::lastStartFailed);
        for (const PermissionPresentation &row : { never, worked, failed }) {
            verifyCommon(row, PermissionKind::systemAudio);
            QVERIFY(!row.showsRequestAccess);
            QVERIFY(!row.showsCheckAgain);
        }
        QCOMPARE(never.status, PermissionStatus::notRequested);
        QCOMPARE(worked.status, PermissionStatus::allowed);
        QCOMPARE(worked.statusTitle, QString("Worked last time"));
        QCOMPARE(failed.status, PermissionStatus::unverified);
        QCOMPARE(failed.statusTitle, QString("Could not verify"));
    }

    void microphoneRow_data()
    {
        QTest::addColumn<MicrophoneAuthorizationFact>("fact");
        QTest::addColumn<PermissionStatus>("status");
        QTest::newRow("authorized") << MicrophoneAuthorizationFact::authorized << PermissionStatus::allowed;
        QTest::newRow("not determined")
            << MicrophoneAuthorizationFact::notDetermined << PermissionStatus::notRequested;
        QTest::newRow("denied") << MicrophoneAuthorizationFact::denied << PermissionStatus::notAllowed;
        QTest::newRow("restricted") << MicrophoneAuthorizationFact::restricted
                                    << PermissionStatus::restricted;
        QTest::newRow("unknown") << MicrophoneAuthorizationFact::unknown << PermissionStatus::unverified;
    }
    void microphoneRow()
    {
        QFETCH(MicrophoneAuthorizationFact, fact);
        QFETCH(PermissionStatus, status);
        const PermissionPresentation on = PermissionPresentationResolver::microphone(fact, true);
        const PermissionPresentation off = PermissionPresentationResolver::microphone(fact, false);
        for (const PermissionPresentation &row : { on, off }) {
            verifyCommon(row, PermissionKind::microphone);
            QCOMPARE(row.status, status);
            QCOMPARE(row.statusTitle, PermissionStatuses::title(status));
            QCOMPARE(row.showsRequestAccess, fact == MicrophoneAuthorizationFact::notDetermined);
            QCOMPARE(row.showsCheckAgain, fact != MicrophoneAuthorizationFact::notDetermined);
        }
        // Only the explanation follows the record-You switch, so the row must still change with it.
        QVERIFY(on.detail != off.detail);
        QVERIFY(on != off);
    }

    void requestAction()
    {
        for (PermissionKind kind : PermissionKinds::allCases) {
            const QString name = PermissionKinds::title(kind);
            QSet<QString> helps;
            for (PermissionStatus status : PermissionStatuses::allCases) {
                PermissionPresentation row;
                row.kind = kind;
                row.status = status;
                const bool again = status == PermissionStatus::allowAgain;
                QCOMPARE(
                    row.requestActionTitle(), again ? QString("Allow Again") : QString("Request Access"));
                QVERIFY2(row.requestActionAccessibilityLabel().contains(name), qPrintable(name));
                QVERIFY(!row.requestActionHelp().isEmpty());
                helps.insert(row.requestActionHelp());
            }
            QCOMPARE(helps.size(), 2); // one for asking, one for asking again
        }
    }

    void afterCheck_data()
    {
        QTest::addColumn<PermissionKind>("kind");
        QTest::addColumn<PermissionStatus>("previous");
        QTest::addColumn<PermissionStatus>("current");
        QTest::addColumn<bool>("returning");
        QTest::addColumn<QString>("text");
        QTest::addColumn<PermissionFeedbackTone>("tone");
        const auto screen = PermissionKind::screenRecording;
        const auto scrolling = PermissionKind::controlScrolling;
        const auto mic = PermissionKind::microphone;
        QTest::newRow("became allowed")
            << screen << PermissionStatus::notAllowed << PermissionStatus::allowed << false
            << "Screen Recording is allowed" << PermissionFeedbackTone::success;
        QTest::newRow("still allowed")
            << mic << PermissionStatus::allowed << PermissionStatus::allowed << false
            << "Microphone is still allowed" << PermissionFeedbackTone::success;
        QTest::newRow("allowed after settings")
            << scrolling << PermissionStatus::notAllowed << PermissionStatus::allowed << true
            << "Control Scrolling is allowed" << PermissionFeedbackTone::success;
        QTest::newRow("lost") << screen << PermissionStatus::allowed << PermissionStatus::allowAgain << false
                              << "Screen Recording is no longer allowed" << PermissionFeedbackTone::warning;
        QTest::newRow("unchanged refusal")
            << scrolling << PermissionStatus::notAllowed << PermissionStatus::notAllowed << false
            << "Control Scrolling is still not allowed" << PermissionFeedbackTone::warning;
        QTest::newRow("refusal after settings")
            << screen << PermissionStatus::notAllowed << PermissionStatus::notAllowed << true
            << "Returned from System Settings. Screen Recording is still not allowed."
            << PermissionFeedbackTone::warning;
        QTest::newRow("newly refused")
            << mic << PermissionStatus::notRequested << PermissionStatus::notAllowed << false
            << "Microphone is not allowed" << PermissionFeedbackTone::warning;
        QTest::newRow("restricted") << mic << PermissionStatus::notRequested << PermissionStatus::restricted
                                    << false << "Microphone is restricted on this computer"
                                    << PermissionFeedbackTone::failure;
        QTest::newRow("two sentences keep one period")
            << PermissionKind::systemAudio << PermissionStatus::unverified << PermissionStatus::unverified
            << true
            << "Returned from System Settings. System Audio could not be verified. Start a recording to try "
               "again."
            << PermissionFeedbackTone::warning;
    }
    void afterCheck()
    {
        QFETCH(PermissionKind, kind);
        QFETCH(PermissionStatus, previous);
        QFETCH(PermissionStatus, current);
        QFETCH(bool, returning);
        const PermissionFeedback feedback
            = PermissionFeedbackCopy::afterCheck(kind, previous, current, returning);
        QTEST(feedback.text, "text");
        QTEST(feedback.tone, "tone");
    }

    void everyCheckSaysSomething()
    {
        for (PermissionKind kind : PermissionKinds::allCases) {
            QVERIFY(!PermissionFeedbackCopy::settingsOpened(kind).text.isEmpty());
            for (PermissionStatus previous : PermissionStatuses::allCases) {
                for (PermissionStatus current : PermissionStatuses::allCases) {
                    for (bool returning : { false, true }) {
                        const auto feedback
                            = PermissionFeedbackCopy::afterCheck(kind, previous, current, returning);
                        QVERIFY(!feedback.text.isEmpty());
                        QCOMPARE(feedback.tone == PermissionFeedbackTone::success,
                            current == PermissionStatus::allowed);
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
            }
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
        QVERIFY(refused.text.startsWith("Microphone was not allowed"));
    }

    void kindRawValuesRoundTrip()
    {
        for (PermissionKind kind : PermissionKinds::allCases)
            QCOMPARE(PermissionKinds::fromRawValue(PermissionKinds::rawValue(kind)), kind);
        QCOMPARE(PermissionKinds::rawValue(PermissionKind::controlScrolling), QString("controlScrolling"));
        QCOMPARE(PermissionKinds::fromRawValue("screen"), std::nullopt);
        for (LaunchAtLoginStatus status : LaunchAtLoginStatuses::allCases)
            QCOMPARE(LaunchAtLoginStatuses::fromRawValue(LaunchAtLoginStatuses::rawValue(status)), status);
        QCOMPARE(LaunchAtLoginStatuses::rawValue(LaunchAtLoginStatus::requiresApproval),
            QString("requiresApproval"));
        QCOMPARE(LaunchAtLoginStatuses::fromRawValue("Enabled"), std::nullopt);
    }

    void launchAtLoginRow_data()
    {
        QTest::addColumn<LaunchAtLoginStatus>("status");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("unavailable");
        QTest::addColumn<bool>("openLoginItems");
        QTest::addColumn<bool>("hasDetail");
        QTest::addColumn<bool>("registers");
        QTest::addColumn<bool>("unregisters");
        QTest::newRow("pending") << LaunchAtLoginStatus::pending << false << true << false << false << false
                                 << false;
        QTest::newRow("not registered")
            << LaunchAtLoginStatus::notRegistered << false << false << false << false << true << false;
        QTest::newRow("enabled") << LaunchAtLoginStatus::enabled << true << false << false << false << false
                                 << true;
        QTest::newRow("requires approval")
            << LaunchAtLoginStatus::requiresApproval << true << false << true << true << false << true;
        QTest::newRow("not found") << LaunchAtLoginStatus::notFound << false << true << false << true << false
                                   << false;
    }
    void launchAtLoginRow()
    {
        QFETCH(LaunchAtLoginStatus, status);
        const auto row = LaunchAtLoginPresentation::resolve(status, std::nullopt);
        QCOMPARE(row.status, status);
        QTEST(row.isEnabled, "enabled");
        QTEST(row.isUnavailable, "unavailable");
        QTEST(row.showsOpenLoginItems, "openLoginItems");
        QTEST(row.detail.has_value(), "hasDetail");
        QCOMPARE(row.errorMessage, std::nullopt);
        QTEST(LaunchAtLoginMutation::shouldRegister(status), "registers");
        QTEST(LaunchAtLoginMutation::shouldUnregister(status), "unregisters");

        const QString failed = LaunchAtLoginPresentation::updateFailedMessage();
        const auto withError = LaunchAtLoginPresentation::resolve(status, failed);
        QCOMPARE(withError.errorMessage, std::optional<QString>(failed));
        QCOMPARE(LaunchAtLoginPresentation::resolve(status, QString()).errorMessage, std::nullopt);
        auto withoutError = withError;
        withoutError.errorMessage.reset();
        QCOMPARE(withoutError, row);
    }
};

QTEST_APPLESS_MAIN(TestPermissionRules)
#include "tst_PermissionRules.moc"

#include "Rules/CapturePhase.h"

#include <QSet>
#include <QTest>

namespace {

using Action = CaptureInvocation::Action;
using P = CapturePhase;
using S = ScreenPermissionState;

QString actionName(Action action)
{
    switch (action) {
    case Action::beginNew:
        return "beginNew";
    case Action::focusSelection:
        return "focusSelection";
    case Action::focusReview:
        return "focusReview";
    case Action::requestPermission:
        return "requestPermission";
    case Action::requestSetup:
        return "requestSetup";
    case Action::blockedByAudio:
        return "blockedByAudio";
    case Action::ignore:
        return "ignore";
    }
    return "?";
}

constexpr std::array<S, 4> allPermissions { S::granted, S::revoked, S::denied, S::requestable };

// The changes a capture may make, besides staying where it is.
const QSet<QString> allowedChanges {
    "idle>selecting",
    "idle>needsPermission",
    "idle>review",
    "selecting>captured",
    "selecting>canceled",
    "captured>ocrProcessing",
    "captured>canceled",
    "ocrProcessing>review",
    "ocrProcessing>needsOCR",
    "ocrProcessing>canceled",
    "review>ocrProcessing",
    "review>saving",
    "review>canceled",
    "needsOCR>ocrProcessing",
    "needsOCR>saving",
    "needsOCR>canceled",
    "saving>saved",
    "saving>destinationUnavailable",
    "saving>saveFailed",
    "saved>idle",
    "saved>selecting",
    "saved>canceled",
    "canceled>idle",
    "canceled>selecting",
    "needsPermission>idle",
    "needsPermission>selecting",
    "destinationUnavailable>review",
    "destinationUnavailable>saving",
    "destinationUnavailable>canceled",
    "saveFailed>saving",
    "saveFailed>canceled",
};

} // namespace

class TestCapturePhase : public QObject
{
    Q_OBJECT

private slots:
    void rawValuesRoundTrip()
    {
        QSet<QString> seen;
        for (P phase : CapturePhases::allCases) {
            const QString raw = CapturePhases::rawValue(phase);
            QVERIFY(!raw.isEmpty());
            QVERIFY2(!seen.contains(raw), qPrintable(raw));
            seen.insert(raw);
            QVERIFY(CapturePhases::fromRawValue(raw) == phase);
        }
        QCOMPARE(CapturePhases::rawValue(P::ocrProcessing), QString("ocrProcessing"));
        QVERIFY(!CapturePhases::fromRawValue("Idle"));
        QVERIFY(!CapturePhases::fromRawValue(""));
    }

    void transitionTable_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<bool>("allowed");
        int rows = 0;
        for (P from : CapturePhases::allCases) {
            for (P to : CapturePhases::allCases) {
                const QString key = CapturePhases::rawValue(from) + ">" + CapturePhases::rawValue(to);
                QTest::newRow(qPrintable(key))
                    << int(from) << int(to) << (from == to || allowedChanges.contains(key));
                ++rows;
            }
        }
        QCOMPARE(rows, 144);
    }

    void transitionTable()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(bool, allowed);
        QCOMPARE(CapturePhaseTransition::allows(P(from), P(to)), allowed);
    }

    void screenPermissionResolution_data()
    {
        QTest::addColumn<bool>("preflight");
        QTest::addColumn<bool>("grantedBefore");
        QTest::addColumn<bool>("requestedBefore");
        QTest::addColumn<int>("expected");
        QTest::newRow("preflight wins over flags") << true << false << true << int(S::granted);
        QTest::newRow("preflight alone") << true << false << false << int(S::granted);
        QTest::newRow("preflight and granted before") << true << true << true << int(S::granted);
        QTest::newRow("granted once, fails now") << false << true << false << int(S::revoked);
        QTest::newRow("granted and requested, fails now") << false << true << true << int(S::revoked);
        QTest::newRow("asked, never granted") << false << false << true << int(S::denied);
        QTest::newRow("never asked") << false << false << false << int(S::requestable);
    }

    void screenPermissionResolution()
    {
        QFETCH(bool, preflight);
        QFETCH(bool, grantedBefore);
        QFETCH(bool, requestedBefore);
        QFETCH(int, expected);
        QCOMPARE(int(ScreenPermissionStates::resolve(preflight, grantedBefore, requestedBefore)), expected);
    }

    void invocation_data()
    {
        QTest::addColumn<int>("phase");
        QTest::addColumn<bool>("setupComplete");
        QTest::addColumn<int>("permission");
        QTest::addColumn<bool>("audioBusy");
        QTest::addColumn<bool>("scrolling");
        QTest::addColumn<QString>("expected");

        auto row = [](const char *name, P phase, bool setup, S permission, bool audio, bool scrolling,
                       Action expected) {
            QTest::newRow(name) << int(phase) << setup << int(permission) << audio << scrolling
                                << actionName(expected);
        };
        // A running scrolling capture outranks everything else.
        row("scrolling, selecting", P::selecting, false, S::denied, true, true, Action::focusSelection);
        row("scrolling, idle", P::idle, true, S::granted, false, true, Action::ignore);
        row("scrolling, setup missing", P::idle, false, S::requestable, false, true, Action::ignore);
        // The overlay or the review takes focus; nothing else matters.
        row("selecting", P::selecting, true, S::granted, false, false, Action::focusSelection);
        row("selecting, audio busy", P::selecting, false, S::revoked, true, false, Action::focusSelection);
        row("review", P::review, true, S::granted, true, false, Action::focusReview);
        row("needsOCR", P::needsOCR, true, S::granted, false, false, Action::focusReview);
        row("saveFailed", P::saveFailed, false, S::requestable, false, false, Action::focusReview);
        // After a save the next capture starts unless audio is busy; setup and permission are
        // checked when it starts.
        row("saved", P::saved, true, S::granted, false, false, Action::beginNew);
        row("saved, audio busy", P::saved, true, S::granted, true, false, Action::blockedByAudio);
        row("saved, permission withdrawn", P::saved, true, S::revoked, false, false, Action::beginNew);
        row("saved, setup missing", P::saved, false, S::requestable, false, false, Action::beginNew);
        // Waiting for permission.
        row("needsPermission, granted", P::needsPermission, true, S::granted, false, false, Action::beginNew);
        row("needsPermission, granted, audio", P::needsPermission, true, S::granted, true, false,
            Action::blockedByAudio);
        row("needsPermission, denied", P::needsPermission, true, S::denied, false, false,
            Action::requestPermission);
        row("needsPermission, requestable", P::needsPermission, false, S::requestable, false, false,
            Action::requestPermission);
        row("needsPermission, granted, setup missing", P::needsPermission, false, S::granted, false, false,
            Action::beginNew);
        // At rest: setup first, then permission, then audio.
        row("idle", P::idle, true, S::granted, false, false, Action::beginNew);
        row("idle, setup missing", P::idle, false, S::granted, false, false, Action::requestSetup);
        row("idle, denied", P::idle, true, S::denied, false, false, Action::requestPermission);
        row("idle, requestable, audio busy", P::idle, true, S::requestable, true, false,
            Action::requestPermission);
        row("idle, audio busy", P::idle, true, S::granted, true, false, Action::blockedByAudio);
        row("canceled", P::canceled, true, S::granted, false, false, Action::beginNew);
        row("canceled, setup missing", P::canceled, false, S::granted, true, false, Action::requestSetup);
        row("canceled, audio busy", P::canceled, true, S::granted, true, false, Action::blockedByAudio);
    }

    void invocation()
    {
        QFETCH(int, phase);
        QFETCH(bool, setupComplete);
        QFETCH(int, permission);
        QFETCH(bool, audioBusy);
        QFETCH(bool, scrolling);
        QFETCH(QString, expected);
        QCOMPARE(actionName(
                     CaptureInvocation::action(P(phase), setupComplete, S(permission), audioBusy, scrolling)),
            expected);
    }

    // Over every input: what each answer may depend on.
    void invocationMatrix()
    {
        for (P phase : CapturePhases::allCases) {
            for (bool setup : { false, true }) {
                for (S permission : allPermissions) {
                    for (bool audio : { false, true }) {
                        const QString where = QString("%1 setup=%2 permission=%3 audio=%4")
                                                  .arg(CapturePhases::rawValue(phase))
                                                  .arg(setup)
                                                  .arg(int(permission))
                                                  .arg(audio);
                        const Action scrolling
                            = CaptureInvocation::action(phase, setup, permission, audio, true);
                        QVERIFY2(
                            scrolling == (phase == P::selecting ? Action::focusSelection : Action::ignore),
                            qPrintable(where));

                        const Action action
                            = CaptureInvocation::action(phase, setup, permission, audio, false);
                        // Only a capture at rest may start one, and never while audio is busy.
                        if (action == Action::beginNew) {
                            QVERIFY2(!audio, qPrintable(where));
                            QVERIFY2(phase == P::idle || phase == P::canceled || phase == P::saved
                                    || phase == P::needsPermission,
                                qPrintable(where));
                            QVERIFY2(CapturePhaseTransition::allows(phase, P::selecting), qPrintable(where));
                        }
                        // idle and canceled answer alike; with setup done they answer as needsPermission.
                        if (phase == P::canceled) {
                            QVERIFY2(
                                action == CaptureInvocation::action(P::idle, setup, permission, audio, false),
                                qPrintable(where));
                        }
                        if (phase == P::idle && setup) {
                            QVERIFY2(action
                                    == CaptureInvocation::action(
                                        P::needsPermission, setup, permission, audio, false),
                                qPrintable(where));
                        }
                        if (action == Action::requestPermission)
                            QVERIFY2(permission != S::granted, qPrintable(where));
                        if (action == Action::ignore)
                            QFAIL(qPrintable("ignored without a scrolling capture: " + where));
                    }
                }
            }
        }
    }
};

QTEST_APPLESS_MAIN(TestCapturePhase)
#include "tst_CapturePhase.moc"

// Captures from the command to the saved note on an X server of the test's own, with the real
// overlay, stills, recognition and permission checks.
#include "ModelHarness.h"
#include "PrivateXvfb.h"
#include "ScrollTargetProcess.h"

#include <QApplication>
#include <QDir>
#include <QJsonDocument>
#include <QLabel>
#include <QRegularExpression>
#include <QTest>

namespace {

PrivateXvfb *server = nullptr;

// The model with the live screen, recognition and permissions; notes go to `notes`.
AppModel &liveModel(ModelHarness &h, const QString &notes)
{
    h.readyToCapture(notes);
    h.adjust = [](ModelServices &services) {
        const ModelServices live = ModelServices::live();
        services.permissionEffects = live.permissionEffects;
        services.makeOverlay = live.makeOverlay;
        services.snapshots = live.snapshots;
        services.recognizeText = live.recognizeText;
        services.frontmostApplication = live.frontmostApplication;
        services.scrollingTarget = live.scrollingTarget;
        services.makeScrollingCapture = live.makeScrollingCapture;
    };
    AppModel &model = h.make();
    ModelHarness::finish(model.startDraftStoreIfNeeded());
    return model;
}

// Drags across `rect` (global points) on the overlay once it shows.
bool drag(const QRect &rect)
{
    QWidget *overlay = nullptr;
    const bool shown = QTest::qWaitFor(
        [&] {
            for (QWidget *window : QApplication::topLevelWidgets()) {
                if (window->objectName() == QLatin1String("SelectionOverlayWindow") && window->isVisible())
                    overlay = window;
            }
            return overlay != nullptr;
        },
        TestSupport::patienceMs);
    if (!shown)
        return false;
    const QPoint from = rect.topLeft() - overlay->geometry().topLeft();
    const QPoint to = from + QPoint(rect.width(), rect.height());
    QTest::mousePress(overlay, Qt::LeftButton, {}, from);
    QTest::mouseMove(overlay, to);
    QTest::mouseRelease(overlay, Qt::LeftButton, {}, to);
    return true;
}

// The saved note's front matter (quoted values read as the JSON strings they are) and its body; no
// fields when a line of it is not "key: value".
QHash<QString, QString> frontMatter(const QString &markdown, QString *body)
{
    QHash<QString, QString> fields;
    const QStringList parts = markdown.split(QStringLiteral("---\n"));
    if (parts.size() < 3 || !parts.first().isEmpty())
        return fields;
    for (const QString &line : parts.at(1).split(u'\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch field = QRegularExpression("^(\\w+): (.+)$").match(line);
        if (!field.hasMatch())
            return {};
        const QString value = field.captured(2);
        fields.insert(field.captured(1),
            value.startsWith(u'"') ? QJsonDocument::fromJson("[" + value.toUtf8() + "]")[0].toString()
                                   : value);
    }
    *body = parts.mid(2).join(QStringLiteral("---\n"));
    return fields;
}

} // namespace

class TestCaptureEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(server && server->isRunning()); }

    void regionCapture()
    {
        const QStringList lines { "Quarterly budget review", "Invoice number 4821 approved",
            "Shipping address updated" };
        QLabel board(lines.join('\n'));
        board.setWindowFlags(Qt::FramelessWindowHint);
        board.setStyleSheet("background: #f4f1e8; color: #202020; font: 18px 'DejaVu Sans'; padding: 16px;");
        board.setGeometry(120, 140, 520, 160);
        board.show();
        QVERIFY(QTest::qWaitForWindowExposed(&board));

        ModelHarness h;
        const QString notes = h.dir.filePath(QStringLiteral("notes"));
        AppModel &model = liveModel(h, notes);
        model.handleCaptureInvocation();
        QVERIFY(drag(board.geometry()));
        QTRY_VERIFY_WITH_TIMEOUT(model.phase() == CapturePhase::review, 60000);
        QVERIFY(ModelHarness::finish(model.saveOpenReview()));

        QCOMPARE(model.phase(), CapturePhase::saved);
        const QStringList saved = QDir(notes).entryList({ QStringLiteral("*.md") });
        QCOMPARE(saved.size(), 1);
        QString body;
        const QHash<QString, QString> front
            = frontMatter(QString::fromUtf8(ModelHarness::savedNote(notes)), &body);
        QCOMPARE(front.value("schema"), QStringLiteral("quorvel.capture/v1"));
        QCOMPARE(front.value("title"), lines.first());
        QCOMPARE(front.value("ocrLanguages"), QStringLiteral("[\"en\"]"));
        for (const QString &line : lines)
            QVERIFY2(body.count(line) == 1, qPrintable(body));
        QVERIFY(!QFile::exists(h.draftFolder() + "/active-draft.sealed"));
        QCOMPARE(model.receipt()->url.fileName(), saved.first());
        QCOMPARE(model.settings().recent.value(0).filename, saved.first());
    }

    // A real scrolling window under a sticky header: every numbered line once in the saved note.
    void scrollingCapture()
    {
        ScrollTargetProcess target;
        QVERIFY(target.start({ "--lines", "45", "--sticky" }));
        ModelHarness h;
        const QString notes = h.dir.filePath(QStringLiteral("notes"));
        AppModel &model = liveModel(h, notes);
        model.startScrollingCapture();
        QVERIFY(drag(target.region()));
        QTRY_VERIFY_WITH_TIMEOUT(model.reviewSession() && !model.scrollingCaptureGeneration(), 180000);
        // The last sections may still be being read as the review opens.
        QTRY_COMPARE_WITH_TIMEOUT(model.phase(), CapturePhase::review, 60000);
        QVERIFY(ModelHarness::finish(model.saveOpenReview()));
        QString body;
        frontMatter(QString::fromUtf8(ModelHarness::savedNote(notes)), &body);
        QStringList wrong;
        for (int line = 1; line <= 45; ++line) {
            if (body.count(QRegularExpression(QStringLiteral("\\bLine %1\\b").arg(line))) != 1)
                wrong << QString::number(line);
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(',') + "\n" + body));
    }
};

int main(int argc, char **argv)
{
    PrivateXvfb display;
    server = &display;
    if (display.isRunning()) {
        qputenv("DISPLAY", display.display().toLocal8Bit());
        qunsetenv("QT_QPA_PLATFORM");
    }
    QApplication app(argc, argv);
    TestCaptureEndToEnd test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_CaptureEndToEnd.moc"

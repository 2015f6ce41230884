// The receipt, the recent captures and the capture folder on the real model, with real files.
#include "ModelHarness.h"

#include "Model/AudioReviewSession.h"
#include "TestSupport.h"

#include <QDir>
#include <QTest>

namespace {

const QStringList audioFiles { "s_others.m4a", "s_you.m4a" };

// A saved note "s.md" with its audio files in "notes", the receipt and the newest recent capture.
struct Saved
{
    ModelHarness h;
    QString folder = h.dir.filePath(QStringLiteral("notes"));
    QUrl note = QUrl::fromLocalFile(folder + QStringLiteral("/s.md"));
    RecentCaptureRef entry;
    AppModel &model;

    Saved()
        : model(made())
    { }
    AppModel &made()
    {
        h.readyToCapture(folder);
        for (const QString &name : QStringList { "s.md" } + audioFiles)
            TestSupport::writeFile(folder + "/" + name, "# note\n");
        entry = { QUuid::createUuid(), "s.md", RecentBookmarkService::live().makeBookmark(note),
            QDateTime::currentDateTime() };
        AppSettings settings = AppSettingsStore(h.defaults).load();
        settings.remember(entry);
        h.setSettings(settings);
        AppModel &model = h.make();
        h.context().setPhase(CapturePhase::saved);
        h.context().setReceipt(SavedReceipt { entry.id, note, SavedReceipt::pack(QStringLiteral("# note\n")),
            entry.bookmarkData, SavedReceipt::Kind::audio, {}, {}, true, {}, audioFiles });
        return model;
    }
};

template <typename... Texts> void row(const char *name, const Texts &...texts)
{
    (QTest::newRow(name) << ... << QString(texts));
}

} // namespace

class TestReceiptFlow : public QObject
{
    Q_OBJECT

private slots:
    // Files gone before the move ("" is the whole folder) or refused by the Trash; the status, and
    // the audio files the receipt still names ("-" when it closed).
    void trash_data()
    {
        for (const char *column : { "absent", "stuck", "status", "receiptKeeps" })
            QTest::addColumn<QString>(column);
        const char *someAudio = "Moved Markdown to Trash. Some audio files could not be moved.";
        row("all moved", "", "", "Moved to Trash", "-");
        row("note deleted outside, audio moved", "s.md", "", "Moved to Trash", "-");
        row("all gone already", "s.md,s_others.m4a,s_you.m4a", "", "The file was already removed", "-");
        row("folder gone", ",", "", "The file could not be moved to Trash", "s_others.m4a,s_you.m4a");
        row("one audio file locked", "", "s_you.m4a", someAudio, "-");
        row("an audio file missing before", "s_you.m4a", "", someAudio, "-");
        row("only the audio moved", "", "s.md",
            "Some audio files were moved to Trash. The Markdown is still here.", "");
    }
    void trash()
    {
        QFETCH(QString, absent);
        QFETCH(QString, stuck);
        QFETCH(QString, receiptKeeps);
        Saved s;
        for (const QString &name : absent.split(',', Qt::SkipEmptyParts))
            QFile::remove(s.folder + "/" + name);
        if (absent == ",")
            QDir(s.folder).removeRecursively();
        s.h.stuckInTrash = stuck.split(',');
        s.h.holdTrash = true;
        const Task<> first = s.model.moveReceiptToTrash();
        QTRY_VERIFY(first.isFinished() || s.model.isMovingReceiptToTrash());
        if (!first.isFinished()) // a second request while the first is under way is turned away
            QVERIFY(ModelHarness::finish(s.model.moveReceiptToTrash()));
        s.h.releaseTrash();
        QVERIFY(ModelHarness::finish(first));
        QTEST(s.model.statusMessage(), "status");
        QVERIFY(s.h.trashCalls <= 1);
        const bool kept = receiptKeeps != "-";
        QCOMPARE(s.model.receipt().has_value(), kept);
        if (kept)
            QCOMPARE(s.model.receipt()->companionFilenames, receiptKeeps.split(',', Qt::SkipEmptyParts));
        QCOMPARE(s.model.settings().recent.size(), kept ? 1 : 0);
        QCOMPARE(s.model.phase(), kept ? CapturePhase::saved : CapturePhase::idle);
    }

    // Whether a recent file is there is asked again only after 1 s or when its bookmark changed.
    void missingFileCache()
    {
        Saved s;
        s.h.fixedNow = QDateTime::currentDateTime();
        QVERIFY(!s.model.recentIsMissing(s.entry));
        QFile::remove(s.note.toLocalFile());
        QVERIFY(!s.model.recentIsMissing(s.entry));
        s.h.fixedNow = s.h.fixedNow->addMSecs(1100);
        QVERIFY(s.model.recentIsMissing(s.entry));
        AppSettings settings = s.model.settings();
        settings.recent[0].bookmarkData
            = RecentBookmarkService::live().makeBookmark(QUrl::fromLocalFile(s.folder + "/s_you.m4a"));
        s.model.updateSettings(settings);
        QVERIFY(!s.model.recentIsMissing(s.entry));
        s.model.openRecent(s.entry);
        QCOMPARE(s.h.opened, QList<QUrl> { QUrl::fromLocalFile(s.folder + "/s_you.m4a") });
        s.model.removeRecent(s.entry);
        QVERIFY(AppSettingsStore(s.h.defaults).load().recent.isEmpty());
    }

    // When no application opens a file and no file manager shows one, the user hears of it where
    // they acted (an alert, and the status), with the file's name; when one answers, nothing is said.
    void launcherFailuresAreShown_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("answers");
        QTest::addColumn<QString>("alert");
        for (const bool answers : { true, false }) {
            const auto name = [answers](const char *action) {
                return QByteArray(action) + (answers ? ", answered" : ", nobody answers");
            };
            QTest::newRow(name("open a recent file"))
                << "open" << answers << (answers ? "" : "Couldn't open the file");
            QTest::newRow(name("show a recent file"))
                << "reveal" << answers << (answers ? "" : "Couldn't show the file");
            QTest::newRow(name("show the saved file"))
                << "receipt" << answers << (answers ? "" : "Couldn't show the file");
            QTest::newRow(name("open the capture folder"))
                << "folder" << answers << (answers ? "" : "Couldn't open the capture folder");
        }
    }
    void launcherFailuresAreShown()
    {
        QFETCH(QString, action);
        QFETCH(bool, answers);
        QFETCH(QString, alert);
        Saved s;
        s.h.mailOpens = answers;
        s.h.fileManagerAnswers = answers;
        const QString before = s.model.statusMessage();
        if (action == "open")
            s.model.openRecent(s.entry);
        else if (action == "reveal")
            s.model.revealRecent(s.entry);
        else if (action == "receipt")
            s.model.revealReceipt();
        else
            s.model.openCaptureFolder();
        if (answers) {
            // A file manager's failure arrives later: give it the chance to, then nothing was said.
            QVERIFY(TestSupport::runPostedHops(3));
            QVERIFY(s.h.alerts.isEmpty());
            QCOMPARE(s.model.statusMessage(), before);
            return;
        }
        QTRY_COMPARE(s.h.alerts, QStringList { alert });
        QCOMPARE(s.model.statusMessage(), alert);
        const QString message = s.h.alertMessages.value(0);
        QVERIFY2(
            message.contains(action == "folder" ? s.folder : QStringLiteral("s.md")), qPrintable(message));
    }

    // The receipt's and the recent list's actions on a saved file, and the capture folder's, with the
    // file (or folder) there or gone: the status line, what reached the file manager, the opener or
    // the clipboard, the phase and the window asked for. A missing file never leaves the list.
    void fileActions_data()
    {
        for (const char *column : { "action", "status", "reached", "phase", "window" })
            QTest::addColumn<QString>(column);
        QTest::addColumn<bool>("gone");
        QTest::addColumn<bool>("receiptKept");
        const QString unavailable = QStringLiteral("The capture folder is unavailable. Choose a new folder.");
        const auto add
            = [](const char *name, const char *action, bool gone, const QString &status, const char *reached,
                  const char *phase = "saved", const char *window = "", bool receiptKept = true) {
                  QTest::newRow(name) << QString(action) << status << QString(reached) << QString(phase)
                                      << QString(window) << gone << receiptKept;
              };
        add("reveal the receipt", "reveal receipt", false, "Ready", "s.md");
        add("reveal the receipt, file gone", "reveal receipt", true, "File is missing", "");
        add("reveal a recent", "reveal recent", false, "Ready", "s.md");
        add("reveal a recent, file gone", "reveal recent", true, "Missing file", "");
        add("open a recent, file gone", "open recent", true, "That file is missing", "");
        add("copy a recent", "copy recent", false, "Copied Markdown", "clipboard:# note");
        add("copy a recent, file gone", "copy recent", true, "That file is missing", "");
        add("open the capture folder", "open folder", false, "Ready", "notes");
        add("open the capture folder, folder gone", "open folder", true, unavailable, "", "saved",
            "preferences");
        add("dismiss the receipt", "dismiss", false, "Ready", "", "idle", "", false);
        add("choose a folder while a save waits", "choose folder", false, "Capture folder saved", "",
            "review");
        add("choose a folder, picker cancelled", "choose folder", true, "Ready", "",
            "destinationUnavailable");
    }
    void fileActions()
    {
        QFETCH(QString, action);
        QFETCH(bool, gone);
        Saved s;
        const QString chosen = s.h.dir.filePath(QStringLiteral("chosen"));
        if (action == "choose folder") {
            s.h.context().setPhase(CapturePhase::destinationUnavailable);
            if (!gone && QDir().mkpath(chosen))
                s.h.pickedFolder = chosen;
        } else if (gone) {
            QVERIFY(action == "open folder" ? QDir(s.folder).removeRecursively()
                                            : QFile::remove(s.note.toLocalFile()));
        }
        if (action == "reveal receipt")
            s.model.revealReceipt();
        else if (action == "reveal recent")
            s.model.revealRecent(s.entry);
        else if (action == "open recent")
            s.model.openRecent(s.entry);
        else if (action == "copy recent") {
            const Task<bool> copying = s.model.copyRecent(s.entry);
            QVERIFY(ModelHarness::finish(copying));
            QCOMPARE(copying.result(), !gone);
        } else if (action == "open folder")
            s.model.openCaptureFolder();
        else if (action == "dismiss")
            s.model.dismissReceipt();
        else
            QVERIFY(ModelHarness::finish(s.model.chooseDefaultFolder()));
        QTEST(s.model.statusMessage(), "status");
        QStringList reached;
        for (const QUrl &url : s.h.revealed + s.h.opened)
            reached << url.fileName();
        for (const QString &text : std::as_const(s.h.clipboard))
            reached << QStringLiteral("clipboard:") + text.trimmed();
        QTEST(reached.join(u','), "reached");
        QTEST(CapturePhases::rawValue(s.model.phase()), "phase");
        QTEST(s.model.requestedWindow().value_or(QString()), "window");
        QTEST(s.model.receipt().has_value(), "receiptKept");
        QCOMPARE(s.model.settings().recent.size(), 1);
        const AppSettings stored = AppSettingsStore(s.h.defaults).load();
        QCOMPARE(stored.defaultFolder->displayPath, s.h.pickedFolder ? chosen : s.folder);
    }

    // Opening the capture folder through a stale bookmark renews it in the setting that held it, and
    // only there: a last-used folder does not become the default.
    void captureFolderRenewed_data()
    {
        QTest::addColumn<bool>("asDefault");
        QTest::newRow("default folder") << true;
        QTest::newRow("last used folder") << false;
    }
    void captureFolderRenewed()
    {
        QFETCH(bool, asDefault);
        ModelHarness h;
        const QString folder = h.dir.filePath(QStringLiteral("notes"));
        QVERIFY(QDir().mkpath(folder));
        const FolderAccess stale = FolderBookmark::make(QUrl::fromLocalFile(folder));
        // Another folder takes its place (made while it exists, so it cannot share its inode).
        QVERIFY(QDir().mkpath(folder + "-new") && QDir(folder).removeRecursively());
        QVERIFY(QDir().rename(folder + "-new", folder));
        const FolderAccess other = FolderBookmark::make(QUrl::fromLocalFile(h.dir.path()));
        AppSettings settings;
        settings.setupComplete = true;
        settings.defaultFolder = asDefault ? std::optional(stale) : std::nullopt;
        settings.lastUsedFolder = asDefault ? other : stale;
        h.setSettings(settings);
        AppModel &model = h.make();
        model.openCaptureFolder();
        QCOMPARE(h.opened, QList<QUrl> { QUrl::fromLocalFile(folder) });
        const FolderAccess renewed = FolderBookmark::make(QUrl::fromLocalFile(folder));
        QVERIFY(renewed != stale);
        QCOMPARE(model.settings().defaultFolder, asDefault ? std::optional(renewed) : std::nullopt);
        QCOMPARE(model.settings().lastUsedFolder, asDefault ? other : renewed);
        QCOMPARE(AppSettingsStore(h.defaults).load(), model.settings());
    }

    // Capture Another starts a capture; Record Another asks the recording gate, which brings back an
    // audio review that is still open instead of recording.
    void another_data()
    {
        QTest::addColumn<bool>("audio");
        QTest::newRow("Capture Another") << false;
        QTest::newRow("Record Another, an audio review open") << true;
    }
    void another()
    {
        QFETCH(bool, audio);
        Saved s;
        QVERIFY(ModelHarness::finish(s.model.startDraftStoreIfNeeded()));
        const AudioSessionResult recording = ModelHarness::recording(s.folder);
        if (audio) {
            s.h.context().setAudioReview(
                std::make_shared<AudioReviewSession>(recording, *recording.folder, AudioTranscripts {}));
            s.h.context().audio().setPhase(AudioSessionPhase::reviewing);
        } else {
            s.h.context().setReceipt(SavedReceipt {});
        }
        QVERIFY(ModelHarness::finish(s.model.captureAnother()));
        QVERIFY(!s.model.receipt());
        QCOMPARE(s.model.phase(), audio ? CapturePhase::idle : CapturePhase::selecting);
        QCOMPARE(s.model.requestedWindow().value_or(QString()), audio ? "audio-review" : "");
        QCOMPARE(s.model.audio().phase(), audio ? AudioSessionPhase::reviewing : AudioSessionPhase::idle);
    }
};

QTEST_MAIN(TestReceiptFlow)
#include "tst_ReceiptFlow.moc"

// Renders the receipt, recent-captures and recovery windows in their main states, in the light and
// the dark palette, for a person to look at.

#include "Gallery.h"
#include "ModelHarness.h"
#include "TestSupport.h"

#include "Windows/ReceiptView.h"
#include "Windows/RecentCaptureRow.h"
#include "Windows/RecentCapturesView.h"
#include "Windows/RecoveryView.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTimer>

namespace {

SavedReceipt receipt(const QString &folder, SavedReceipt::Kind kind)
{
    SavedReceipt receipt;
    receipt.id = QUuid::createUuid();
    receipt.kind = kind;
    receipt.url = QUrl::fromLocalFile(folder
        + (kind == SavedReceipt::Kind::audio
                ? QStringLiteral("/2026-01-02T03-04-05_standup-with-the-design-team_3f2a9c1d.md")
                : QStringLiteral("/2026-01-02T03-04-05_quarterly-planning-notes_9b1e44f0.md")));
    receipt.packedMarkdown = SavedReceipt::pack(QStringLiteral("# Saved\n"));
    return receipt;
}

struct Scene
{
    QString name;
    // Runs before the model exists (stored settings and drafts) or, for a receipt, after.
    std::function<void(ModelHarness &)> prepare;
    std::function<QWidget *(AppModel &)> make;
    bool prepareAfter = false;
};

// Saved notes for the recent list, newest first; the second file is gone.
void remember(ModelHarness &h)
{
    const QStringList names = { QStringLiteral("2026-01-20T09-30-00_release-checklist_1a2b3c4d.md"),
        QStringLiteral(
            "2026-01-19T16-05-12_meeting-with-a-very-long-title-that-does-not-fit-the-row_5e6f7a8b.md"),
        QStringLiteral("2026-01-18T11-00-45_audio-session_9c0d1e2f.md"),
        QStringLiteral("2026-01-17T08-15-30_reading-list_3a4b5c6d.md") };
    AppSettings settings;
    settings.setupComplete = true;
    for (int index = 0; index < names.size(); ++index) {
        const QString path = h.dir.filePath(QStringLiteral("notes/") + names.at(index));
        TestSupport::writeFile(path, "# Note\n");
        settings.recent << RecentCaptureRef { QUuid::createUuid(), names.at(index),
            RecentBookmarkService::live().makeBookmark(QUrl::fromLocalFile(path)),
            QDateTime(QDate(2026, 1, 20 - index), QTime(9 + index, 30)) };
        if (index == 1)
            QFile::remove(path);
    }
    h.setSettings(settings);
}

QList<Scene> scenes()
{
    const auto showReceipt = [](std::function<void(SavedReceipt &)> edit, SavedReceipt::Kind kind) {
        return [edit, kind](ModelHarness &h) {
            SavedReceipt saved = receipt(h.dir.filePath(QStringLiteral("notes")), kind);
            edit(saved);
            h.context().setReceipt(saved);
        };
    };
    const auto receiptView = [](AppModel &model) -> QWidget * { return new ReceiptView(model); };
    const auto recents = [](AppModel &model) -> QWidget * {
        auto *view = new RecentCapturesView(model);
        view->resize(720, 480);
        return view;
    };
    return {
        { QStringLiteral("receipt-region"), showReceipt([](SavedReceipt &) {}, SavedReceipt::Kind::region),
            receiptView, true },
        { QStringLiteral("receipt-audio"),
            showReceipt(
                [](SavedReceipt &saved) {
                    saved.heardOthers = true;
                    saved.othersTranscript = QStringLiteral(
                        "Thanks everyone for joining. Today we will go through the launch checklist, the "
                        "open "
                        "questions from the beta, and who owns the release notes.\nFirst, the installer.");
                    saved.youTranscript = QStringLiteral("I can take the release notes.");
                },
                SavedReceipt::Kind::audio),
            receiptView, true },
        { QStringLiteral("receipt-audio-attention"),
            showReceipt(
                [](SavedReceipt &saved) {
                    saved.heardOthers = false;
                    saved.youTranscript = QStringLiteral("Testing, one two three.");
                    saved.transcriptionIssue
                        = QStringLiteral("Others could not be transcribed: no speech was found.");
                },
                SavedReceipt::Kind::audio),
            receiptView, true },
        { QStringLiteral("receipt-none"), [](ModelHarness &) {}, receiptView },
        { QStringLiteral("recents"), remember, recents },
        { QStringLiteral("recents-missing-selected"), remember,
            [recents](AppModel &model) {
                QWidget *view = recents(model);
                QTimer::singleShot(
                    0, view, [view] { static_cast<RecentCapturesView *>(view)->rows().at(1)->setFocus(); });
                return view;
            } },
        { QStringLiteral("recents-empty"), [](ModelHarness &) {}, recents },
        { QStringLiteral("recents-no-match"), remember,
            [recents](AppModel &model) {
                QWidget *view = recents(model);
                static_cast<RecentCapturesView *>(view)->searchField()->setText(QStringLiteral("invoices"));
                return view;
            } },
        { QStringLiteral("recovery"), [](ModelHarness &h) { h.storeDraft(); },
            [](AppModel &model) -> QWidget * { return new RecoveryView(model); } },
    };
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (!Gallery::begin(argc, argv))
        return 1;
    bool ok = true;
    const std::pair<QString, QPalette> palettes[]
        = { { QStringLiteral("light"), Gallery::light() }, { QStringLiteral("dark"), Gallery::dark() } };
    for (const auto &[appearance, palette] : palettes) {
        QApplication::setPalette(palette);
        for (const Scene &scene : scenes()) {
            ModelHarness h;
            AppSettings settings;
            settings.setupComplete = true;
            h.setSettings(settings);
            if (!scene.prepareAfter)
                scene.prepare(h);
            AppModel &model = h.make();
            ModelHarness::finish(model.startDraftStoreIfNeeded());
            if (scene.prepareAfter)
                scene.prepare(h);
            std::unique_ptr<QWidget> view(scene.make(model));
            ok = Gallery::save(view.get(), scene.name + u'-' + appearance, 500) && ok;
        }
    }
    return ok ? 0 : 1;
}

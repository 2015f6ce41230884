// Renders the capture review window (recognition running, text ready, recognition not finished, a
// scrolling capture, nothing to preview) and the audio review window (with and without transcripts)
// in the light and the dark palette, for a person to look at.

#include "Documents/AppSettingsStore.h"
#include "Gallery.h"
#include "Model/AudioReviewSession.h"
#include "Model/ReviewSession.h"
#include "Windows/AudioReviewView.h"
#include "Windows/ReviewWindow.h"
#include "Windows/ReviewWindowController.h"

#include <QApplication>
#include <QPainter>

namespace {

const QStringList noteLines = {
    QStringLiteral("Weekly sync — design review"),
    QStringLiteral("• Ship the capture flow to the beta group on Friday"),
    QStringLiteral("• Scrolling capture: keep tiles under 40 per run"),
    QStringLiteral("• Audio notes stay local; transcripts are editable"),
    QStringLiteral("Owner: platform team · Next check-in: Tuesday 10:00"),
};

// Something that looks like a grabbed window of notes.
QImage screenshot(int width, int height, const QStringList &lines, int hue)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(250, 250, 248));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(0, 0, width, 44, QColor::fromHsv(hue, 90, 235));
    painter.setPen(QColor(40, 40, 44));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(22);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(20, 0, width - 40, 44), Qt::AlignVCenter, lines.value(0));
    font.setPixelSize(17);
    font.setBold(false);
    painter.setFont(font);
    for (int i = 1; i < lines.size(); ++i)
        painter.drawText(QPoint(24, 44 + 38 * i), lines.at(i));
    return image;
}

// The second tile cannot be read, so its placeholder shows.
Task<std::optional<QImage>> tileAt(QList<QImage> tiles, int index)
{
    if (index == 1)
        co_return std::nullopt;
    co_return tiles.value(index);
}

CaptureDraft draft(
    const QString &text, const std::optional<ScrollingCaptureManifest> &manifest = std::nullopt)
{
    const QDateTime at(QDate(2026, 3, 14), QTime(9, 26, 53));
    return CaptureDraft(QUuid::fromString(QStringLiteral("{5f0c2a91-7d3e-4b8a-9c61-2e4f8a7b3c10}")), at, at,
        at, QByteArray(), text, text, { QStringLiteral("eng") }, {}, QStringLiteral("Text Editor"),
        QStringLiteral("org.gnome.TextEditor"), QStringLiteral("Weekly sync"), QString(),
        { QStringLiteral("meetings"), QStringLiteral("design") }, manifest, std::nullopt);
}

AppSettings settings()
{
    AppSettings settings;
    settings.defaultFolder
        = FolderAccess { QByteArray(), QStringLiteral("/home/ada/Documents/Quorvel Captures") };
    return settings;
}

std::shared_ptr<ReviewSession> regionReview(const QString &state)
{
    const QString text = state == u"ocr" ? QString() : noteLines.join(u'\n');
    auto session = std::make_shared<ReviewSession>(draft(text), screenshot(900, 260, noteLines, 150),
        settings(), QString(), ReviewSession::TileLoader());
    if (state == u"ocr") {
        session->setOCRRunning(true);
        session->setStatusText(QStringLiteral("Recognizing text…"));
    } else if (state == u"needs-ocr") {
        session->setReviewedText(QString());
        session->setStatusText(QStringLiteral("OCR did not finish. Retry OCR or type the text."));
    } else {
        session->setStatusText(QStringLiteral("Review the text, then save Markdown."));
    }
    return session;
}

std::shared_ptr<ReviewSession> scrollingReview()
{
    ScrollingCaptureManifest manifest { 700, 0, {} };
    QList<QImage> tiles;
    for (int index = 0; index < 8; ++index) {
        tiles.append(screenshot(700, 300,
            { QStringLiteral("Section %1").arg(index + 1), noteLines.at(1 + index % 4),
                noteLines.at(1 + (index + 1) % 4) },
            index * 40));
        manifest.tiles.append({ index, 700, 300, manifest.pixelHeight });
        manifest.pixelHeight += 300;
    }
    const QString text = QStringLiteral("Section 1\n") + noteLines.mid(1).join(u'\n');
    auto session = std::make_shared<ReviewSession>(draft(text, manifest), QImage(), settings(),
        QStringLiteral("Review the text, then save Markdown."),
        [tiles](int index, QSize) { return tileAt(tiles, index); });
    return session;
}

std::shared_ptr<AudioReviewSession> audioReview(bool transcribed)
{
    AudioSessionResult result;
    result.id = QUuid::fromString(QStringLiteral("{0b7e4c2d-91a3-4f5e-8d26-c4b1a9e07f33}"));
    result.startedAt = QDateTime(QDate(2026, 3, 14), QTime(10, 2, 0));
    result.endedAt = result.startedAt.addSecs(754);
    result.heardOthers = transcribed;
    result.heardYou = true;
    AudioTranscripts transcripts;
    if (transcribed) {
        transcripts.others = QStringLiteral("okay so the beta build goes out on friday\nwe still need the "
                                            "scrolling limits in the release notes");
        transcripts.you = QStringLiteral("sounds good i will write the notes tonight");
        transcripts.transcriber = QStringLiteral("pocketsphinx");
    } else {
        transcripts.note = QStringLiteral("On-device transcription needs the pocketsphinx-en-us package.");
        transcripts.youUnavailable = true;
    }
    const ResolvedFolder folder { QUrl::fromLocalFile(QStringLiteral("/home/ada/Documents/Quorvel Captures")),
        false, std::nullopt };
    return std::make_shared<AudioReviewSession>(result, folder, transcripts);
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
    for (const auto &[name, palette] : palettes) {
        QApplication::setPalette(palette);
        ReviewWindowController controller;
        const std::pair<QString, std::shared_ptr<ReviewSession>> reviews[] = {
            { QStringLiteral("review-ocr-running"), regionReview(QStringLiteral("ocr")) },
            { QStringLiteral("review-text-ready"), regionReview(QStringLiteral("ready")) },
            { QStringLiteral("review-needs-ocr"), regionReview(QStringLiteral("needs-ocr")) },
            { QStringLiteral("review-scrolling"), scrollingReview() },
        };
        for (const auto &[file, session] : reviews) {
            controller.present(session, nullptr, {});
            ok = Gallery::save(controller.window(), file + u'-' + name, 500) && ok;
        }
        // Nothing to preview, the inspector hidden.
        auto bare = std::make_shared<ReviewSession>(draft(noteLines.join(u'\n')), QImage(), AppSettings(),
            QStringLiteral("Resumed unfinished capture"), ReviewSession::TileLoader());
        controller.setInspectorSetting({ [] { return false; }, [](bool) {} });
        controller.present(bare, nullptr, {});
        Gallery::settle(50);
        controller.window()->resize(760, 600);
        ok = Gallery::save(controller.window(), QStringLiteral("review-no-preview-") + name, 400) && ok;
        controller.orderOut();

        for (const bool transcribed : { true, false }) {
            AudioReviewView view(nullptr, audioReview(transcribed));
            ok = Gallery::save(&view,
                     (transcribed ? QStringLiteral("audio-transcribed-")
                                  : QStringLiteral("audio-no-transcripts-"))
                         + name)
                && ok;
        }
    }
    return ok ? 0 : 1;
}

#pragma once

#include "Model/ModelServices.h"

#include <QFuture>
#include <QUrl>

#include <optional>

// The write of a reviewed note into its folder, shared by the capture and audio reviews: off the main
// thread, answering where the file went or why it could not go there.
namespace MarkdownSave {

struct Outcome
{
    std::optional<QUrl> url;
    // Why the write failed, in the user's words; none when it did not or the reason is unknown.
    std::optional<QString> reason;
    // What was written, for the receipt (SavedReceipt::pack); empty when nothing was.
    QByteArray packedMarkdown;
};

QFuture<Outcome> write(const ModelServices &services, const QString &markdown, const QString &directory,
    const QString &filename);
// The review's line for a failed write.
QString failedText(const Outcome &outcome);

} // namespace MarkdownSave

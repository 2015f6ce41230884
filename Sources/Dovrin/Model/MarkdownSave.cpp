#include "Model/MarkdownSave.h"

#include "Documents/WriteFailureReason.h"
#include "Model/SavedReceipt.h"

#include <QtConcurrent>

namespace MarkdownSave {

QFuture<Outcome> write(
    const ModelServices &services, const QString &markdown, const QString &directory, const QString &filename)
{
    // The write syncs the file and its folder.
    return QtConcurrent::run([write = services.writeMarkdown, markdown, directory, filename]() -> Outcome {
        try {
            const std::optional<QUrl> url = write(markdown, directory, filename);
            return { url, std::nullopt, url ? SavedReceipt::pack(markdown) : QByteArray() };
        } catch (const std::exception &error) {
            return { std::nullopt, WriteFailureReason::describe(error), QByteArray() };
        }
    });
}

QString failedText(const Outcome &outcome)
{
    return WriteFailureReason::sentence(
               QStringLiteral("The Markdown file could not be saved"), outcome.reason)
        + QStringLiteral(" Try Save again.");
}

} // namespace MarkdownSave

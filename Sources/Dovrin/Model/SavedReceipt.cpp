#include "Model/SavedReceipt.h"

QString SavedReceipt::markdown() const
{
    return packedMarkdown.isEmpty() ? QString() : QString::fromUtf8(qUncompress(packedMarkdown));
}

QByteArray SavedReceipt::pack(const QString &markdown)
{
    // The fastest level: Markdown shrinks to a fraction of its size even so.
    return markdown.isEmpty() ? QByteArray() : qCompress(markdown.toUtf8(), 1);
}

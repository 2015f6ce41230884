#include "Documents/WriteFailureReason.h"

#include "Documents/AtomicMarkdownWriter.h"

#include <cerrno>
#include <cstring>
#include <system_error>

namespace WriteFailureReason {

QString describe(int errorNumber)
{
    switch (errorNumber) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("the disk is full");
    case EROFS:
        return QStringLiteral("the disk is read-only");
    case EACCES:
    case EPERM:
        return QStringLiteral("Quorvel is not allowed to write there");
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("the folder is gone");
    case EISDIR:
        return QStringLiteral("a folder is in its place");
    default:
        break;
    }
    // strerror's words start with a capital, as a sentence of their own would.
    QString words = QString::fromLocal8Bit(std::strerror(errorNumber));
    if (words.size() > 1 && words.at(1).isLower())
        words[0] = words.at(0).toLower();
    return words;
}

std::optional<QString> describe(const std::exception &error)
{
    if (const auto *writer = dynamic_cast<const AtomicMarkdownWriterError *>(&error)) {
        if (writer->code() == AtomicMarkdownWriterError::Code::notADirectory)
            return describe(ENOENT);
        if (writer->systemError() != 0)
            return describe(writer->systemError());
        return std::nullopt;
    }
    if (const auto *system = dynamic_cast<const std::system_error *>(&error)) {
        const std::error_code code = system->code();
        if (code && (code.category() == std::generic_category() || code.category() == std::system_category()))
            return describe(code.value());
    }
    return std::nullopt;
}

std::optional<QString> describe(const std::exception_ptr &error)
{
    if (!error)
        return std::nullopt;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &thrown) {
        return describe(thrown);
    } catch (...) {
        return std::nullopt;
    }
}

QString sentence(const QString &what, const std::optional<QString> &reason)
{
    return reason && !reason->isEmpty() ? what + QStringLiteral(": ") + *reason + QLatin1Char('.')
                                        : what + QLatin1Char('.');
}

} // namespace WriteFailureReason

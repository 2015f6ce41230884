#pragma once

#include <QString>

#include <exception>
#include <optional>

// Why a file could not be written, in words a user knows, for the messages of failed saves.
namespace WriteFailureReason {

// "the disk is full", "the disk is read-only", "Quorvel is not allowed to write there", "the folder is
// gone", "a folder is in its place"; anything else in the system's own words.
QString describe(int errorNumber);
// The same for what a store or writer threw; none when it carries no system error.
std::optional<QString> describe(const std::exception &error);
std::optional<QString> describe(const std::exception_ptr &error);
// "<what>: <reason>." or "<what>." without a reason.
QString sentence(const QString &what, const std::optional<QString> &reason);

} // namespace WriteFailureReason

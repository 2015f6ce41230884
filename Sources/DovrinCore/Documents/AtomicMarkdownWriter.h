#pragma once

#include "Documents/AtomicFile.h"

#include <QString>
#include <QUrl>

#include <exception>

class AtomicMarkdownWriterError : public std::exception
{
public:
    enum class Code {
        notADirectory, // the folder does not exist or is not a folder
        writeFailed, // anything else; systemError() tells what
    };

    AtomicMarkdownWriterError(Code code, int systemError) noexcept
        : m_code(code)
        , m_systemError(systemError)
    { }
    Code code() const noexcept { return m_code; }
    int systemError() const noexcept { return m_systemError; }
    // For diagnostics only.
    const char *what() const noexcept override;

private:
    Code m_code;
    int m_systemError;
};

// Writes a note into the capture folder without ever replacing a file.
namespace AtomicMarkdownWriter {

// Writes the text (UTF-8, with a final newline) under the preferred name, or on a clash under the
// first free "-2", "-3"... name before the extension, and answers the file's URL. The file appears
// complete and synced, and the name is taken with a no-replace link, so a file that appears under
// the same name meanwhile is never overwritten. On failure nothing is left behind.
// Throws AtomicMarkdownWriterError.
QUrl write(const QString &text, const QString &directory, const QString &preferredFilename,
    AtomicFile::Method method = AtomicFile::Method::automatic);

// "name.md" -> "name-2.md" for attempt 2; the first attempt is the name itself.
QString candidateName(const QString &preferredFilename, int attempt);

} // namespace AtomicMarkdownWriter

#include "Documents/AtomicMarkdownWriter.h"

#include <QDir>
#include <QFile>

#include <cerrno>

const char *AtomicMarkdownWriterError::what() const noexcept
{
    return m_code == Code::notADirectory ? "markdown writer: not a directory"
                                         : "markdown writer: write failed";
}

namespace AtomicMarkdownWriter {

namespace {

constexpr int maximumAttempts = 10000;

} // namespace

QString candidateName(const QString &preferredFilename, int attempt)
{
    if (attempt <= 1)
        return preferredFilename;
    const qsizetype dot = preferredFilename.lastIndexOf(QLatin1Char('.'));
    const QString suffix = QLatin1Char('-') + QString::number(attempt);
    // A leading dot starts a hidden name, not an extension.
    if (dot <= 0)
        return preferredFilename + suffix;
    return preferredFilename.left(dot) + suffix + preferredFilename.mid(dot);
}

QUrl write(const QString &text, const QString &directory, const QString &preferredFilename,
    AtomicFile::Method method)
{
    using Code = AtomicMarkdownWriterError::Code;
    if (preferredFilename.isEmpty() || preferredFilename.contains(QLatin1Char('/'))
        || preferredFilename == QLatin1String(".") || preferredFilename == QLatin1String("..")
        || preferredFilename.contains(QChar(0)))
        throw AtomicMarkdownWriterError(Code::writeFailed, EINVAL);

    const QString folderPath = QDir(directory).absolutePath();
    int error = 0;
    const AtomicFile::Descriptor folder = AtomicFile::openDirectory(folderPath, &error);
    if (error == ENOENT || error == ENOTDIR)
        throw AtomicMarkdownWriterError(Code::notADirectory, error);
    if (error != 0)
        throw AtomicMarkdownWriterError(Code::writeFailed, error);

    QByteArray content = text.toUtf8();
    if (!content.endsWith('\n'))
        content += '\n';
    AtomicFile::NewFile file(folder.get(), content, 0666, method);
    for (int attempt = 1; attempt <= maximumAttempts; ++attempt) {
        const QString name = candidateName(preferredFilename, attempt);
        error = file.publish(QFile::encodeName(name));
        if (error == 0)
            return QUrl::fromLocalFile(folderPath + QLatin1Char('/') + name);
        if (error != EEXIST)
            throw AtomicMarkdownWriterError(Code::writeFailed, error);
    }
    throw AtomicMarkdownWriterError(Code::writeFailed, EEXIST);
}

} // namespace AtomicMarkdownWriter

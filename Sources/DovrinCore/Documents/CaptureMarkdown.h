#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <QUuid>

#include <optional>

// Scalars for the YAML front matter. Every string is a double-quoted scalar with backslash, quote,
// line breaks and other control characters escaped, so no value can end or break the front matter.
namespace YAMLText {

QString quoted(const QString &text);
// "null" when absent.
QString quoted(const std::optional<QString> &text);
// A flow sequence of quoted strings: ["a", "b"].
QString sequence(const QStringList &items);
QString boolean(bool value);
// ISO 8601 to the second in the local time zone, with its UTC offset: 2024-05-01T09:30:00+02:00.
QString date(const QDateTime &date);

} // namespace YAMLText

// Names of saved files: "2024-05-01T09-30-00_<slug>_<8 hex digits of the id>.<extension>".
namespace CaptureFilename {

inline constexpr int maximumSlugLength = 40;

// The title lower-cased, letters, marks and numbers of every script kept, each run of anything else
// made one "-", trimmed of "-", cut to 40 characters (grapheme clusters, so an accent or a vowel
// sign stays with its letter) and trimmed again; "untitled" when nothing is left.
QString sanitizedTitle(const QString &title);

// The date's fields are read in the given time zone. Pure: looks at no file.
QString make(const QDateTime &date, const QString &title, const QUuid &id,
    const QTimeZone &timeZone = QTimeZone::systemTimeZone(),
    const QString &pathExtension = QStringLiteral("md"));

} // namespace CaptureFilename

// A saved screen capture.
struct CaptureMarkdownDocument
{
    static constexpr char schema[] = "quorvel.capture/v1";

    QUuid id {};
    QString title {};
    QDateTime capturedAt {};
    std::optional<QString> sourceApplication {};
    std::optional<QString> sourceBundleID {};
    QStringList ocrLanguages {};
    bool reviewedByUser = false;
    bool screenshotRetained = false;
    QStringList tags {};
    QString note {};
    QString capturedText {};

    // Front matter with the metadata, then the note and the captured text (each when not empty).
    QString render() const;
};

// A saved audio session.
struct AudioSessionMarkdownDocument
{
    static constexpr char schema[] = "quorvel.audio/v1";

    QUuid id {};
    QString title {};
    QDateTime capturedAt {};
    qint64 durationSeconds = 0;
    std::optional<QString> othersFilename {};
    std::optional<QString> youFilename {};
    bool heardOthers = false;
    bool heardYou = false;
    QString othersTranscript {};
    QString youTranscript {};
    std::optional<QString> transcriber {};
    bool reviewedByUser = false;
    QString note {};
    bool othersTranscriptionUnavailable = false;
    bool youTranscriptionUnavailable = false;

    // Front matter with the metadata, then the note (when not empty) and an "## Others" and a "## You"
    // section with the transcripts.
    QString render() const;
};

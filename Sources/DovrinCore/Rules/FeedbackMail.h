#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// The pre-filled mail draft behind "Send Feedback…". It carries versions and, when the user keeps the
// switch on, a block of state words; never captures, paths, application names or transcripts.
namespace FeedbackMail {

struct Diagnostics
{
    QString bundleID;
    QString architecture;
    int displayCount = 0;
    QString screenRecording;
    QString controlScrolling;
    QString systemAudio;
    QString microphone;
    QString launchAtLogin;
    bool automaticUpdates = false;
    bool captureFolderSet = false;
    bool transcriptionAvailable = false;
    QString capturePhase;
    QString audioPhase;
    bool setupComplete = false;

    bool operator==(const Diagnostics &) const = default;

    // One "key: value" line per field in declaration order, joined by "\n".
    QString rendered() const;
};

struct Snapshot
{
    QString appVersion;
    QString buildNumber;
    QString macosVersion; // the operating system's version text
    std::optional<Diagnostics> diagnostics;

    bool operator==(const Snapshot &) const = default;
};

QString address(); // "feedback@quorvel.app"
QString subject(); // "Quorvel feedback"
QString sendActionTitle(); // "Send Feedback…"

// The draft's text: room for the user's words, then the versions and the diagnostics block.
QString body(const Snapshot &snapshot);

// mailto: link with the subject and body; every reserved, non-ASCII and line-break character is
// percent-encoded (line breaks as CRLF). None when no valid link results.
std::optional<QUrl> mailtoURL(const Snapshot &snapshot);

} // namespace FeedbackMail

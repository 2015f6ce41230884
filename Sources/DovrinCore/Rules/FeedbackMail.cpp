#include "Rules/FeedbackMail.h"

#include <QRegularExpression>
#include <QStringList>

namespace FeedbackMail {

QString Diagnostics::rendered() const
{
    const auto line = [](const char *key, const QString &value) {
        return QLatin1String(key) + QStringLiteral(": ") + value;
    };
    const QStringList lines {
        line("bundle", bundleID),
        line("arch", architecture),
        line("displays", QString::number(displayCount)),
        line("screen-recording", screenRecording),
        line("control-scrolling", controlScrolling),
        line("system-audio", systemAudio),
        line("microphone", microphone),
        line("launch-at-login", launchAtLogin),
        line("automatic-updates", automaticUpdates ? QStringLiteral("on") : QStringLiteral("off")),
        line("capture-folder", captureFolderSet ? QStringLiteral("set") : QStringLiteral("unset")),
        line("transcription",
            transcriptionAvailable ? QStringLiteral("available") : QStringLiteral("unavailable")),
        line("capture-phase", capturePhase),
        line("audio-phase", audioPhase),
        line("setup", setupComplete ? QStringLiteral("complete") : QStringLiteral("incomplete")),
    };
    return lines.join(QLatin1Char('\n'));
}

QString address()
{
    return QStringLiteral("feedback@quorvel.app");
}

QString subject()
{
    return QStringLiteral("Quorvel feedback");
}

QString sendActionTitle()
{
    return QStringLiteral("Send Feedback\u2026");
}

QString body(const Snapshot &snapshot)
{
    QString text = QStringLiteral("What happened, or what would you like to change?\n\n\n\n---\n");
    text += QStringLiteral("Quorvel ") + snapshot.appVersion + QStringLiteral(" (build ")
        + snapshot.buildNumber + QStringLiteral(")\n");
    text += QStringLiteral("System: ") + snapshot.macosVersion + QLatin1Char('\n');
    if (snapshot.diagnostics) {
        text += QStringLiteral("\nDiagnostics (edit before sending if you like):\n");
        text += snapshot.diagnostics->rendered() + QLatin1Char('\n');
    }
    return text;
}

std::optional<QUrl> mailtoURL(const Snapshot &snapshot)
{
    // Mail clients want CRLF line breaks in a link's body; any other break is normalized first.
    static const QRegularExpression lineBreak(QStringLiteral("\\r\\n|\\r|\\n"));
    QString text = body(snapshot);
    text.replace(lineBreak, QStringLiteral("\r\n"));

    // Only unreserved characters stay as they are, so "&", "=", "+", "#" and "%" in the text can never
    // end a field early or change its meaning.
    QByteArray encoded = "mailto:" + QUrl::toPercentEncoding(address(), "@");
    encoded += "?subject=" + QUrl::toPercentEncoding(subject());
    encoded += "&body=" + QUrl::toPercentEncoding(text);
    QUrl url = QUrl::fromEncoded(encoded, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

} // namespace FeedbackMail

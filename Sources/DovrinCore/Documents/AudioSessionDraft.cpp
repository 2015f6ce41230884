#include "Documents/AudioSessionDraft.h"

#include "Documents/JsonFields.h"

#include <QJsonObject>

QJsonObject AudioSessionDraft::toJson() const
{
    return QJsonObject {
        { "startedAt", JsonFields::dateText(startedAt) },
        { "endedAt", JsonFields::dateText(endedAt) },
        { "folder", folder },
        { "othersFile", JsonFields::optionalString(othersFile) },
        { "youFile", JsonFields::optionalString(youFile) },
        { "heardOthers", heardOthers },
        { "heardYou", heardYou },
        { "othersNotWritten", othersNotWritten },
        { "writeFailed", writeFailed },
        { "transcriber", JsonFields::optionalString(transcriber) },
        { "transcriptionIssue", transcriptionIssue },
        { "othersTranscriptionUnavailable", othersTranscriptionUnavailable },
        { "youTranscriptionUnavailable", youTranscriptionUnavailable },
        { "othersText", othersText },
        { "youText", youText },
        { "recordingUnfinished", recordingUnfinished },
    };
}

std::optional<AudioSessionDraft> AudioSessionDraft::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const auto startedAt = JsonFields::date(object.value("startedAt"));
    const auto endedAt = JsonFields::date(object.value("endedAt"));
    const auto folder = JsonFields::string(object.value("folder"));
    const auto othersFile = JsonFields::optionalStringField(object.value("othersFile"));
    const auto youFile = JsonFields::optionalStringField(object.value("youFile"));
    const auto transcriber = JsonFields::optionalStringField(object.value("transcriber"));
    const auto transcriptionIssue = JsonFields::string(object.value("transcriptionIssue"));
    const auto othersText = JsonFields::string(object.value("othersText"));
    const auto youText = JsonFields::string(object.value("youText"));
    if (!startedAt || !endedAt || !folder || folder->isEmpty() || !othersFile || !youFile || !transcriber
        || !transcriptionIssue || !othersText || !youText)
        return std::nullopt;
    AudioSessionDraft draft;
    draft.startedAt = *startedAt;
    draft.endedAt = *endedAt;
    draft.folder = *folder;
    draft.othersFile = *othersFile;
    draft.youFile = *youFile;
    for (const auto &[key, field] :
        { std::pair { "heardOthers", &draft.heardOthers }, std::pair { "heardYou", &draft.heardYou },
            std::pair { "othersNotWritten", &draft.othersNotWritten },
            std::pair { "writeFailed", &draft.writeFailed },
            std::pair { "othersTranscriptionUnavailable", &draft.othersTranscriptionUnavailable },
            std::pair { "youTranscriptionUnavailable", &draft.youTranscriptionUnavailable } }) {
        const std::optional<bool> flag = JsonFields::boolean(object.value(QLatin1String(key)));
        if (!flag)
            return std::nullopt;
        *field = *flag;
    }
    draft.transcriber = *transcriber;
    draft.transcriptionIssue = *transcriptionIssue;
    draft.othersText = *othersText;
    draft.youText = *youText;
    // Kept only by versions that know it; absent means a finished recording.
    draft.recordingUnfinished = object.value("recordingUnfinished").toBool(false);
    return draft;
}

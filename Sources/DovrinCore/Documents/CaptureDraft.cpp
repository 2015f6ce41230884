#include "Documents/CaptureDraft.h"

#include "Documents/EncryptedDraftError.h"
#include "Documents/JsonFields.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

QJsonObject ScrollingCaptureManifest::toJson() const
{
    QJsonArray tileArray;
    for (const ScrollingCaptureTile &tile : tiles) {
        tileArray.append(QJsonObject {
            { "index", tile.index },
            { "pixelWidth", tile.pixelWidth },
            { "pixelHeight", tile.pixelHeight },
            { "documentTop", tile.documentTop },
        });
    }
    return QJsonObject {
        { "pixelWidth", pixelWidth },
        { "pixelHeight", pixelHeight },
        { "tiles", tileArray },
    };
}

std::optional<ScrollingCaptureManifest> ScrollingCaptureManifest::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const auto width = JsonFields::integer(object.value("pixelWidth"));
    const auto height = JsonFields::integer(object.value("pixelHeight"));
    const QJsonValue tileValues = object.value("tiles");
    if (!width || !height || !tileValues.isArray())
        return std::nullopt;
    ScrollingCaptureManifest manifest { *width, *height, {} };
    for (const QJsonValue &item : tileValues.toArray()) {
        const QJsonObject tile = item.toObject();
        const auto index = JsonFields::integer(tile.value("index"));
        const auto tileWidth = JsonFields::integer(tile.value("pixelWidth"));
        const auto tileHeight = JsonFields::integer(tile.value("pixelHeight"));
        const auto top = JsonFields::integer(tile.value("documentTop"));
        if (!index || !tileWidth || !tileHeight || !top)
            return std::nullopt;
        manifest.tiles.append(ScrollingCaptureTile { *index, *tileWidth, *tileHeight, *top });
    }
    return manifest;
}

CaptureDraft::CaptureDraft(QUuid id, QDateTime createdAt, QDateTime updatedAt, QDateTime observedAt,
    QByteArray pngData, std::optional<QString> recognizedText, QString reviewedText, QStringList ocrLanguages,
    QList<CaptureTextObservation> observations, std::optional<QString> applicationName,
    std::optional<QString> applicationBundleID, QString title, QString note, QStringList tags,
    std::optional<ScrollingCaptureManifest> scrollingCapture, std::optional<FolderAccess> destinationFolder,
    std::optional<AudioSessionDraft> audioSession)
    : id(id)
    , createdAt(std::move(createdAt))
    , updatedAt(std::move(updatedAt))
    , observedAt(std::move(observedAt))
    , pngData(std::move(pngData))
    , recognizedText(std::move(recognizedText))
    , reviewedText(std::move(reviewedText))
    , ocrLanguages(std::move(ocrLanguages))
    , observations(std::move(observations))
    , applicationName(std::move(applicationName))
    , applicationBundleID(std::move(applicationBundleID))
    , title(std::move(title))
    , note(std::move(note))
    , tags(std::move(tags))
    , scrollingCapture(std::move(scrollingCapture))
    , destinationFolder(std::move(destinationFolder))
    , audioSession(std::move(audioSession))
{
    if (this->pngData.size() > maximumPNGBytes)
        throw EncryptedDraftError(EncryptedDraftError::Code::imageTooLarge);
}

namespace {

constexpr char pngKey[] = "pngData";
constexpr char pngTailMarker[] = ",\"pngData\":\"";

// The PNG signature followed by the length and type of the header chunk that must come first.
bool startsLikePNG(const QByteArray &data)
{
    static constexpr char signature[] = "\x89PNG\r\n\x1a\n";
    return data.size() >= 16 && data.startsWith(QByteArrayView(signature, 8))
        && data.mid(8, 8) == QByteArrayView("\0\0\0\x0dIHDR", 8);
}

} // namespace

QByteArray CaptureDraft::encodeJson() const
{
    QJsonArray observationArray;
    for (const CaptureTextObservation &observation : observations)
        observationArray.append(observation.toJson());
    QJsonObject object {
        { "formatVersion", audioSession ? 2 : 1 },
        { "id", JsonFields::uuidText(id) },
        { "createdAt", JsonFields::dateText(createdAt) },
        { "updatedAt", JsonFields::dateText(updatedAt) },
        { "observedAt", JsonFields::dateText(observedAt) },
        { "recognizedText", JsonFields::optionalString(recognizedText) },
        { "reviewedText", reviewedText },
        { "ocrLanguages", JsonFields::stringArray(ocrLanguages) },
        { "observations", observationArray },
        { "applicationName", JsonFields::optionalString(applicationName) },
        { "applicationBundleID", JsonFields::optionalString(applicationBundleID) },
        { "title", title },
        { "note", note },
        { "tags", JsonFields::stringArray(tags) },
        { "scrollingCapture", scrollingCapture ? QJsonValue(scrollingCapture->toJson()) : QJsonValue() },
        { "destinationFolder", destinationFolder ? QJsonValue(destinationFolder->toJson()) : QJsonValue() },
    };
    if (audioSession)
        object.insert("audioSession", audioSession->toJson());
    // The image goes in last as plain bytes: base64 needs no JSON escaping, and a large screenshot
    // would otherwise pass through two string conversions.
    QByteArray json = QJsonDocument(object).toJson(QJsonDocument::Compact);
    json.chop(1);
    json.reserve(json.size() + (pngData.size() + 2) / 3 * 4 + 32);
    json += pngTailMarker;
    JsonFields::appendBase64(json, pngData);
    json += "\"}";
    return json;
}

std::optional<CaptureDraft> CaptureDraft::decodeJson(const QByteArray &json, bool *newerFormat)
{
    if (newerFormat)
        *newerFormat = false;
    // encodeJson puts the image last; taking it off by hand spares the parser megabytes of text.
    // Anything else (or a tail that is not clean base64) goes through the parser whole.
    QByteArray head = json;
    std::optional<QByteArray> tailPNG;
    if (json.endsWith("\"}")) {
        const qsizetype at = json.indexOf(pngTailMarker);
        const qsizetype start = at + qsizetype(sizeof(pngTailMarker) - 1);
        // The marker's closing quote may be the one the text ends with: no room for an image.
        if (at > 0 && start <= json.size() - 2) {
            tailPNG = JsonFields::decodeBase64(QByteArrayView(json).sliced(start, json.size() - 2 - start));
            if (tailPNG)
                head = json.left(at) + '}';
        }
    }

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(head, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue versionValue = object.value("formatVersion");
    const std::optional<int> version = versionValue.isUndefined() ? 1 : JsonFields::integer(versionValue);
    if (!version || *version < 1)
        return std::nullopt;
    if (*version > formatVersion) {
        if (newerFormat)
            *newerFormat = true;
        return std::nullopt;
    }
    if (tailPNG && object.contains(pngKey))
        return std::nullopt;

    const auto id = JsonFields::uuid(object.value("id"));
    const auto createdAt = JsonFields::date(object.value("createdAt"));
    const auto updatedAt = JsonFields::date(object.value("updatedAt"));
    const auto observedAt = JsonFields::date(object.value("observedAt"));
    const auto png = tailPNG ? tailPNG : JsonFields::base64(object.value(pngKey));
    const auto recognizedText = JsonFields::optionalStringField(object.value("recognizedText"));
    const auto reviewedText = JsonFields::string(object.value("reviewedText"));
    const auto languages = JsonFields::strings(object.value("ocrLanguages"));
    const auto applicationName = JsonFields::optionalStringField(object.value("applicationName"));
    const auto applicationBundleID = JsonFields::optionalStringField(object.value("applicationBundleID"));
    const auto title = JsonFields::string(object.value("title"));
    const auto note = JsonFields::string(object.value("note"));
    const auto tags = JsonFields::strings(object.value("tags"));
    if (!id || !createdAt || !updatedAt || !observedAt || !png || !recognizedText || !reviewedText
        || !languages || !applicationName || !applicationBundleID || !title || !note || !tags)
        return std::nullopt;
    if (png->size() > maximumPNGBytes)
        return std::nullopt;

    const QJsonValue observationValues = object.value("observations");
    if (!observationValues.isArray())
        return std::nullopt;
    QList<CaptureTextObservation> observations;
    for (const QJsonValue &item : observationValues.toArray()) {
        const auto observation = CaptureTextObservation::fromJson(item.toObject());
        if (!observation || !item.isObject())
            return std::nullopt;
        observations.append(*observation);
    }

    std::optional<ScrollingCaptureManifest> manifest;
    const QJsonValue manifestValue = object.value("scrollingCapture");
    if (!manifestValue.isNull() && !manifestValue.isUndefined()) {
        manifest = ScrollingCaptureManifest::fromJson(manifestValue);
        if (!manifest)
            return std::nullopt;
    }
    std::optional<FolderAccess> destination;
    const QJsonValue destinationValue = object.value("destinationFolder");
    if (!destinationValue.isNull() && !destinationValue.isUndefined()) {
        destination = FolderAccess::fromJson(destinationValue);
        if (!destination)
            return std::nullopt;
    }

    std::optional<AudioSessionDraft> audioSession;
    const QJsonValue audioValue = object.value("audioSession");
    if (!audioValue.isNull() && !audioValue.isUndefined()) {
        audioSession = AudioSessionDraft::fromJson(audioValue);
        if (!audioSession)
            return std::nullopt;
    }

    // The image is a PNG, or none at all (a scrolling capture keeps its image in tiles).
    if (!png->isEmpty() && !startsLikePNG(*png))
        return std::nullopt;

    return CaptureDraft(*id, *createdAt, *updatedAt, *observedAt, *png, *recognizedText, *reviewedText,
        *languages, observations, *applicationName, *applicationBundleID, *title, *note, *tags, manifest,
        destination, audioSession);
}

#pragma once

#include "Documents/AudioSessionDraft.h"
#include "Documents/CaptureTextObservation.h"
#include "Documents/FolderBookmark.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

// One stored tile of a scrolling capture.
struct ScrollingCaptureTile
{
    // The tile's number in the draft store.
    int index = 0;
    int pixelWidth = 0;
    int pixelHeight = 0;
    // The document row of the tile's first row.
    int documentTop = 0;

    bool operator==(const ScrollingCaptureTile &) const = default;
};

// The layout of a scrolling capture's tiles.
struct ScrollingCaptureManifest
{
    // The whole document in pixels.
    int pixelWidth = 0;
    int pixelHeight = 0;
    // In document order.
    QList<ScrollingCaptureTile> tiles;

    bool operator==(const ScrollingCaptureManifest &) const = default;

    QJsonObject toJson() const;
    static std::optional<ScrollingCaptureManifest> fromJson(const QJsonValue &value);
};

// The unsaved capture under review: a region or scrolling capture, or an audio session's review.
struct CaptureDraft
{
    static constexpr qsizetype maximumPNGBytes = 33'554'432;
    // Written into every draft. A later version that changes the fields raises it, so this version
    // can tell a draft it would misread from a damaged one; drafts without it are format 1. The
    // highest this version reads: an audio session's draft is format 2 (a version that knows only
    // format 1 would take it for an empty screen capture), every other draft stays format 1.
    static constexpr int formatVersion = 2;

    // Throws EncryptedDraftError imageTooLarge when pngData is larger than maximumPNGBytes.
    CaptureDraft(QUuid id, QDateTime createdAt, QDateTime updatedAt, QDateTime observedAt, QByteArray pngData,
        std::optional<QString> recognizedText, QString reviewedText, QStringList ocrLanguages,
        QList<CaptureTextObservation> observations, std::optional<QString> applicationName,
        std::optional<QString> applicationBundleID, QString title, QString note, QStringList tags,
        std::optional<ScrollingCaptureManifest> scrollingCapture,
        std::optional<FolderAccess> destinationFolder, std::optional<AudioSessionDraft> audioSession = {});

    QUuid id;
    QDateTime createdAt;
    QDateTime updatedAt;
    QDateTime observedAt;
    QByteArray pngData;
    std::optional<QString> recognizedText;
    QString reviewedText;
    QStringList ocrLanguages;
    QList<CaptureTextObservation> observations;
    std::optional<QString> applicationName;
    std::optional<QString> applicationBundleID;
    QString title;
    QString note;
    QStringList tags;
    std::optional<ScrollingCaptureManifest> scrollingCapture;
    std::optional<FolderAccess> destinationFolder;
    // Set for an audio session's review, which has no image and no recognized text.
    std::optional<AudioSessionDraft> audioSession;

    bool operator==(const CaptureDraft &) const = default;

    // UTF-8 JSON with the field names as keys.
    QByteArray encodeJson() const;
    // None when the data is not a complete draft (or its image is too large), or when a newer version
    // wrote it: then `newerFormat` (when given) is set, and no field is looked at.
    static std::optional<CaptureDraft> decodeJson(const QByteArray &json, bool *newerFormat = nullptr);
};

#pragma once

#include "Async/Task.h"
#include "Documents/CaptureDraft.h"
#include "Documents/CaptureMarkdown.h"
#include "Rules/SaveOnceGate.h"

#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QTimeZone>
#include <QUuid>

#include <functional>
#include <optional>

struct AppSettings;

// The state of one open capture review. The review window binds to it and edits the fields the user
// sees; the model fills it from the draft and writes back what its own work changes. `changed()`
// announces every change of a published field. Main thread only.
class ReviewSession : public QObject
{
    Q_OBJECT

public:
    // Reads tile `index` of the reviewed scrolling capture off the main thread, shrunk to fit in
    // `atMost` pixels when it is larger (an empty size keeps every pixel); none when it cannot.
    using TileLoader = std::function<Task<std::optional<QImage>>(int index, QSize atMost)>;

    // Opens a review of `draft` with the still `image` (null when none), showing `statusText`. The
    // destination shown falls back to the settings' capture folder.
    ReviewSession(const CaptureDraft &draft, QImage image, const AppSettings &settings, QString statusText,
        TileLoader tileLoader, QObject *parent = nullptr);

    const QUuid id;
    const QImage image;
    const std::optional<ScrollingCaptureManifest> scrollingCapture;
    const QDateTime observedAt;
    // File names are made in the zone the review opened in.
    const QTimeZone filenameTimeZone;
    SaveOnceGate saveGate;
    const TileLoader scrollingTileLoader;

    QString title() const { return m_title; }
    QString note() const { return m_note; }
    QString tagsText() const { return m_tagsText; }
    QString reviewedText() const { return m_reviewedText; }
    bool includeApplication() const { return m_includeApplication; }
    QString applicationName() const { return m_applicationName; }
    QString applicationBundleID() const { return m_applicationBundleID; }
    QString destinationDisplayPath() const { return m_destinationDisplayPath; }
    const std::optional<FolderAccess> &destinationFolder() const { return m_destinationFolder; }
    double zoom() const { return m_zoom; }
    QString statusText() const { return m_statusText; }
    bool isSaving() const { return m_isSaving; }
    bool isOCRRunning() const { return m_isOCRRunning; }

    void setTitle(const QString &title) { edit(m_title, title); }
    void setNote(const QString &note) { edit(m_note, note); }
    void setTagsText(const QString &tagsText) { edit(m_tagsText, tagsText); }
    void setReviewedText(const QString &text) { edit(m_reviewedText, text); }
    void setIncludeApplication(bool include) { edit(m_includeApplication, include); }
    void setApplicationName(const QString &name) { edit(m_applicationName, name); }
    void setApplicationBundleID(const QString &bundleID) { edit(m_applicationBundleID, bundleID); }
    void setDestination(const FolderAccess &folder);
    // The folder shown when the review has none of its own (the settings' capture folder).
    void setDestinationDisplayPath(const QString &path) { set(m_destinationDisplayPath, path); }
    void setZoom(double zoom) { set(m_zoom, zoom); }
    void setStatusText(const QString &text) { set(m_statusText, text); }
    void setSaving(bool saving) { set(m_isSaving, saving); }
    void setOCRRunning(bool running) { set(m_isOCRRunning, running); }

    // What Save writes: the trimmed title (else "Untitled capture"), the application only while it
    // is included, the parsed tags, the note and text as typed, reviewed by the user. The recognition
    // languages are the saver's to fill in.
    CaptureMarkdownDocument document() const;
    // Not while saving, after a successful save, without a destination or while OCR runs.
    bool canSave() const;

signals:
    void changed();
    // A field that the encrypted draft keeps changed (title, note, tags, text, application); follows
    // changed().
    void edited();

private:
    template <typename T> bool set(T &field, const T &value)
    {
        if (field == value)
            return false;
        field = value;
        emit changed();
        return true;
    }
    template <typename T> void edit(T &field, const T &value)
    {
        if (set(field, value))
            emit edited();
    }

    QString m_title;
    QString m_note;
    QString m_tagsText;
    QString m_reviewedText;
    bool m_includeApplication = false;
    QString m_applicationName;
    QString m_applicationBundleID;
    QString m_destinationDisplayPath;
    std::optional<FolderAccess> m_destinationFolder;
    double m_zoom = 1.0;
    QString m_statusText;
    bool m_isSaving = false;
    bool m_isOCRRunning = false;
};

#include "Model/ReviewSession.h"

#include "Documents/AppSettingsStore.h"
#include "Rules/OCRLayout.h"

namespace {

std::optional<QString> trimmedOrNone(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}

QString shownDestination(const std::optional<FolderAccess> &own, const AppSettings &settings)
{
    for (const std::optional<FolderAccess> *folder :
        { &own, &settings.defaultFolder, &settings.lastUsedFolder }) {
        if (*folder)
            return (*folder)->displayPath;
    }
    return QString();
}

} // namespace

ReviewSession::ReviewSession(const CaptureDraft &draft, QImage image, const AppSettings &settings,
    QString statusText, TileLoader tileLoader, QObject *parent)
    : QObject(parent)
    , id(draft.id)
    , image(std::move(image))
    , scrollingCapture(draft.scrollingCapture)
    , observedAt(draft.observedAt)
    , filenameTimeZone(QTimeZone::systemTimeZone())
    , scrollingTileLoader(std::move(tileLoader))
    , m_title(draft.title)
    , m_note(draft.note)
    , m_tagsText(draft.tags.join(QStringLiteral(", ")))
    , m_reviewedText(draft.reviewedText)
    , m_includeApplication(draft.applicationName || draft.applicationBundleID)
    , m_applicationName(draft.applicationName.value_or(QString()))
    , m_applicationBundleID(draft.applicationBundleID.value_or(QString()))
    , m_destinationDisplayPath(shownDestination(draft.destinationFolder, settings))
    , m_destinationFolder(draft.destinationFolder)
    , m_statusText(std::move(statusText))
{ }

void ReviewSession::setDestination(const FolderAccess &folder)
{
    m_destinationFolder = folder;
    m_destinationDisplayPath = folder.displayPath;
    emit changed();
}

CaptureMarkdownDocument ReviewSession::document() const
{
    CaptureMarkdownDocument document;
    document.id = id;
    document.capturedAt = observedAt;
    document.title = trimmedOrNone(m_title).value_or(QStringLiteral("Untitled capture"));
    if (m_includeApplication) {
        document.sourceApplication = trimmedOrNone(m_applicationName);
        document.sourceBundleID = trimmedOrNone(m_applicationBundleID);
    }
    document.reviewedByUser = true;
    document.screenshotRetained = false;
    document.tags = OCRLayout::parseTags(m_tagsText);
    document.note = m_note;
    document.capturedText = m_reviewedText;
    return document;
}

bool ReviewSession::canSave() const
{
    return !m_isSaving && !saveGate.hasSucceeded() && !m_destinationDisplayPath.isEmpty() && !m_isOCRRunning;
}

#include "Settings/DefaultFolderChoice.h"

#include "Documents/DefaultsStore.h"
#include "Documents/FolderBookmark.h"
#include "Model/AppModel.h"
#include "Services/FolderPicker.h"

#include <QUrl>

namespace DefaultFolderChoice {

void choose(AppModel &model, const FolderPicker &picker)
{
    if (!picker.present)
        return;
    std::optional<QString> start;
    if (model.settings().defaultFolder)
        start = model.settings().defaultFolder->displayPath;
    const std::optional<QString> chosen = picker.present(start, QStringLiteral("Use This Folder"),
        QStringLiteral("Choose a folder for Markdown captures. Files stay on this computer."));
    if (!chosen)
        return;
    AppSettings settings = model.settings();
    try {
        settings.defaultFolder = FolderBookmark::make(QUrl::fromLocalFile(*chosen));
    } catch (const FolderBookmarkError &) {
        model.flowContext().setStatusMessage(QStringLiteral("That folder could not be remembered"));
        return;
    }
    model.updateSettings(settings);
    // A failed save already says so; "saved" would hide it.
    if (!model.flowContext().defaults().writeFailure())
        model.flowContext().setStatusMessage(QStringLiteral("Capture folder saved"));
}

} // namespace DefaultFolderChoice

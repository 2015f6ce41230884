#include "Settings/DefaultFolderChoice.h"

#include "Documents/DefaultsStore.h"
#include "Documents/FolderBookmark.h"
#include "Model/AppModel.h"
#include "Services/FolderPicker.h"

#include <QUrl>

namespace DefaultFolderChoice {

// The model is the task's owner (its first argument): the task ends with it.
Task<> choose(AppModel &model, FolderPicker picker, QWidget *parent)
{
    if (!picker.present)
        co_return;
    std::optional<QString> start;
    if (model.settings().defaultFolder)
        start = model.settings().defaultFolder->displayPath;
    Task<std::optional<QString>> choosing = picker.present(parent, start, QStringLiteral("Use This Folder"),
        QStringLiteral("Choose a folder for Markdown captures. Files stay on this computer."));
    const std::optional<QString> chosen = co_await choosing;
    if (!chosen)
        co_return;
    AppSettings settings = model.settings();
    try {
        settings.defaultFolder = FolderBookmark::make(QUrl::fromLocalFile(*chosen));
    } catch (const FolderBookmarkError &) {
        model.flowContext().setStatusMessage(QStringLiteral("That folder could not be remembered"));
        co_return;
    }
    model.updateSettings(settings);
    // A failed save already says so; "saved" would hide it.
    if (!model.flowContext().defaults().writeFailure())
        model.flowContext().setStatusMessage(QStringLiteral("Capture folder saved"));
}

} // namespace DefaultFolderChoice

#pragma once

class AppModel;
struct FolderPicker;

// Choosing the default capture folder: the picker, then the folder's bookmark into the settings.
namespace DefaultFolderChoice {

// A cancelled picker changes nothing; a folder that cannot be remembered keeps the old one and says so.
void choose(AppModel &model, const FolderPicker &picker);

} // namespace DefaultFolderChoice

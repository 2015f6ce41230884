#pragma once

#include "Async/Task.h"

class AppModel;
class QWidget;
struct FolderPicker;

// Choosing the default capture folder: the picker, then the folder's bookmark into the settings.
namespace DefaultFolderChoice {

// Opens the picker over `parent`, the window that asked. A cancelled picker changes nothing; a
// folder that cannot be remembered keeps the old one and says so.
Task<> choose(AppModel &model, FolderPicker picker, QWidget *parent);

} // namespace DefaultFolderChoice

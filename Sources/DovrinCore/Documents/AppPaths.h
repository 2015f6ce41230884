#pragma once

#include <QString>

// Where the app keeps its own files, following the XDG base directory rules.
namespace AppPaths {

// The app's identity on disk: the folder name under the data and config homes.
inline constexpr char bundleIdentifier[] = "com.quorvel.dovrin";

// The settings record's defaults suite.
inline constexpr char settingsSuiteName[] = "com.quorvel.dovrin.settings";

// $XDG_DATA_HOME, or ~/.local/share when it is unset, empty or not absolute.
QString dataHome();
// $XDG_CONFIG_HOME, or ~/.config when it is unset, empty or not absolute.
QString configHome();

// The draft store, its key and the self-test report live here.
QString dataDirectory();
// The settings suites live here.
QString configDirectory();

} // namespace AppPaths

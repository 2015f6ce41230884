#pragma once

#include <optional>

// Where the arrow keys move the selection in the recent-captures list: one step, no wrap-around.
namespace RecentCaptureNavigation {

enum class Direction { up, down };

// The index to select in a list of `count` entries from `current` (none selected); none for an empty
// list. Down from nothing is the first entry, up from nothing the last; at either end it stays.
std::optional<int> targetIndex(int count, std::optional<int> current, Direction direction);

} // namespace RecentCaptureNavigation

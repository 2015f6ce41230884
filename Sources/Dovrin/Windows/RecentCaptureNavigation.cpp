#include "Windows/RecentCaptureNavigation.h"

#include <algorithm>

std::optional<int> RecentCaptureNavigation::targetIndex(
    int count, std::optional<int> current, Direction direction)
{
    if (count < 1)
        return std::nullopt;
    if (direction == Direction::down)
        return current ? std::min(*current + 1, count - 1) : 0;
    return current ? std::max(*current - 1, 0) : count - 1;
}

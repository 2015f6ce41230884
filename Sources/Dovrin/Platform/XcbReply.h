#pragma once

#include <cstdlib>
#include <memory>

// What xcb hands back allocated (a reply, an error, a keycode list), freed with free() when it goes.
struct XcbFree
{
    void operator()(void *memory) const { std::free(memory); }
};
template <typename T> using XcbReply = std::unique_ptr<T, XcbFree>;

template <typename T> XcbReply<T> xcbReply(T *value)
{
    return XcbReply<T>(value);
}

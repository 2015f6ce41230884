#pragma once

// Memory the program has freed, given back to the system. The C library keeps freed blocks in its
// heaps for reuse, one heap per thread that allocated, and by default raises the size from which a
// block gets pages of its own to the largest block freed so far: after the stills, frames and tiles
// of a capture (megabytes each) are freed, they stay in the heaps, and the resident size of a
// program that runs all day stays where its biggest capture took it, or grows.
#include <chrono>

namespace FreedMemory {

// Large blocks get pages of their own, given back as soon as they are freed, and every heap gives
// back what is free at its end beyond a little. Call once, first thing in main().
void keepHeapsSmall();
// Gives back every whole free page in the heaps. Takes some milliseconds: not on the main thread.
void returnToSystem();
// The same on a worker thread; calls that come while one is waiting to run add nothing.
void returnToSystemSoon();
// returnToSystemSoon() after `delay`, asked from any thread: for what threads free as they end,
// after their last own call could give it back. A call while one waits moves it later.
void returnToSystemAfter(std::chrono::milliseconds delay);
// How many times freed memory has been given back so far.
int returnedCount();

} // namespace FreedMemory

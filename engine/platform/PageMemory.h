// Whole pages from the system, for stores that keep a large, long-lived working set (the
// lines of a scrollback) and touch it in an order no cache predicts.
#pragma once

#include <cstddef>

namespace corvantix {

// `bytes` (a multiple of `alignment`, itself a power of two and a multiple of the page size)
// of zeroed memory aligned to `alignment`, asked to be backed by large pages where the system
// offers them; null when the system refuses. Large pages spare the address translation a
// miss per line would otherwise cost; without them the memory works the same.
void* mapAlignedPages(std::size_t bytes, std::size_t alignment);
// Whether the system backs memory asked for large pages with them (read once). Where it
// never does, packing blocks into chunks of small pages gains nothing.
bool largePagesAvailable();
// Gives back memory from mapAlignedPages (the same size).
void unmapPages(void* memory, std::size_t bytes);

} // namespace corvantix

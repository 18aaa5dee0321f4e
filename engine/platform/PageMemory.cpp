#include "platform/PageMemory.h"

#include <cstdint>
#include <fstream>
#include <string>

#include <sys/mman.h>

namespace corvantix {

void* mapAlignedPages(std::size_t bytes, std::size_t alignment)
{
    if (bytes == 0 || alignment == 0 || bytes % alignment != 0 || (alignment & (alignment - 1)) != 0)
        return nullptr;
    // Map one alignment more than asked and hand back the unaligned ends.
    const std::size_t span = bytes + alignment;
    if (span < bytes)
        return nullptr;
    void* mapped = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + alignment - 1) & ~(static_cast<std::uintptr_t>(alignment) - 1);
    if (const std::size_t head = aligned - start; head != 0)
        munmap(mapped, head);
    if (const std::size_t tail = span - (aligned - start) - bytes; tail != 0)
        munmap(reinterpret_cast<void*>(aligned + bytes), tail);
    void* memory = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    // Advice only: a system without large pages keeps small ones.
    madvise(memory, bytes, MADV_HUGEPAGE);
#endif
    return memory;
}

bool largePagesAvailable()
{
    // "always [madvise] never": the bracketed word is the setting; a missing file means none.
    static const bool available = [] {
        std::ifstream setting("/sys/kernel/mm/transparent_hugepage/enabled");
        std::string text;
        std::getline(setting, text);
        return text.find("[always]") != std::string::npos || text.find("[madvise]") != std::string::npos;
    }();
    return available;
}

void unmapPages(void* memory, std::size_t bytes)
{
    if (memory != nullptr && bytes != 0)
        munmap(memory, bytes);
}

} // namespace corvantix

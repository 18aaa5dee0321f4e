// Where lines keep their cells and themselves: blocks of one size packed into large aligned
// chunks, one size to a chunk.
//
// A full scrollback is tens of megabytes that output walks through one line per line feed,
// always at the line least recently touched. Spread over the general heap in small pages,
// every line feed then pays for address translation twice (the line and its cells) on top
// of the memory it writes; packed into chunks backed by large pages it pays for neither.
// Sizes above largestBlockBytes, every block when the system has no large pages, and every
// block when it gives no chunk, come from the general heap. Builds with the address sanitizer use the general heap only, so every
// block keeps its own guard zones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>
#include <unordered_map>
#include <unordered_set>

namespace corvantix {

class LineArena {
public:
    static constexpr std::size_t chunkBytes = std::size_t{2} << 20;
    static constexpr std::size_t largestBlockBytes = std::size_t{256} << 10;
    // Blocks are rounded up to this, and start on it: a cache line.
    static constexpr std::size_t granuleBytes = 64;
    // The span of addresses after which a common second-level cache's sets repeat, and how
    // many granules a chunk's first block may be moved by to change where its blocks fall
    // in them.
    static constexpr std::size_t colourBytes = std::size_t{128} << 10;
    static constexpr std::size_t colours = 32;

    // The process's arena; any thread may use it (one lock, taken per block, not per cell).
    static LineArena& shared();

    LineArena() = default;
    ~LineArena();
    LineArena(const LineArena&) = delete;
    LineArena& operator=(const LineArena&) = delete;

    // Never null: throws std::bad_alloc as operator new does.
    void* allocate(std::size_t bytes);
    // `bytes` as given to allocate.
    void deallocate(void* block, std::size_t bytes) noexcept;

    // Chunks held (spares included) and blocks live in them.
    std::size_t chunkCount() const;
    std::size_t liveBlockCount() const;

private:
    struct Chunk;
    struct SizeClass {
        Chunk* partial = nullptr; // chunks with a free slot, most recently freed into first
        Chunk* spare = nullptr;   // one empty chunk kept so a size used and let go does not map anew
        std::size_t chunksMade = 0;
    };

    static std::size_t slotBytesFor(std::size_t bytes);
    Chunk* newChunk(std::size_t slotBytes, std::size_t serial);
    void releaseChunk(Chunk* chunk);
    static void linkPartial(SizeClass& sizeClass, Chunk* chunk);
    static void unlinkPartial(SizeClass& sizeClass, Chunk* chunk);

    mutable std::mutex lock_;
    std::unordered_map<std::size_t, SizeClass> classes_;
    std::unordered_set<std::uintptr_t> chunks_;
    std::size_t liveBlocks_ = 0;
};

// A standard allocator over the shared arena, for std::allocate_shared and containers.
template <typename T>
struct LineArenaAllocator {
    using value_type = T;
    LineArenaAllocator() = default;
    template <typename U>
    LineArenaAllocator(const LineArenaAllocator<U>&) noexcept
    {
    }
    T* allocate(std::size_t n)
    {
        if (n > static_cast<std::size_t>(-1) / sizeof(T))
            throw std::bad_array_new_length();
        return static_cast<T*>(LineArena::shared().allocate(n * sizeof(T)));
    }
    void deallocate(T* block, std::size_t n) noexcept { LineArena::shared().deallocate(block, n * sizeof(T)); }
    template <typename U>
    friend bool operator==(const LineArenaAllocator&, const LineArenaAllocator<U>&) noexcept
    {
        return true;
    }
};

} // namespace corvantix

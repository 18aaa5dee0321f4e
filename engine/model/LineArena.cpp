#include "model/LineArena.h"

#include <algorithm>
#include <utility>

#include "platform/PageMemory.h"

#if defined(__SANITIZE_ADDRESS__)
#define CORVANTIX_LINE_ARENA_OFF 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANTIX_LINE_ARENA_OFF 1
#endif
#endif

namespace corvantix {

// The head of a chunk, in its first granules; slots follow. A freed slot holds the link to
// the next freed one in its first bytes.
struct alignas(LineArena::granuleBytes) LineArena::Chunk {
    std::size_t slotBytes = 0;
    std::size_t capacity = 0; // slots
    std::size_t fresh = 0;    // slots handed out at least once, from the front
    std::size_t firstSlot = 0;    // bytes from slots() to the first slot: the chunk's colour
    std::size_t slotsPerRun = 1;  // slots between two one-granule gaps
    std::size_t live = 0;
    void* freed = nullptr;
    Chunk* previous = nullptr;
    Chunk* next = nullptr;
    bool inPartial = false;

    // Aligned to a granule, so the first slot starts on one.
    char* slots() { return reinterpret_cast<char*>(this + 1); }
    char* slot(std::size_t index)
    {
        return slots() + firstSlot + index * slotBytes + index / slotsPerRun * LineArena::granuleBytes;
    }
    bool full() const { return freed == nullptr && fresh == capacity; }
};

LineArena& LineArena::shared()
{
    // Never destroyed: lines held by other static objects may be freed after exit begins.
    static LineArena* const arena = new LineArena();
    return *arena;
}

LineArena::~LineArena()
{
    for (const std::uintptr_t base : chunks_)
        unmapPages(reinterpret_cast<void*>(base), chunkBytes);
}

std::size_t LineArena::slotBytesFor(std::size_t bytes)
{
    return (std::max<std::size_t>(bytes, 1) + granuleBytes - 1) / granuleBytes * granuleBytes;
}

void* LineArena::allocate(std::size_t bytes)
{
#ifndef CORVANTIX_LINE_ARENA_OFF
    if (bytes <= largestBlockBytes && largePagesAvailable()) {
        const std::size_t slotBytes = slotBytesFor(bytes);
        const std::lock_guard guard(lock_);
        SizeClass& sizeClass = classes_[slotBytes];
        Chunk* chunk = sizeClass.partial;
        if (chunk == nullptr) {
            if (sizeClass.spare != nullptr) {
                chunk = std::exchange(sizeClass.spare, nullptr);
            } else {
                chunk = newChunk(slotBytes, sizeClass.chunksMade++);
            }
            if (chunk != nullptr)
                linkPartial(sizeClass, chunk);
        }
        if (chunk != nullptr) {
            void* block = nullptr;
            if (chunk->freed != nullptr) {
                block = chunk->freed;
                chunk->freed = *static_cast<void**>(block);
            } else {
                block = chunk->slot(chunk->fresh);
                ++chunk->fresh;
            }
            ++chunk->live;
            ++liveBlocks_;
            if (chunk->full())
                unlinkPartial(sizeClass, chunk);
            return block;
        }
    }
#endif
    return ::operator new(bytes);
}

void LineArena::deallocate(void* block, std::size_t bytes) noexcept
{
    if (block == nullptr)
        return;
#ifndef CORVANTIX_LINE_ARENA_OFF
    // Without large pages no block came from a chunk: no lock to take.
    if (bytes <= largestBlockBytes && largePagesAvailable()) {
        const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(block) & ~(chunkBytes - 1);
        const std::lock_guard guard(lock_);
        // A block the heap gave when no chunk could be mapped is not inside any chunk.
        if (chunks_.contains(base)) {
            auto* chunk = reinterpret_cast<Chunk*>(base);
            SizeClass& sizeClass = classes_[chunk->slotBytes];
            *static_cast<void**>(block) = chunk->freed;
            chunk->freed = block;
            --chunk->live;
            --liveBlocks_;
            if (!chunk->inPartial)
                linkPartial(sizeClass, chunk);
            if (chunk->live == 0) {
                unlinkPartial(sizeClass, chunk);
                if (sizeClass.spare == nullptr)
                    sizeClass.spare = chunk;
                else
                    releaseChunk(chunk);
            }
            return;
        }
    }
#endif
    (void)bytes;
    ::operator delete(block);
}

LineArena::Chunk* LineArena::newChunk(std::size_t slotBytes, std::size_t serial)
{
    void* memory = mapAlignedPages(chunkBytes, chunkBytes);
    if (memory == nullptr)
        return nullptr;
    try {
        chunks_.insert(reinterpret_cast<std::uintptr_t>(memory));
    } catch (...) {
        unmapPages(memory, chunkBytes);
        return nullptr;
    }
    auto* chunk = new (memory) Chunk();
    chunk->slotBytes = slotBytes;
    // Blocks of one size at a fixed stride put the same field of every line into a fraction
    // of a cache's sets whenever the stride shares factors of two with the cache's set span
    // (a 256-byte line object uses a quarter of them), and every chunk repeats the same
    // sets: a full scrollback then misses the cache on each line feed although it would
    // fit. A one-granule gap after each colour span of slots, and each new chunk of a size
    // starting where the last one's gaps left off, spread the blocks over all the sets.
    chunk->slotsPerRun = std::max<std::size_t>(colourBytes / slotBytes, 1);
    const std::size_t runBytes = chunk->slotsPerRun * slotBytes + granuleBytes;
    const std::size_t runsPerChunk = chunkBytes / runBytes + 1;
    chunk->firstSlot = serial * runsPerChunk % colours * granuleBytes;
    const std::size_t usable = chunkBytes - sizeof(Chunk) - chunk->firstSlot;
    chunk->capacity = usable / runBytes * chunk->slotsPerRun
        + std::min(chunk->slotsPerRun, usable % runBytes / slotBytes);
    return chunk;
}

void LineArena::releaseChunk(Chunk* chunk)
{
    chunks_.erase(reinterpret_cast<std::uintptr_t>(chunk));
    chunk->~Chunk();
    unmapPages(chunk, chunkBytes);
}

void LineArena::linkPartial(SizeClass& sizeClass, Chunk* chunk)
{
    chunk->previous = nullptr;
    chunk->next = sizeClass.partial;
    if (sizeClass.partial != nullptr)
        sizeClass.partial->previous = chunk;
    sizeClass.partial = chunk;
    chunk->inPartial = true;
}

void LineArena::unlinkPartial(SizeClass& sizeClass, Chunk* chunk)
{
    if (!chunk->inPartial)
        return;
    if (chunk->previous != nullptr)
        chunk->previous->next = chunk->next;
    else
        sizeClass.partial = chunk->next;
    if (chunk->next != nullptr)
        chunk->next->previous = chunk->previous;
    chunk->previous = chunk->next = nullptr;
    chunk->inPartial = false;
}

std::size_t LineArena::chunkCount() const
{
    const std::lock_guard guard(lock_);
    return chunks_.size();
}

std::size_t LineArena::liveBlockCount() const
{
    const std::lock_guard guard(lock_);
    return liveBlocks_;
}

} // namespace corvantix

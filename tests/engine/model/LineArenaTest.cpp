#include "model/LineArena.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "model/BufferLine.h"

namespace corvantix {
namespace {

// False where blocks come from the general heap: sanitizer builds, no large pages.
bool arenaInUse()
{
    LineArena arena;
    void* block = arena.allocate(100);
    const bool inChunk = arena.chunkCount() == 1;
    arena.deallocate(block, 100);
    return inChunk;
}

TEST(LineArena, BlocksAreDistinctAlignedAndKeepTheirContents)
{
    LineArena arena;
    constexpr std::size_t sizes[] = {1, 24, 64, 65, 1920, 4800, LineArena::largestBlockBytes,
                                     LineArena::largestBlockBytes + 1, 1 << 20};
    struct Held {
        unsigned char* block;
        std::size_t bytes;
        unsigned char fill;
    };
    std::vector<Held> held;
    for (int round = 0; round < 40; ++round) {
        for (const std::size_t bytes : sizes) {
            auto* block = static_cast<unsigned char*>(arena.allocate(bytes));
            ASSERT_NE(block, nullptr);
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(std::max_align_t), 0u) << bytes;
            const auto fill = static_cast<unsigned char>(held.size());
            std::memset(block, fill, bytes);
            held.push_back({block, bytes, fill});
        }
    }
    // Free every other block, then allocate again: nothing still held may be handed out.
    std::vector<Held> kept;
    for (std::size_t i = 0; i < held.size(); ++i) {
        if (i % 2 == 0)
            arena.deallocate(held[i].block, held[i].bytes);
        else
            kept.push_back(held[i]);
    }
    for (const std::size_t bytes : sizes) {
        auto* block = static_cast<unsigned char*>(arena.allocate(bytes));
        std::memset(block, 0xEE, bytes);
        kept.push_back({block, bytes, 0xEE});
    }
    for (const Held& h : kept) {
        for (std::size_t i = 0; i < h.bytes; i += 61)
            ASSERT_EQ(h.block[i], h.fill) << "a block of " << h.bytes << " bytes was overwritten";
    }
    for (const Held& h : kept)
        arena.deallocate(h.block, h.bytes);
    EXPECT_EQ(arena.liveBlockCount(), 0u);
}

TEST(LineArena, EmptyChunksGoBackKeepingOneSparePerSize)
{
    if (!arenaInUse())
        GTEST_SKIP() << "blocks come from the general heap in this build";
    LineArena arena;
    constexpr std::size_t bytes = 4800;
    const std::size_t perChunk = (LineArena::chunkBytes - LineArena::granuleBytes) / bytes;
    std::vector<void*> blocks;
    for (std::size_t i = 0; i < perChunk * 5; ++i)
        blocks.push_back(arena.allocate(bytes));
    EXPECT_GE(arena.chunkCount(), 5u);
    EXPECT_LE(arena.chunkCount(), 6u);
    for (void* block : blocks)
        arena.deallocate(block, bytes);
    EXPECT_EQ(arena.liveBlockCount(), 0u);
    EXPECT_EQ(arena.chunkCount(), 1u);
    // The spare serves the next block of that size without a new chunk.
    void* again = arena.allocate(bytes);
    EXPECT_EQ(arena.chunkCount(), 1u);
    arena.deallocate(again, bytes);
}

TEST(LineArena, BlocksOfOneSizeSpreadOverACachesSets)
{
    // A full scrollback walks through its lines in the order they were made, touching the
    // same field of each: if those fields fall on a few of a cache's sets, the lines miss the
    // cache although they would fit it. Line objects and rows of 80 and 200 columns, ten
    // thousand of each, as a scrollback holds them.
    if (!arenaInUse())
        GTEST_SKIP() << "blocks come from the general heap in this build";
    constexpr std::size_t sets = LineArena::colourBytes / LineArena::granuleBytes;
    constexpr std::size_t count = 10000;
    constexpr std::size_t evenShare = (count + sets - 1) / sets;
    for (const std::size_t bytes : {std::size_t{216}, std::size_t{1280}, std::size_t{3200}, std::size_t{4800}}) {
        LineArena arena;
        std::vector<void*> blocks;
        std::vector<std::size_t> perSet(sets);
        for (std::size_t i = 0; i < count; ++i) {
            blocks.push_back(arena.allocate(bytes));
            const auto field = reinterpret_cast<std::uintptr_t>(blocks.back()) + LineArena::granuleBytes;
            ++perSet[field % LineArena::colourBytes / LineArena::granuleBytes];
        }
        const std::size_t most = *std::max_element(perSet.begin(), perSet.end());
        EXPECT_LE(most, 2 * evenShare) << "blocks of " << bytes << " bytes: " << most << " on one set";
        for (void* block : blocks)
            arena.deallocate(block, bytes);
    }
}

TEST(LineArena, LargeBlocksComeFromTheHeap)
{
    LineArena arena;
    void* block = arena.allocate(LineArena::largestBlockBytes + 1);
    EXPECT_EQ(arena.chunkCount(), 0u);
    EXPECT_EQ(arena.liveBlockCount(), 0u);
    arena.deallocate(block, LineArena::largestBlockBytes + 1);
}

TEST(LineArena, WhatAReuseTouchesIsOneCacheLineOfTheLine)
{
    // A line feed through a full scrollback reads these fields of the oldest line: one cache
    // line of memory when they fit one, two when a field added or moved spills them over.
    const auto line = BufferLine::create(80);
    const auto begin = reinterpret_cast<std::uintptr_t>(line->recycleFieldsBegin());
    const auto end = reinterpret_cast<std::uintptr_t>(line->recycleFieldsEnd());
    EXPECT_LE(end - begin, LineArena::granuleBytes);
    if (!arenaInUse())
        return; // heap blocks promise no alignment to a cache line
    EXPECT_EQ(begin / LineArena::granuleBytes, (end - 1) / LineArena::granuleBytes)
        << "the fields start " << begin % LineArena::granuleBytes << " bytes into a cache line";
}

TEST(LineArena, LinesAndTheirCopiesOutliveEachOther)
{
    // Lines, their cells and copies made and dropped in any order keep their own cells.
    std::vector<std::shared_ptr<BufferLine>> lines;
    for (int i = 0; i < 300; ++i) {
        auto line = BufferLine::create(80 + i % 3);
        line->setCell(0, CharData('a' + i % 26, 1, Attribute{}));
        lines.push_back(line);
        if (i % 5 == 0)
            lines.push_back(BufferLine::initCopy(*line));
    }
    for (std::size_t i = 0; i < lines.size(); i += 2)
        lines[i].reset();
    for (int i = 0; i < 100; ++i)
        lines.push_back(BufferLine::create(81));
    std::erase(lines, nullptr);
    for (const auto& line : lines) {
        const int code = line->getCell(0).code;
        EXPECT_TRUE(code == 0 || (code >= 'a' && code <= 'z')) << code;
        EXPECT_EQ(line->weak_from_this().lock(), line);
    }
}

} // namespace
} // namespace corvantix

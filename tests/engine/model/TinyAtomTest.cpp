#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "model/TinyAtom.h"

namespace corvantix {
namespace {

constexpr int kMaxCodes = 65534;

// Registers until the registry refuses; returns the codes handed out.
std::vector<uint16_t> exhaust(TinyAtom::Registry& registry)
{
    std::vector<uint16_t> codes;
    for (int i = 0; i < kMaxCodes + 10; ++i) {
        auto atom = registry.register_("link" + std::to_string(i));
        if (!atom)
            break;
        codes.push_back(atom->code);
    }
    return codes;
}

TEST(TinyAtomRegistry, ExhaustsAfter65534LiveCodesThenReusesReleasedOnesOldestFirstAndPrunes)
{
    TinyAtom::Registry registry;
    const auto codes = exhaust(registry);
    ASSERT_EQ(codes.size(), static_cast<size_t>(kMaxCodes));
    EXPECT_EQ(codes.front(), 1);
    EXPECT_EQ(codes.back(), 65534);
    EXPECT_FALSE(registry.register_("one more").has_value());
    EXPECT_EQ(registry.count(), static_cast<size_t>(kMaxCodes));
    const std::vector<uint16_t> released = {300, 7};
    registry.releaseAll(released);
    registry.release(7); // a second release must not hand the code out twice
    EXPECT_FALSE(registry.lookup(300).has_value());
    auto first = registry.register_("again"), second = registry.register_("and again");
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(first->code == 300 && second->code == 7);
    EXPECT_EQ(registry.lookup(300), "again");
    EXPECT_FALSE(registry.register_("full").has_value());

    // Full again: a pruner runs once, and the registry tries again after it.
    int calls = 0;
    auto atom = registry.register_("pruned", [&] {
        ++calls;
        registry.release(42); // the pruner may use the registry: the lock is not held
    });
    ASSERT_TRUE(atom);
    EXPECT_EQ(atom->code, 42);
    EXPECT_EQ(calls, 1);
    calls = 0;
    EXPECT_FALSE(registry.register_("nothing to prune", [&] { ++calls; }).has_value());
    EXPECT_EQ(calls, 1);
    calls = 0;
    registry.release(9);
    EXPECT_TRUE(registry.register_("room left", [&] { ++calls; }).has_value());
    EXPECT_EQ(calls, 0);
}

TEST(TinyAtomRegistry, LookupAndReleaseOfZeroAndUnknownCodes)
{
    TinyAtom::Registry registry;
    auto atom = registry.register_("https://example.invalid/");
    ASSERT_TRUE(atom);
    EXPECT_FALSE(registry.lookup(0) || registry.lookup(999));
    const std::vector<uint16_t> junk = {0, 999};
    registry.releaseAll(junk);
    EXPECT_EQ(registry.count(), 1u);
    EXPECT_EQ(registry.lookup(atom->code), "https://example.invalid/");
    // An unknown code must not reach the free list either; fresh codes come before released ones.
    auto next = registry.register_("next");
    ASSERT_TRUE(next);
    EXPECT_EQ(next->code, 2);
    registry.release(next->code);
    EXPECT_EQ(registry.register_("fresh")->code, 3);
}

TEST(TinyAtomRegistry, ConcurrentUseHandsOutDistinctCodes)
{
    TinyAtom::Registry registry;
    constexpr int threads = 4, perThread = 2000;
    std::vector<std::vector<uint16_t>> kept(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                auto atom = registry.register_(std::to_string(t) + ":" + std::to_string(i));
                ASSERT_TRUE(atom);
                i % 2 == 0 ? registry.release(atom->code) : kept[t].push_back(atom->code);
            }
        });
    }
    for (auto& worker : workers)
        worker.join();
    std::set<uint16_t> all;
    for (const auto& codes : kept)
        all.insert(codes.begin(), codes.end());
    EXPECT_EQ(all.size(), static_cast<size_t>(threads * perThread / 2));
    EXPECT_EQ(registry.count(), all.size());
}

} // namespace
} // namespace corvantix

// Process-unique identities for objects whose addresses may be reused after they are freed
// (drawing caches key on them).
#pragma once

#include <atomic>
#include <cstdint>

namespace corvantix {

inline uint64_t nextUniqueId()
{
    static std::atomic<uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

} // namespace corvantix

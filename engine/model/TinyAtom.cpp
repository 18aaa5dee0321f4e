#include "model/TinyAtom.h"

namespace corvantix {

TinyAtom::Registry& TinyAtom::registry()
{
    static Registry shared;
    return shared;
}

std::optional<TinyAtom> TinyAtom::Registry::tryRegister(std::string& value)
{
    const std::lock_guard guard(lock_);
    uint16_t code = 0;
    // Fresh codes first, so a released code rests as long as possible before it is reused.
    if (counter_ < maxCode) {
        code = ++counter_;
    } else if (!freeCodes_.empty()) {
        code = freeCodes_.front();
        freeCodes_.pop_front();
    } else {
        return std::nullopt;
    }
    values_.emplace(code, std::move(value));
    return TinyAtom{code};
}

std::optional<TinyAtom> TinyAtom::Registry::register_(std::string value, const std::function<void()>& pruneUnused)
{
    if (auto atom = tryRegister(value))
        return atom;
    if (!pruneUnused)
        return std::nullopt;
    pruneUnused();
    return tryRegister(value);
}

std::optional<std::string> TinyAtom::Registry::lookup(uint16_t code) const
{
    if (code == 0)
        return std::nullopt;
    const std::lock_guard guard(lock_);
    const auto it = values_.find(code);
    if (it == values_.end())
        return std::nullopt;
    return it->second;
}

void TinyAtom::Registry::releaseAll(std::span<const uint16_t> codes)
{
    const std::lock_guard guard(lock_);
    for (const uint16_t code : codes) {
        if (code == 0)
            continue;
        // Only a live code goes to the free list, so a double release cannot hand a code
        // out twice.
        if (values_.erase(code) != 0)
            freeCodes_.push_back(code);
    }
}

void TinyAtom::Registry::release(uint16_t code)
{
    releaseAll(std::span<const uint16_t>(&code, 1));
}

size_t TinyAtom::Registry::count() const
{
    const std::lock_guard guard(lock_);
    return values_.size();
}

} // namespace corvantix

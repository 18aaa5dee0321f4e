// A 16-bit handle of a cell payload (the OSC 8 hyperlink of a cell) in one process-wide
// registry. Cells carry the handle, not a reference, so copying cells never touches
// reference counts. Code 0 means no payload; codes run from 1 to 65534.
//
// Released codes are handed out again (after every fresh code has been used once), so
// a long-lived process does not run out of codes: a code is released only when no cell
// of the terminal that registered it still carries it, and terminals never share codes.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace corvantix {

struct TinyAtom {
    uint16_t code = 0;

    // The registry itself. The process shares one (TinyAtom::registry()); tests may make
    // their own. Every operation holds the one lock for its whole duration.
    class Registry {
    public:
        static constexpr uint16_t maxCode = 65534;

        // Stores the value under a free code; nothing when all 65,534 codes are live. When
        // the registry is full and pruneUnused is given, it is called once (without the lock
        // held, so it may release codes) and the registration is tried again.
        std::optional<TinyAtom> register_(std::string value, const std::function<void()>& pruneUnused = {});
        // The stored value; nothing for code 0 and for unknown or released codes.
        std::optional<std::string> lookup(uint16_t code) const;
        // Removes the entries of the given codes; 0 and unknown codes are skipped.
        void releaseAll(std::span<const uint16_t> codes);
        void release(uint16_t code);
        // Number of live codes.
        size_t count() const;

    private:
        std::optional<TinyAtom> tryRegister(std::string& value);

        mutable std::mutex lock_;
        std::unordered_map<uint16_t, std::string> values_;
        uint16_t counter_ = 0;           // highest code handed out fresh; only grows
        std::deque<uint16_t> freeCodes_; // released codes, oldest first
    };

    static Registry& registry();

    // `register` is a C++ keyword, hence the trailing underscore.
    static std::optional<TinyAtom> register_(std::string value, const std::function<void()>& pruneUnused = {})
    {
        return registry().register_(std::move(value), pruneUnused);
    }
    static std::optional<std::string> lookup(uint16_t code)
    {
        if (code == 0)
            return std::nullopt;
        return registry().lookup(code);
    }
    static void releaseAll(std::span<const uint16_t> codes) { registry().releaseAll(codes); }
    // Any range of codes (a set, a list); one lock for the whole call.
    template <typename Range>
    static void releaseAll(const Range& codes)
    {
        std::vector<uint16_t> list(std::begin(codes), std::end(codes));
        registry().releaseAll(list);
    }
    static void release(uint16_t code) { registry().release(code); }

    friend constexpr bool operator==(TinyAtom, TinyAtom) = default;
};

} // namespace corvantix

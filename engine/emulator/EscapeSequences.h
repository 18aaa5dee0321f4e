// Byte sequences that the host's keyboard and paste handling sends to the program in the
// terminal: cursor keys in both cursor modes (the ...Application form while DECCKM is on,
// the ...Normal form otherwise), editing and function keys, bracketed paste markers.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvantix::EscapeSequences {

using Bytes = std::span<const std::uint8_t>;

inline constexpr std::array<std::uint8_t, 1> lineFeed{0x0A};
inline constexpr std::array<std::uint8_t, 1> carriageReturn{0x0D};
inline constexpr std::array<std::uint8_t, 1> escape{0x1B};
// "delete" is a C++ keyword, hence the trailing underscore.
inline constexpr std::array<std::uint8_t, 1> delete_{0x7F};
inline constexpr std::array<std::uint8_t, 1> tab{0x09};
inline constexpr std::array<std::uint8_t, 3> backTab{0x1B, '[', 'Z'};
inline constexpr std::array<std::uint8_t, 4> deleteKey{0x1B, '[', '3', '~'};
inline constexpr std::array<std::uint8_t, 4> insertKey{0x1B, '[', '2', '~'};
inline constexpr std::array<std::uint8_t, 4> pageUp{0x1B, '[', '5', '~'};
inline constexpr std::array<std::uint8_t, 4> pageDown{0x1B, '[', '6', '~'};

inline constexpr std::array<std::uint8_t, 3> upApplication{0x1B, 'O', 'A'};
inline constexpr std::array<std::uint8_t, 3> upNormal{0x1B, '[', 'A'};
inline constexpr std::array<std::uint8_t, 3> downApplication{0x1B, 'O', 'B'};
inline constexpr std::array<std::uint8_t, 3> downNormal{0x1B, '[', 'B'};
inline constexpr std::array<std::uint8_t, 3> rightApplication{0x1B, 'O', 'C'};
inline constexpr std::array<std::uint8_t, 3> rightNormal{0x1B, '[', 'C'};
inline constexpr std::array<std::uint8_t, 3> leftApplication{0x1B, 'O', 'D'};
inline constexpr std::array<std::uint8_t, 3> leftNormal{0x1B, '[', 'D'};
inline constexpr std::array<std::uint8_t, 3> homeApplication{0x1B, 'O', 'H'};
inline constexpr std::array<std::uint8_t, 3> homeNormal{0x1B, '[', 'H'};
inline constexpr std::array<std::uint8_t, 3> endApplication{0x1B, 'O', 'F'};
inline constexpr std::array<std::uint8_t, 3> endNormal{0x1B, '[', 'F'};

inline constexpr std::array<std::uint8_t, 2> wordBackward{0x1B, 'b'};
inline constexpr std::array<std::uint8_t, 2> wordForward{0x1B, 'f'};
inline constexpr std::array<std::uint8_t, 6> controlLeft{0x1B, '[', '1', ';', '5', 'D'};
inline constexpr std::array<std::uint8_t, 6> controlRight{0x1B, '[', '1', ';', '5', 'C'};

namespace detail {
inline constexpr std::array<std::uint8_t, 3> f1{0x1B, 'O', 'P'};
inline constexpr std::array<std::uint8_t, 3> f2{0x1B, 'O', 'Q'};
inline constexpr std::array<std::uint8_t, 3> f3{0x1B, 'O', 'R'};
inline constexpr std::array<std::uint8_t, 3> f4{0x1B, 'O', 'S'};
inline constexpr std::array<std::uint8_t, 5> f5{0x1B, '[', '1', '5', '~'};
inline constexpr std::array<std::uint8_t, 5> f6{0x1B, '[', '1', '7', '~'};
inline constexpr std::array<std::uint8_t, 5> f7{0x1B, '[', '1', '8', '~'};
inline constexpr std::array<std::uint8_t, 5> f8{0x1B, '[', '1', '9', '~'};
inline constexpr std::array<std::uint8_t, 5> f9{0x1B, '[', '2', '0', '~'};
inline constexpr std::array<std::uint8_t, 5> f10{0x1B, '[', '2', '1', '~'};
inline constexpr std::array<std::uint8_t, 5> f11{0x1B, '[', '2', '3', '~'};
inline constexpr std::array<std::uint8_t, 5> f12{0x1B, '[', '2', '4', '~'};

struct PasteMarkers {
    std::mutex lock;
    std::vector<std::uint8_t> start{0x1B, '[', '2', '0', '0', '~'};
    std::vector<std::uint8_t> end{0x1B, '[', '2', '0', '1', '~'};
};

inline PasteMarkers& pasteMarkers()
{
    static PasteMarkers markers;
    return markers;
}
} // namespace detail

// F1 to F12.
inline constexpr std::array<Bytes, 12> functionKeys{
    detail::f1, detail::f2, detail::f3, detail::f4, detail::f5, detail::f6,
    detail::f7, detail::f8, detail::f9, detail::f10, detail::f11, detail::f12,
};

// The bracketed paste markers (ESC [ 200 ~ and ESC [ 201 ~ unless a host replaced them).
// Settable by the host; every paste reads the current value. Safe from any thread.
inline std::vector<std::uint8_t> bracketedPasteStart()
{
    auto& markers = detail::pasteMarkers();
    std::lock_guard guard(markers.lock);
    return markers.start;
}

inline std::vector<std::uint8_t> bracketedPasteEnd()
{
    auto& markers = detail::pasteMarkers();
    std::lock_guard guard(markers.lock);
    return markers.end;
}

inline void setBracketedPasteStart(Bytes bytes)
{
    auto& markers = detail::pasteMarkers();
    std::lock_guard guard(markers.lock);
    markers.start.assign(bytes.begin(), bytes.end());
}

inline void setBracketedPasteEnd(Bytes bytes)
{
    auto& markers = detail::pasteMarkers();
    std::lock_guard guard(markers.lock);
    markers.end.assign(bytes.begin(), bytes.end());
}

// The pasted text without the bracketed-paste markers it is framed with, which would let it
// end the paste early and have the rest run as typed keys. Removing one marker can join the
// pieces around it into a new one, so this repeats until none is left.
inline std::string withoutPasteMarkers(std::string_view text, std::string_view start, std::string_view end)
{
    std::string out(text);
    bool removed = true;
    while (removed) {
        removed = false;
        for (std::string_view marker : {start, end}) {
            if (marker.empty())
                continue;
            for (std::size_t at = out.find(marker); at != std::string::npos; at = out.find(marker, at)) {
                out.erase(at, marker.size());
                removed = true;
            }
        }
    }
    return out;
}

} // namespace corvantix::EscapeSequences

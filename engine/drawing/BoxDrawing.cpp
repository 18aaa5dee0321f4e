#include "drawing/BoxDrawing.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace corvantix {

namespace {

constexpr uint32_t firstBoxDrawing = 0x2500;
constexpr uint32_t lastBoxDrawing = 0x257F;

struct ArmEntry {
    uint32_t codePoint;
    BoxArms arms;
};

// The line characters with their arms (up, right, down, left), read from their Unicode
// names.
constexpr auto lineCharacters = [] {
    constexpr BoxArm o = BoxArm::none;
    constexpr BoxArm L = BoxArm::light;
    constexpr BoxArm H = BoxArm::heavy;
    constexpr BoxArm D = BoxArm::double_;
    return std::array<ArmEntry, 109>{{
        {0x2500, {o, L, o, L}}, // light horizontal
        {0x2501, {o, H, o, H}}, // heavy horizontal
        {0x2502, {L, o, L, o}}, // light vertical
        {0x2503, {H, o, H, o}}, // heavy vertical
        {0x250C, {o, L, L, o}}, // light down and right
        {0x250D, {o, H, L, o}}, // down light and right heavy
        {0x250E, {o, L, H, o}}, // down heavy and right light
        {0x250F, {o, H, H, o}}, // heavy down and right
        {0x2510, {o, o, L, L}}, // light down and left
        {0x2511, {o, o, L, H}}, // down light and left heavy
        {0x2512, {o, o, H, L}}, // down heavy and left light
        {0x2513, {o, o, H, H}}, // heavy down and left
        {0x2514, {L, L, o, o}}, // light up and right
        {0x2515, {L, H, o, o}}, // up light and right heavy
        {0x2516, {H, L, o, o}}, // up heavy and right light
        {0x2517, {H, H, o, o}}, // heavy up and right
        {0x2518, {L, o, o, L}}, // light up and left
        {0x2519, {L, o, o, H}}, // up light and left heavy
        {0x251A, {H, o, o, L}}, // up heavy and left light
        {0x251B, {H, o, o, H}}, // heavy up and left
        {0x251C, {L, L, L, o}}, // light vertical and right
        {0x251D, {L, H, L, o}}, // vertical light and right heavy
        {0x251E, {H, L, L, o}}, // up heavy and right down light
        {0x251F, {L, L, H, o}}, // down heavy and right up light
        {0x2520, {H, L, H, o}}, // vertical heavy and right light
        {0x2521, {H, H, L, o}}, // down light and right up heavy
        {0x2522, {L, H, H, o}}, // up light and right down heavy
        {0x2523, {H, H, H, o}}, // heavy vertical and right
        {0x2524, {L, o, L, L}}, // light vertical and left
        {0x2525, {L, o, L, H}}, // vertical light and left heavy
        {0x2526, {H, o, L, L}}, // up heavy and left down light
        {0x2527, {L, o, H, L}}, // down heavy and left up light
        {0x2528, {H, o, H, L}}, // vertical heavy and left light
        {0x2529, {H, o, L, H}}, // down light and left up heavy
        {0x252A, {L, o, H, H}}, // up light and left down heavy
        {0x252B, {H, o, H, H}}, // heavy vertical and left
        {0x252C, {o, L, L, L}}, // light down and horizontal
        {0x252D, {o, L, L, H}}, // left heavy and right down light
        {0x252E, {o, H, L, L}}, // right heavy and left down light
        {0x252F, {o, H, L, H}}, // down light and horizontal heavy
        {0x2530, {o, L, H, L}}, // down heavy and horizontal light
        {0x2531, {o, L, H, H}}, // right light and left down heavy
        {0x2532, {o, H, H, L}}, // left light and right down heavy
        {0x2533, {o, H, H, H}}, // heavy down and horizontal
        {0x2534, {L, L, o, L}}, // light up and horizontal
        {0x2535, {L, L, o, H}}, // left heavy and right up light
        {0x2536, {L, H, o, L}}, // right heavy and left up light
        {0x2537, {L, H, o, H}}, // up light and horizontal heavy
        {0x2538, {H, L, o, L}}, // up heavy and horizontal light
        {0x2539, {H, L, o, H}}, // right light and left up heavy
        {0x253A, {H, H, o, L}}, // left light and right up heavy
        {0x253B, {H, H, o, H}}, // heavy up and horizontal
        {0x253C, {L, L, L, L}}, // light vertical and horizontal
        {0x253D, {L, L, L, H}}, // left heavy and right vertical light
        {0x253E, {L, H, L, L}}, // right heavy and left vertical light
        {0x253F, {L, H, L, H}}, // vertical light and horizontal heavy
        {0x2540, {H, L, L, L}}, // up heavy and down horizontal light
        {0x2541, {L, L, H, L}}, // down heavy and up horizontal light
        {0x2542, {H, L, H, L}}, // vertical heavy and horizontal light
        {0x2543, {H, L, L, H}}, // left up heavy and right down light
        {0x2544, {H, H, L, L}}, // right up heavy and left down light
        {0x2545, {L, L, H, H}}, // left down heavy and right up light
        {0x2546, {L, H, H, L}}, // right down heavy and left up light
        {0x2547, {H, H, L, H}}, // down light and up horizontal heavy
        {0x2548, {L, H, H, H}}, // up light and down horizontal heavy
        {0x2549, {H, L, H, H}}, // right light and left vertical heavy
        {0x254A, {H, H, H, L}}, // left light and right vertical heavy
        {0x254B, {H, H, H, H}}, // heavy vertical and horizontal
        {0x2550, {o, D, o, D}}, // double horizontal
        {0x2551, {D, o, D, o}}, // double vertical
        {0x2552, {o, D, L, o}}, // down single and right double
        {0x2553, {o, L, D, o}}, // down double and right single
        {0x2554, {o, D, D, o}}, // double down and right
        {0x2555, {o, o, L, D}}, // down single and left double
        {0x2556, {o, o, D, L}}, // down double and left single
        {0x2557, {o, o, D, D}}, // double down and left
        {0x2558, {L, D, o, o}}, // up single and right double
        {0x2559, {D, L, o, o}}, // up double and right single
        {0x255A, {D, D, o, o}}, // double up and right
        {0x255B, {L, o, o, D}}, // up single and left double
        {0x255C, {D, o, o, L}}, // up double and left single
        {0x255D, {D, o, o, D}}, // double up and left
        {0x255E, {L, D, L, o}}, // vertical single and right double
        {0x255F, {D, L, D, o}}, // vertical double and right single
        {0x2560, {D, D, D, o}}, // double vertical and right
        {0x2561, {L, o, L, D}}, // vertical single and left double
        {0x2562, {D, o, D, L}}, // vertical double and left single
        {0x2563, {D, o, D, D}}, // double vertical and left
        {0x2564, {o, D, L, D}}, // down single and horizontal double
        {0x2565, {o, L, D, L}}, // down double and horizontal single
        {0x2566, {o, D, D, D}}, // double down and horizontal
        {0x2567, {L, D, o, D}}, // up single and horizontal double
        {0x2568, {D, L, o, L}}, // up double and horizontal single
        {0x2569, {D, D, o, D}}, // double up and horizontal
        {0x256A, {L, D, L, D}}, // vertical single and horizontal double
        {0x256B, {D, L, D, L}}, // vertical double and horizontal single
        {0x256C, {D, D, D, D}}, // double vertical and horizontal
        {0x2574, {o, o, o, L}}, // light left
        {0x2575, {L, o, o, o}}, // light up
        {0x2576, {o, L, o, o}}, // light right
        {0x2577, {o, o, L, o}}, // light down
        {0x2578, {o, o, o, H}}, // heavy left
        {0x2579, {H, o, o, o}}, // heavy up
        {0x257A, {o, H, o, o}}, // heavy right
        {0x257B, {o, o, H, o}}, // heavy down
        {0x257C, {o, H, o, L}}, // light left and heavy right
        {0x257D, {L, o, H, o}}, // light up and heavy down
        {0x257E, {o, L, o, H}}, // heavy left and light right
        {0x257F, {H, o, L, o}}, // heavy up and light down
    }};
}();

} // namespace

std::optional<BoxArms> boxDrawingArms(uint32_t codePoint)
{
    if (codePoint < firstBoxDrawing || codePoint > lastBoxDrawing)
        return std::nullopt;
    static const auto table = [] {
        std::array<std::optional<BoxArms>, lastBoxDrawing - firstBoxDrawing + 1> byCode{};
        for (const ArmEntry& entry : lineCharacters)
            byCode[entry.codePoint - firstBoxDrawing] = entry.arms;
        return byCode;
    }();
    return table[codePoint - firstBoxDrawing];
}

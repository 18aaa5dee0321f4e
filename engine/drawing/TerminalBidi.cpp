#include "drawing/TerminalBidi.h"

#include <algorithm>
#include <mutex>

#include <unicode/ubidi.h>
#include <unicode/uchar.h>

#include "drawing/RowBuilder.h"
#include "emulator/Terminal.h"
#include "model/Buffer.h"
#include "model/BufferLine.h"

namespace corvantix {

namespace {

// Every Bidi_Mirroring_Glyph mapping of the character database, sorted by the first scalar.
constexpr std::pair<char32_t, char32_t> mirroringPairs[] = {
    {0x0028, 0x0029}, {0x0029, 0x0028}, {0x003C, 0x003E}, {0x003E, 0x003C}, {0x005B, 0x005D},
    {0x005D, 0x005B}, {0x007B, 0x007D}, {0x007D, 0x007B}, {0x00AB, 0x00BB}, {0x00BB, 0x00AB},
    {0x0F3A, 0x0F3B}, {0x0F3B, 0x0F3A}, {0x0F3C, 0x0F3D}, {0x0F3D, 0x0F3C}, {0x169B, 0x169C},
    {0x169C, 0x169B}, {0x2039, 0x203A}, {0x203A, 0x2039}, {0x2045, 0x2046}, {0x2046, 0x2045},
    {0x207D, 0x207E}, {0x207E, 0x207D}, {0x208D, 0x208E}, {0x208E, 0x208D}, {0x2208, 0x220B},
    {0x2209, 0x220C}, {0x220A, 0x220D}, {0x220B, 0x2208}, {0x220C, 0x2209}, {0x220D, 0x220A},
    {0x2215, 0x29F5}, {0x221F, 0x2BFE}, {0x2220, 0x29A3}, {0x2221, 0x299B}, {0x2222, 0x29A0},
    {0x2224, 0x2AEE}, {0x223C, 0x223D}, {0x223D, 0x223C}, {0x2243, 0x22CD}, {0x2245, 0x224C},
    {0x224C, 0x2245}, {0x2252, 0x2253}, {0x2253, 0x2252}, {0x2254, 0x2255}, {0x2255, 0x2254},
    {0x2264, 0x2265}, {0x2265, 0x2264}, {0x2266, 0x2267}, {0x2267, 0x2266}, {0x2268, 0x2269},
    {0x2269, 0x2268}, {0x226A, 0x226B}, {0x226B, 0x226A}, {0x226E, 0x226F}, {0x226F, 0x226E},
    {0x2270, 0x2271}, {0x2271, 0x2270}, {0x2272, 0x2273}, {0x2273, 0x2272}, {0x2274, 0x2275},
    {0x2275, 0x2274}, {0x2276, 0x2277}, {0x2277, 0x2276}, {0x2278, 0x2279}, {0x2279, 0x2278},
    {0x227A, 0x227B}, {0x227B, 0x227A}, {0x227C, 0x227D}, {0x227D, 0x227C}, {0x227E, 0x227F},
    {0x227F, 0x227E}, {0x2280, 0x2281}, {0x2281, 0x2280}, {0x2282, 0x2283}, {0x2283, 0x2282},
    {0x2284, 0x2285}, {0x2285, 0x2284}, {0x2286, 0x2287}, {0x2287, 0x2286}, {0x2288, 0x2289},
    {0x2289, 0x2288}, {0x228A, 0x228B}, {0x228B, 0x228A}, {0x228F, 0x2290}, {0x2290, 0x228F},
    {0x2291, 0x2292}, {0x2292, 0x2291}, {0x2298, 0x29B8}, {0x22A2, 0x22A3}, {0x22A3, 0x22A2},
    {0x22A6, 0x2ADE}, {0x22A8, 0x2AE4}, {0x22A9, 0x2AE3}, {0x22AB, 0x2AE5}, {0x22B0, 0x22B1},
    {0x22B1, 0x22B0}, {0x22B2, 0x22B3}, {0x22B3, 0x22B2}, {0x22B4, 0x22B5}, {0x22B5, 0x22B4},
    {0x22B6, 0x22B7}, {0x22B7, 0x22B6}, {0x22B8, 0x27DC}, {0x22C9, 0x22CA}, {0x22CA, 0x22C9},
    {0x22CB, 0x22CC}, {0x22CC, 0x22CB}, {0x22CD, 0x2243}, {0x22D0, 0x22D1}, {0x22D1, 0x22D0},
    {0x22D6, 0x22D7}, {0x22D7, 0x22D6}, {0x22D8, 0x22D9}, {0x22D9, 0x22D8}, {0x22DA, 0x22DB},
    {0x22DB, 0x22DA}, {0x22DC, 0x22DD}, {0x22DD, 0x22DC}, {0x22DE, 0x22DF}, {0x22DF, 0x22DE},
    {0x22E0, 0x22E1}, {0x22E1, 0x22E0}, {0x22E2, 0x22E3}, {0x22E3, 0x22E2}, {0x22E4, 0x22E5},
    {0x22E5, 0x22E4}, {0x22E6, 0x22E7}, {0x22E7, 0x22E6}, {0x22E8, 0x22E9}, {0x22E9, 0x22E8},
    {0x22EA, 0x22EB}, {0x22EB, 0x22EA}, {0x22EC, 0x22ED}, {0x22ED, 0x22EC}, {0x22F0, 0x22F1},
    {0x22F1, 0x22F0}, {0x22F2, 0x22FA}, {0x22F3, 0x22FB}, {0x22F4, 0x22FC}, {0x22F6, 0x22FD},
    {0x22F7, 0x22FE}, {0x22FA, 0x22F2}, {0x22FB, 0x22F3}, {0x22FC, 0x22F4}, {0x22FD, 0x22F6},
    {0x22FE, 0x22F7}, {0x2308, 0x2309}, {0x2309, 0x2308}, {0x230A, 0x230B}, {0x230B, 0x230A},
    {0x2329, 0x232A}, {0x232A, 0x2329}, {0x2768, 0x2769}, {0x2769, 0x2768}, {0x276A, 0x276B},
    {0x276B, 0x276A}, {0x276C, 0x276D}, {0x276D, 0x276C}, {0x276E, 0x276F}, {0x276F, 0x276E},
    {0x2770, 0x2771}, {0x2771, 0x2770}, {0x2772, 0x2773}, {0x2773, 0x2772}, {0x2774, 0x2775},
    {0x2775, 0x2774}, {0x27C3, 0x27C4}, {0x27C4, 0x27C3}, {0x27C5, 0x27C6}, {0x27C6, 0x27C5},
    {0x27C8, 0x27C9}, {0x27C9, 0x27C8}, {0x27CB, 0x27CD}, {0x27CD, 0x27CB}, {0x27D5, 0x27D6},
    {0x27D6, 0x27D5}, {0x27DC, 0x22B8}, {0x27DD, 0x27DE}, {0x27DE, 0x27DD}, {0x27E2, 0x27E3},
    {0x27E3, 0x27E2}, {0x27E4, 0x27E5}, {0x27E5, 0x27E4}, {0x27E6, 0x27E7}, {0x27E7, 0x27E6},
    {0x27E8, 0x27E9}, {0x27E9, 0x27E8}, {0x27EA, 0x27EB}, {0x27EB, 0x27EA}, {0x27EC, 0x27ED},
    {0x27ED, 0x27EC}, {0x27EE, 0x27EF}, {0x27EF, 0x27EE}, {0x2983, 0x2984}, {0x2984, 0x2983},
    {0x2985, 0x2986}, {0x2986, 0x2985}, {0x2987, 0x2988}, {0x2988, 0x2987}, {0x2989, 0x298A},
    {0x298A, 0x2989}, {0x298B, 0x298C}, {0x298C, 0x298B}, {0x298D, 0x2990}, {0x298E, 0x298F},
    {0x298F, 0x298E}, {0x2990, 0x298D}, {0x2991, 0x2992}, {0x2992, 0x2991}, {0x2993, 0x2994},
    {0x2994, 0x2993}, {0x2995, 0x2996}, {0x2996, 0x2995}, {0x2997, 0x2998}, {0x2998, 0x2997},
    {0x299B, 0x2221}, {0x29A0, 0x2222}, {0x29A3, 0x2220}, {0x29A4, 0x29A5}, {0x29A5, 0x29A4},
    {0x29A8, 0x29A9}, {0x29A9, 0x29A8}, {0x29AA, 0x29AB}, {0x29AB, 0x29AA}, {0x29AC, 0x29AD},
    {0x29AD, 0x29AC}, {0x29AE, 0x29AF}, {0x29AF, 0x29AE}, {0x29B8, 0x2298}, {0x29C0, 0x29C1},
    {0x29C1, 0x29C0}, {0x29C4, 0x29C5}, {0x29C5, 0x29C4}, {0x29CF, 0x29D0}, {0x29D0, 0x29CF},
    {0x29D1, 0x29D2}, {0x29D2, 0x29D1}, {0x29D4, 0x29D5}, {0x29D5, 0x29D4}, {0x29D8, 0x29D9},
    {0x29D9, 0x29D8}, {0x29DA, 0x29DB}, {0x29DB, 0x29DA}, {0x29E8, 0x29E9}, {0x29E9, 0x29E8},
    {0x29F5, 0x2215}, {0x29F8, 0x29F9}, {0x29F9, 0x29F8}, {0x29FC, 0x29FD}, {0x29FD, 0x29FC},
    {0x2A2B, 0x2A2C}, {0x2A2C, 0x2A2B}, {0x2A2D, 0x2A2E}, {0x2A2E, 0x2A2D}, {0x2A34, 0x2A35},
    {0x2A35, 0x2A34}, {0x2A3C, 0x2A3D}, {0x2A3D, 0x2A3C}, {0x2A64, 0x2A65}, {0x2A65, 0x2A64},
    {0x2A79, 0x2A7A}, {0x2A7A, 0x2A79}, {0x2A7B, 0x2A7C}, {0x2A7C, 0x2A7B}, {0x2A7D, 0x2A7E},
    {0x2A7E, 0x2A7D}, {0x2A7F, 0x2A80}, {0x2A80, 0x2A7F}, {0x2A81, 0x2A82}, {0x2A82, 0x2A81},
    {0x2A83, 0x2A84}, {0x2A84, 0x2A83}, {0x2A85, 0x2A86}, {0x2A86, 0x2A85}, {0x2A87, 0x2A88},
    {0x2A88, 0x2A87}, {0x2A89, 0x2A8A}, {0x2A8A, 0x2A89}, {0x2A8B, 0x2A8C}, {0x2A8C, 0x2A8B},
    {0x2A8D, 0x2A8E}, {0x2A8E, 0x2A8D}, {0x2A8F, 0x2A90}, {0x2A90, 0x2A8F}, {0x2A91, 0x2A92},
    {0x2A92, 0x2A91}, {0x2A93, 0x2A94}, {0x2A94, 0x2A93}, {0x2A95, 0x2A96}, {0x2A96, 0x2A95},
    {0x2A97, 0x2A98}, {0x2A98, 0x2A97}, {0x2A99, 0x2A9A}, {0x2A9A, 0x2A99}, {0x2A9B, 0x2A9C},
    {0x2A9C, 0x2A9B}, {0x2A9D, 0x2A9E}, {0x2A9E, 0x2A9D}, {0x2A9F, 0x2AA0}, {0x2AA0, 0x2A9F},
    {0x2AA1, 0x2AA2}, {0x2AA2, 0x2AA1}, {0x2AA6, 0x2AA7}, {0x2AA7, 0x2AA6}, {0x2AA8, 0x2AA9},
    {0x2AA9, 0x2AA8}, {0x2AAA, 0x2AAB}, {0x2AAB, 0x2AAA}, {0x2AAC, 0x2AAD}, {0x2AAD, 0x2AAC},
    {0x2AAF, 0x2AB0}, {0x2AB0, 0x2AAF}, {0x2AB1, 0x2AB2}, {0x2AB2, 0x2AB1}, {0x2AB3, 0x2AB4},
    {0x2AB4, 0x2AB3}, {0x2AB5, 0x2AB6}, {0x2AB6, 0x2AB5}, {0x2AB7, 0x2AB8}, {0x2AB8, 0x2AB7},
    {0x2AB9, 0x2ABA}, {0x2ABA, 0x2AB9}, {0x2ABB, 0x2ABC}, {0x2ABC, 0x2ABB}, {0x2ABD, 0x2ABE},
    {0x2ABE, 0x2ABD}, {0x2ABF, 0x2AC0}, {0x2AC0, 0x2ABF}, {0x2AC1, 0x2AC2}, {0x2AC2, 0x2AC1},
    {0x2AC3, 0x2AC4}, {0x2AC4, 0x2AC3}, {0x2AC5, 0x2AC6}, {0x2AC6, 0x2AC5}, {0x2AC7, 0x2AC8},
    {0x2AC8, 0x2AC7}, {0x2AC9, 0x2ACA}, {0x2ACA, 0x2AC9}, {0x2ACB, 0x2ACC}, {0x2ACC, 0x2ACB},
    {0x2ACD, 0x2ACE}, {0x2ACE, 0x2ACD}, {0x2ACF, 0x2AD0}, {0x2AD0, 0x2ACF}, {0x2AD1, 0x2AD2},
    {0x2AD2, 0x2AD1}, {0x2AD3, 0x2AD4}, {0x2AD4, 0x2AD3}, {0x2AD5, 0x2AD6}, {0x2AD6, 0x2AD5},
    {0x2ADE, 0x22A6}, {0x2AE3, 0x22A9}, {0x2AE4, 0x22A8}, {0x2AE5, 0x22AB}, {0x2AEC, 0x2AED},
    {0x2AED, 0x2AEC}, {0x2AEE, 0x2224}, {0x2AF7, 0x2AF8}, {0x2AF8, 0x2AF7}, {0x2AF9, 0x2AFA},
    {0x2AFA, 0x2AF9}, {0x2BFE, 0x221F}, {0x2E02, 0x2E03}, {0x2E03, 0x2E02}, {0x2E04, 0x2E05},
    {0x2E05, 0x2E04}, {0x2E09, 0x2E0A}, {0x2E0A, 0x2E09}, {0x2E0C, 0x2E0D}, {0x2E0D, 0x2E0C},
    {0x2E1C, 0x2E1D}, {0x2E1D, 0x2E1C}, {0x2E20, 0x2E21}, {0x2E21, 0x2E20}, {0x2E22, 0x2E23},
    {0x2E23, 0x2E22}, {0x2E24, 0x2E25}, {0x2E25, 0x2E24}, {0x2E26, 0x2E27}, {0x2E27, 0x2E26},
    {0x2E28, 0x2E29}, {0x2E29, 0x2E28}, {0x2E55, 0x2E56}, {0x2E56, 0x2E55}, {0x2E57, 0x2E58},
    {0x2E58, 0x2E57}, {0x2E59, 0x2E5A}, {0x2E5A, 0x2E59}, {0x2E5B, 0x2E5C}, {0x2E5C, 0x2E5B},
    {0x3008, 0x3009}, {0x3009, 0x3008}, {0x300A, 0x300B}, {0x300B, 0x300A}, {0x300C, 0x300D},
    {0x300D, 0x300C}, {0x300E, 0x300F}, {0x300F, 0x300E}, {0x3010, 0x3011}, {0x3011, 0x3010},
    {0x3014, 0x3015}, {0x3015, 0x3014}, {0x3016, 0x3017}, {0x3017, 0x3016}, {0x3018, 0x3019},
    {0x3019, 0x3018}, {0x301A, 0x301B}, {0x301B, 0x301A}, {0xFE59, 0xFE5A}, {0xFE5A, 0xFE59},
    {0xFE5B, 0xFE5C}, {0xFE5C, 0xFE5B}, {0xFE5D, 0xFE5E}, {0xFE5E, 0xFE5D}, {0xFE64, 0xFE65},
    {0xFE65, 0xFE64}, {0xFF08, 0xFF09}, {0xFF09, 0xFF08}, {0xFF1C, 0xFF1E}, {0xFF1E, 0xFF1C},
    {0xFF3B, 0xFF3D}, {0xFF3D, 0xFF3B}, {0xFF5B, 0xFF5D}, {0xFF5D, 0xFF5B}, {0xFF5F, 0xFF60},
    {0xFF60, 0xFF5F}, {0xFF62, 0xFF63}, {0xFF63, 0xFF62},
};

static_assert(std::is_sorted(std::begin(mirroringPairs), std::end(mirroringPairs)));

constexpr std::pair<char32_t, char32_t> boxDrawingPairs[] = {
    {0x250C, 0x2510}, {0x2514, 0x2518}, {0x251C, 0x2524}, {0x250F, 0x2513}, {0x2517, 0x251B},
    {0x2523, 0x252B}, {0x2554, 0x2557}, {0x255A, 0x255D}, {0x2560, 0x2563}, {0x256D, 0x256E},
    {0x2570, 0x256F}, {0x2552, 0x2555}, {0x2558, 0x255B}, {0x2553, 0x2556}, {0x2559, 0x255C},
    {0x255E, 0x2561}, {0x255F, 0x2562}, {0x2574, 0x2576}, {0x2578, 0x257A},
};

} // namespace

char32_t bidiMirror(char32_t scalar)
{
    const auto found = std::lower_bound(std::begin(mirroringPairs), std::end(mirroringPairs), scalar,
                                        [](const auto& pair, char32_t s) { return pair.first < s; });
    return found != std::end(mirroringPairs) && found->first == scalar ? found->second : 0;
}

char32_t boxDrawingMirror(char32_t scalar)
{
    for (const auto& [a, b] : boxDrawingPairs) {
        if (scalar == a)
            return b;
        if (scalar == b)
            return a;
    }
    return 0;
}

BidiPresentationMode bidiPresentationMode(const BidiPresentationState& state)
{
    const bool rtl = state.fallbackDirection == BidiDirection::rightToLeft;
    if (state.supportMode == BidiSupportMode::explicit_)
        return rtl ? BidiPresentationMode::explicitRightToLeft : BidiPresentationMode::explicitLeftToRight;
    if (state.autodetectDirection)
        return rtl ? BidiPresentationMode::implicitAutoRightToLeft : BidiPresentationMode::implicitAutoLeftToRight;
    return rtl ? BidiPresentationMode::implicitRightToLeft : BidiPresentationMode::implicitLeftToRight;
}

namespace {

constexpr char32_t rlm = 0x200F;
constexpr char32_t lrm = 0x200E;

bool isRightToLeftScalar(char32_t s)
{
    return (s >= 0x0590 && s <= 0x08FF) || (s >= 0xFB1D && s <= 0xFDFF) || (s >= 0xFE70 && s <= 0xFEFC)
        || (s >= 0x10800 && s <= 0x10FFF) || (s >= 0x1E800 && s <= 0x1EFFF);
}

bool isRightToLeftMark(char32_t s) { return s == rlm || s == 0x202B || s == 0x202E || s == 0x2067; }

// A small streaming hash; stable within one run only, which is all the caches need.
struct Hasher {
    uint64_t value = 0xcbf29ce484222325ull;
    void add(uint64_t v)
    {
        value ^= v + 0x9e3779b97f4a7c15ull + (value << 6) + (value >> 2);
        value *= 0x100000001b3ull;
    }
    void add(const BidiPresentationState& s)
    {
        add(static_cast<uint64_t>(s.supportMode));
        add(s.autodetectDirection ? 1 : 0);
        add(static_cast<uint64_t>(s.fallbackDirection));
        add(s.boxMirroring ? 1 : 0);
    }
};

struct ParagraphKey {
    uint64_t buffer = 0;
    int firstRow = 0;
    int lastRow = 0;
    uint64_t revision = 0;
    int cols = 0;
    BidiPresentationState state;
    friend bool operator==(const ParagraphKey&, const ParagraphKey&) = default;
};

struct ParagraphContentKey {
    uint64_t contentHash = 0;
    int rowCount = 0;
    int cols = 0;
    BidiPresentationState state;
    friend bool operator==(const ParagraphContentKey&, const ParagraphContentKey&) = default;
};

struct KeyHash {
    size_t operator()(const ParagraphKey& k) const
    {
        Hasher h;
        h.add(k.buffer);
        h.add(static_cast<uint64_t>(k.firstRow));
        h.add(static_cast<uint64_t>(k.lastRow));
        h.add(k.revision);
        h.add(static_cast<uint64_t>(k.cols));
        h.add(k.state);
        return static_cast<size_t>(h.value);
    }
    size_t operator()(const ParagraphContentKey& k) const
    {
        Hasher h;
        h.add(k.contentHash);
        h.add(static_cast<uint64_t>(k.rowCount));
        h.add(static_cast<uint64_t>(k.cols));
        h.add(k.state);
        return static_cast<size_t>(h.value);
    }
};

// Cells with rows counted from the paragraph's first row; one optional layout per row.
struct CachedParagraph {
    std::vector<TerminalBidi::Cell> cells;
    std::vector<std::optional<BidiRowLayout>> rowsByOffset;
    BidiDirection baseDirection = BidiDirection::leftToRight;
};

struct Caches {
    std::mutex lock;
    std::unordered_map<ParagraphKey, std::shared_ptr<const ParagraphResult>, KeyHash> paragraphs;
    std::unordered_map<ParagraphContentKey, std::shared_ptr<const CachedParagraph>, KeyHash> contents;
};

Caches& caches()
{
    static Caches instance;
    return instance;
}

void storeParagraph(const ParagraphKey& key, const std::shared_ptr<const ParagraphResult>& result)
{
    Caches& c = caches();
    const std::lock_guard guard(c.lock);
    if (c.paragraphs.size() >= TerminalBidi::cacheLimit)
        c.paragraphs.clear();
    c.paragraphs.insert_or_assign(key, result);
}

std::u32string cellTextOf(const Terminal& terminal, int32_t code)
{
    if (code == 0)
        return U" ";
    char32_t scratch = 0;
    return std::u32string(RowBuilder::cellText(terminal, code, scratch));
}

// The stored cells of a line up to its content, each with its text; answers the column reached.
template <typename Append>
int walkContent(const BufferLine& line, int cols, Append&& append)
{
    const int contentEnd = std::min({line.dataSize(), cols, line.getTrimmedLength()});
    int col = 0;
    while (col < contentEnd) {
        const PackedCell& cell = line.packedCell(col);
        const int width = std::max<int>(cell.width(), 1);
        append(col, width, cell.code());
        col += width;
    }
    return col;
}

// Writes one cell (or blank column) at visual position p into a row layout.
void place(BidiRowLayout& layout, int& p, int logicalCol, int width, std::optional<std::u32string> display)
{
    const int cols = static_cast<int>(layout.logicalToVisualCol.size());
    for (int j = 0; j < width; ++j) {
        if (logicalCol + j >= 0 && logicalCol + j < cols)
            layout.logicalToVisualCol[static_cast<size_t>(logicalCol + j)] = p + j;
        if (p + j >= 0 && p + j < cols)
            layout.visualToLogicalCol[static_cast<size_t>(p + j)] = logicalCol;
    }
    layout.visualCells.push_back({logicalCol, width, std::move(display)});
    p += width;
}

BidiRowLayout emptyLayout(int cols, BidiDirection direction, uint64_t revision)
{
    BidiRowLayout layout;
    layout.logicalToVisualCol.assign(static_cast<size_t>(std::max(cols, 0)), 0);
    layout.visualToLogicalCol.assign(static_cast<size_t>(std::max(cols, 0)), 0);
    layout.baseDirection = direction;
    layout.paragraphRevision = revision;
    return layout;
}

std::optional<char32_t> singleScalar(const std::u32string& text)
{
    if (text.size() == 1)
        return text[0];
    return std::nullopt;
}

std::optional<std::u32string> mirroredDisplay(const std::u32string& text, bool boxMirroring)
{
    const auto scalar = singleScalar(text);
    if (!scalar)
        return std::nullopt;
    if (const char32_t partner = bidiMirror(*scalar); partner != 0 && isValidScalar(static_cast<int32_t>(partner)))
        return std::u32string(1, partner);
    if (boxMirroring) {
        if (const char32_t partner = boxDrawingMirror(*scalar); partner != 0)
            return std::u32string(1, partner);
    }
    return std::nullopt;
}

struct UBiDiCloser {
    void operator()(UBiDi* bidi) const { ubidi_close(bidi); }
};
using UBiDiPtr = std::unique_ptr<UBiDi, UBiDiCloser>;

struct Runs {
    std::vector<int> order;
    std::vector<bool> rightToLeft;
};

// Visual order and right-to-left flags of cells [s, e) of the paragraph set on `paragraph`.
std::optional<Runs> visualRuns(UBiDi* paragraph, UBiDi* line, int s, int e)
{
    Runs runs;
    const int n = e - s;
    if (n <= 0)
        return runs;
    UErrorCode status = U_ZERO_ERROR;
    ubidi_setLine(paragraph, s, e, line, &status);
    if (U_FAILURE(status))
        return std::nullopt;
    runs.order.resize(static_cast<size_t>(n));
    ubidi_getVisualMap(line, runs.order.data(), &status);
    const UBiDiLevel* levels = ubidi_getLevels(line, &status);
    if (U_FAILURE(status) || levels == nullptr || ubidi_getResultLength(line) != n)
        return std::nullopt;
    runs.rightToLeft.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        if (runs.order[static_cast<size_t>(i)] < 0 || runs.order[static_cast<size_t>(i)] >= n)
            return std::nullopt;
        runs.rightToLeft[static_cast<size_t>(i)] = (levels[i] & 1) != 0;
    }
    return runs;
}

struct RowSpan {
    int start = 0; // index of the row's first cell
    int end = 0;   // index after its last
    int length = 0; // columns reached
};

ParagraphResult computeParagraph(std::span<const TerminalBidi::Cell> cells, std::span<const RowSpan> rowSpans,
                                 int first, int cols, const BidiPresentationState& state, uint64_t revision,
                                 bool hasRightToLeft)
{
    ParagraphResult result;
    BidiDirection direction = state.fallbackDirection;
    if (state.autodetectDirection)
        direction = TerminalBidi::detectBaseDirection(cells, state.fallbackDirection);
    result.baseDirection = direction;
    if (!hasRightToLeft && direction == BidiDirection::leftToRight)
        return result;

    std::u16string units;
    units.reserve(cells.size());
    for (const TerminalBidi::Cell& cell : cells)
        units.push_back(TerminalBidi::typesetUnit(cell.text));

    UErrorCode status = U_ZERO_ERROR;
    const int length = static_cast<int>(units.size());
    UBiDiPtr paragraph(ubidi_openSized(length, 0, &status));
    UBiDiPtr line(ubidi_openSized(length, 0, &status));
    if (U_FAILURE(status) || !paragraph || !line)
        return result;
    const UBiDiLevel level = direction == BidiDirection::rightToLeft ? 1 : 0;
    ubidi_setPara(paragraph.get(), units.data(), length, level, nullptr, &status);
    if (U_FAILURE(status))
        return result;

    std::vector<std::optional<std::u32string>> displays = TerminalBidi::shapeArabic(cells);

    for (size_t r = 0; r < rowSpans.size(); ++r) {
        const RowSpan& span = rowSpans[r];
        const auto runs = visualRuns(paragraph.get(), line.get(), span.start, span.end);
        if (!runs)
            continue;
        for (size_t k = 0; k < runs->rightToLeft.size(); ++k) {
            const size_t i = static_cast<size_t>(span.start) + k;
            if (runs->rightToLeft[k] && !displays[i])
                displays[i] = mirroredDisplay(cells[i].text, state.boxMirroring);
        }

        const int contentEnd = std::min(span.length, cols);
        BidiRowLayout layout = emptyLayout(cols, direction, revision);
        int p = 0;
        // Blank columns past the text sit on the side the paragraph ends on.
        if (direction == BidiDirection::rightToLeft) {
            for (int col = cols - 1; col >= contentEnd; --col)
                place(layout, p, col, 1, std::nullopt);
        }
        for (const int k : runs->order) {
            const size_t i = static_cast<size_t>(span.start + k);
            place(layout, p, cells[i].logicalCol, cells[i].width, displays[i]);
        }
        if (direction == BidiDirection::leftToRight) {
            for (int col = contentEnd; col < cols; ++col)
                place(layout, p, col, 1, std::nullopt);
        }
        result.rows.emplace(first + static_cast<int>(r), std::move(layout));
    }
    return result;
}

bool isExplicit(const BufferLine& line) { return line.bidiState().supportMode == BidiSupportMode::explicit_; }

} // namespace

std::optional<std::pair<int, int>> TerminalBidi::paragraphBounds(int row, const Buffer& buffer, int maxRows)
{
    const auto& lines = buffer.lines();
    if (row < 0 || row >= lines.count())
        return std::nullopt;
    const int m = std::max(maxRows, 1);
    int first = row;
    int counted = 1;
    while (first > 0 && lines[first]->isWrapped()) {
        if (counted == m)
            return std::nullopt;
        --first;
        ++counted;
    }
    int last = row;
    int budget = std::max(m, counted) - counted;
    while (last + 1 < lines.count() && lines[last + 1]->isWrapped()) {
        if (budget == 0)
            return std::nullopt;
        ++last;
        --budget;
    }
    return std::pair{first, last};
}

uint64_t TerminalBidi::paragraphContentHash(int first, int last, const Buffer& buffer)
{
    Hasher h;
    const auto& lines = buffer.lines();
    for (int r = std::max(first, 0); r <= last && r < lines.count(); ++r) {
        const BufferLine& line = *lines[r];
        h.add(line.uniqueId());
        h.add(line.generation());
        h.add(line.isWrapped() ? 1 : 0);
    }
    return h.value;
}

bool TerminalBidi::rowNeedsBidi(const BufferLine& line, int cols, const Terminal& terminal)
{
    const int end = std::min(line.dataSize(), cols);
    for (int col = 0; col < end;) {
        const PackedCell& cell = line.packedCell(col);
        col += std::max<int>(cell.width(), 1);
        if (cell.code() < 0x0590)
            continue;
        if (cell.code() < CharData::firstSyntheticCode) {
            const char32_t s = static_cast<char32_t>(cell.code());
            if (isRightToLeftScalar(s) || isRightToLeftMark(s))
                return true;
            continue;
        }
        const auto found = terminal.indexToCharMap().find(cell.code());
        if (found == terminal.indexToCharMap().end())
            continue;
        for (char32_t s : found->second) {
            if (isRightToLeftScalar(s) || isRightToLeftMark(s))
                return true;
        }
    }
    return false;
}

BidiDirection TerminalBidi::detectBaseDirection(std::span<const Cell> cells, BidiDirection fallback)
{
    for (const Cell& cell : cells) {
        for (char32_t s : cell.text) {
            if (s == lrm)
                return BidiDirection::leftToRight;
            if (s == rlm)
                return BidiDirection::rightToLeft;
            if (s < 0x80 ? ((s | 0x20) >= U'a' && (s | 0x20) <= U'z') : u_isUAlphabetic(static_cast<UChar32>(s)))
                return isRightToLeftScalar(s) ? BidiDirection::rightToLeft : BidiDirection::leftToRight;
        }
    }
    return fallback;
}

char16_t TerminalBidi::typesetUnit(std::u32string_view text)
{
    if (text.empty())
        return u' ';
    const char32_t s = text[0];
    if (!isValidScalar(static_cast<int32_t>(s)))
        return u'\u00B7';
    const UChar32 c = static_cast<UChar32>(s);
    if (s >= 0x0300) {
        const int8_t type = u_charType(c);
        if (u_getCombiningClass(c) != 0 || type == U_NON_SPACING_MARK || type == U_ENCLOSING_MARK)
            return u'\u00B7';
    }
    // Joining letters become a letter that never joins, so that the algorithm sees one
    // unit per cell and shaping stays ours.
    const bool joiningLetter = (s >= 0x0620 && s <= 0x064A) || (s >= 0x0671 && s <= 0x06D5)
        || (s >= 0x06FA && s <= 0x06FF) || (s >= 0x0750 && s <= 0x077F) || (s >= 0x0870 && s <= 0x088F)
        || (s >= 0x08A0 && s <= 0x08D2) || s == 0x066E || s == 0x066F || s == 0x06EE || s == 0x06EF || s == 0x200D;
    if (joiningLetter)
        return u'\u0621';
    if (s < 0x10000)
        return static_cast<char16_t>(s);
    if ((s >= 0x10800 && s <= 0x10FFF) || (s >= 0x1E800 && s <= 0x1EFFF))
        return u'\u200F';
    return u'\u00B7';
}

std::shared_ptr<const ParagraphResult> TerminalBidi::paragraphLayout(int row, const Buffer& buffer, int cols,
                                                                     const Terminal& terminal)
{
    const auto& lines = buffer.lines();
    if (row < 0 || row >= lines.count() || isExplicit(*lines[row]))
        return nullptr;
    const auto bounds = paragraphBounds(row, buffer, terminal.options().bidiParagraphRowLimit());
    if (!bounds)
        return nullptr;
    // Plain names rather than a structured binding: lambdas below capture them.
    const int first = bounds->first, last = bounds->second;
    const BidiPresentationState state = lines[first]->bidiState();
    const uint64_t revision = paragraphContentHash(first, last, buffer);
    const ParagraphKey key{buffer.uniqueId(), first, last, revision, cols, state};

    Caches& c = caches();
    {
        const std::lock_guard guard(c.lock);
        if (const auto found = c.paragraphs.find(key); found != c.paragraphs.end())
            return found->second;
    }

    bool hasRightToLeft = false;
    for (int r = first; r <= last && !hasRightToLeft; ++r)
        hasRightToLeft = rowNeedsBidi(*lines[r], cols, terminal);
    if (!hasRightToLeft && state.fallbackDirection == BidiDirection::leftToRight) {
        auto result = std::make_shared<const ParagraphResult>();
        storeParagraph(key, result);
        return result;
    }

    const int rowCount = last - first + 1;
    std::vector<Cell> cells;
    cells.reserve(static_cast<size_t>(rowCount) * static_cast<size_t>(std::clamp(cols, 0, 80)));
    std::vector<RowSpan> spans(static_cast<size_t>(rowCount));
    for (int r = first; r <= last; ++r) {
        RowSpan& span = spans[static_cast<size_t>(r - first)];
        span.start = static_cast<int>(cells.size());
        span.length = walkContent(*lines[r], cols, [&](int col, int width, int32_t code) {
            cells.push_back({r - first, col, width, cellTextOf(terminal, code)});
        });
        span.end = static_cast<int>(cells.size());
    }

    Hasher cellsHash;
    cellsHash.add(cells.size());
    for (const Cell& cell : cells) {
        cellsHash.add(static_cast<uint64_t>(cell.row));
        cellsHash.add(static_cast<uint64_t>(cell.logicalCol));
        cellsHash.add(static_cast<uint64_t>(cell.width));
        for (char32_t s : cell.text)
            cellsHash.add(s);
    }
    const ParagraphContentKey contentKey{cellsHash.value, rowCount, cols, state};

    std::shared_ptr<const CachedParagraph> cached;
    {
        const std::lock_guard guard(c.lock);
        if (const auto found = c.contents.find(contentKey); found != c.contents.end() && found->second->cells == cells)
            cached = found->second;
    }
    if (cached) {
        auto result = std::make_shared<ParagraphResult>();
        result->baseDirection = cached->baseDirection;
        for (size_t i = 0; i < cached->rowsByOffset.size(); ++i) {
            if (!cached->rowsByOffset[i])
                continue;
            BidiRowLayout layout = *cached->rowsByOffset[i];
            layout.paragraphRevision = revision;
            result->rows.emplace(first + static_cast<int>(i), std::move(layout));
        }
        storeParagraph(key, result);
        return result;
    }

    auto result = std::make_shared<const ParagraphResult>(
        computeParagraph(cells, spans, first, cols, state, revision, hasRightToLeft));
    auto entry = std::make_shared<CachedParagraph>();
    entry->rowsByOffset.resize(static_cast<size_t>(rowCount));
    for (int i = 0; i < rowCount; ++i) {
        if (const BidiRowLayout* layout = result->row(first + i))
            entry->rowsByOffset[static_cast<size_t>(i)] = *layout;
    }
    entry->baseDirection = result->baseDirection;
    entry->cells = std::move(cells);
    {
        const std::lock_guard guard(c.lock);
        if (c.contents.size() >= cacheLimit)
            c.contents.clear();
        c.contents.insert_or_assign(contentKey, std::move(entry));
    }
    storeParagraph(key, result);
    return result;
}

std::vector<std::optional<std::u32string>> TerminalBidi::storedOrderForms(const BufferLine& line, int cols,
                                                                          const Terminal& terminal)
{
    std::vector<std::optional<std::u32string>> forms;
    // Most rows hold no Arabic letter: they are told apart without building anything.
    const auto arabicLetter = [](char32_t s) { return (s >= 0x0620 && s <= 0x06FF) || (s >= 0x0750 && s <= 0x077F); };
    bool found = false;
    walkContent(line, cols, [&](int, int, int32_t code) {
        if (found || code < 0x0620)
            return;
        if (code < CharData::firstSyntheticCode) {
            found = arabicLetter(static_cast<char32_t>(code));
            return;
        }
        const auto cluster = terminal.indexToCharMap().find(code);
        found = cluster != terminal.indexToCharMap().end() && !cluster->second.empty()
            && arabicLetter(cluster->second.front());
    });
    if (!found)
        return forms;
    std::vector<Cell> cells;
    walkContent(line, cols, [&](int col, int width, int32_t code) {
        cells.push_back({0, col, width, cellTextOf(terminal, code)});
    });
    const std::vector<std::optional<std::u32string>> displays = shapeArabic(cells);
    forms.resize(static_cast<size_t>(std::max(cols, 0)));
    for (size_t i = 0; i < cells.size() && i < displays.size(); ++i) {
        const int col = cells[i].logicalCol;
        if (displays[i] && col >= 0 && col < cols)
            forms[static_cast<size_t>(col)] = displays[i];
    }
    return forms;
}

std::optional<BidiRowLayout> TerminalBidi::rowLayout(int row, const Buffer& buffer, int cols, const Terminal& terminal)
{
    const auto& lines = buffer.lines();
    if (row < 0 || row >= lines.count())
        return std::nullopt;
    const BufferLine& line = *lines[row];
    struct Stored {
        int col;
        int width;
        int32_t code;
    };
    std::vector<Stored> stored;
    const int reached = walkContent(line, cols, [&](int col, int width, int32_t code) {
        stored.push_back({col, width, code});
    });

    BidiRowLayout layout = emptyLayout(cols, BidiDirection::rightToLeft, line.generation());
    int p = 0;
    for (int col = cols - 1; col >= reached; --col)
        place(layout, p, col, 1, std::nullopt);
    for (auto it = stored.rbegin(); it != stored.rend(); ++it)
        place(layout, p, it->col, it->width, mirroredDisplay(cellTextOf(terminal, it->code), line.bidiState().boxMirroring));
    return layout;
}

std::pair<int, int> TerminalBidi::expandToParagraphs(int startRow, int endRow, const Buffer& buffer, int maxRows)
{
    const auto& lines = buffer.lines();
    const int count = lines.count();
    if (count == 0)
        return {startRow, endRow};
    const int s = std::clamp(startRow, 0, count - 1);
    const int e = std::max(std::min(endRow, count - 1), s);
    int start = s;
    if (!isExplicit(*lines[s])) {
        if (const auto bounds = paragraphBounds(s, buffer, maxRows)) {
            start = bounds->first;
            if (bounds->second >= e)
                return *bounds;
        }
    }
    int end = e;
    if (!isExplicit(*lines[e])) {
        if (const auto bounds = paragraphBounds(e, buffer, maxRows))
            end = bounds->second;
    }
    return {start, end};
}

uint64_t TerminalBidi::paragraphRevision(int row, const Buffer& buffer, int maxRows)
{
    const auto& lines = buffer.lines();
    if (row < 0 || row >= lines.count() || isExplicit(*lines[row]))
        return 0;
    const auto bounds = paragraphBounds(row, buffer, maxRows);
    return bounds ? paragraphContentHash(bounds->first, bounds->second, buffer) : 0;
}

std::u32string TerminalBidi::composeDisplay(char32_t scalar, std::span<const Cell> cells)
{
    std::u32string out(1, scalar);
    for (const Cell& cell : cells) {
        if (cell.text.size() > 1)
            out.append(cell.text, 1);
    }
    return out;
}

int RowBidiLayout::visualColumn(int logicalCol) const
{
    if (layout == nullptr || logicalCol < 0 || logicalCol >= static_cast<int>(layout->logicalToVisualCol.size()))
        return logicalCol;
    return layout->logicalToVisualCol[static_cast<size_t>(logicalCol)];
}

int RowBidiLayout::logicalColumn(int visualCol) const
{
    if (layout == nullptr || visualCol < 0 || visualCol >= static_cast<int>(layout->visualToLogicalCol.size()))
        return visualCol;
    return layout->visualToLogicalCol[static_cast<size_t>(visualCol)];
}

RowBidiLayout TerminalBidi::layoutForRow(int row, const Buffer& buffer, int cols, const Terminal& terminal)
{
    RowBidiLayout result;
    const auto& lines = buffer.lines();
    if (row < 0 || row >= lines.count())
        return result;
    const BidiPresentationState& state = lines[row]->bidiState();
    if (state.supportMode == BidiSupportMode::explicit_) {
        if (state.fallbackDirection == BidiDirection::rightToLeft) {
            result.own = rowLayout(row, buffer, cols, terminal);
            if (result.own)
                result.layout = &*result.own;
        }
        return result;
    }
    result.paragraph = paragraphLayout(row, buffer, cols, terminal);
    if (result.paragraph)
        result.layout = result.paragraph->row(row);
    return result;
}

BidiDirection TerminalBidi::rowDirection(int row, const Buffer& buffer, int cols, const Terminal& terminal)
{
    const auto& lines = buffer.lines();
    if (row < 0 || row >= lines.count())
        return BidiDirection::leftToRight;
    const BidiPresentationState& state = lines[row]->bidiState();
    if (state.supportMode == BidiSupportMode::explicit_)
        return state.fallbackDirection;
    const auto paragraph = paragraphLayout(row, buffer, cols, terminal);
    return paragraph ? paragraph->baseDirection : BidiDirection::leftToRight;
}

void TerminalBidi::clearCaches()
{
    Caches& c = caches();
    const std::lock_guard guard(c.lock);
    c.paragraphs.clear();
    c.contents.clear();
}

size_t TerminalBidi::paragraphCacheSize()
{
    Caches& c = caches();
    const std::lock_guard guard(c.lock);
    return c.paragraphs.size();
}

size_t TerminalBidi::contentCacheSize()
{
    Caches& c = caches();
    const std::lock_guard guard(c.lock);
    return c.contents.size();
}

} // namespace corvantix

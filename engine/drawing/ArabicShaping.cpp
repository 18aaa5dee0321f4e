// Contextual forms of Arabic letters for display: each letter keeps its own cell, only the
// text drawn in it changes (and a lam-alef pair draws as one ligature in the lam's cell).
#include <algorithm>

#include <unicode/uchar.h>

#include "drawing/TerminalBidi.h"
#include "model/CharData.h"

namespace corvantix {

namespace {

using Joining = TerminalBidi::Joining;

struct JoiningRange {
    char32_t first;
    char32_t last;
    Joining type;
};

// Joining types of the letters of the scripts that join, sorted and disjoint. Marks are
// found transparent by their general category instead.
constexpr JoiningRange arabicJoiningRanges[] = {
    {0x0620, 0x0620, Joining::dual},
    {0x0622, 0x0625, Joining::right},
    {0x0626, 0x0626, Joining::dual},
    {0x0627, 0x0627, Joining::right},
    {0x0628, 0x0628, Joining::dual},
    {0x0629, 0x0629, Joining::right},
    {0x062A, 0x062E, Joining::dual},
    {0x062F, 0x0632, Joining::right},
    {0x0633, 0x063F, Joining::dual},
    {0x0640, 0x0640, Joining::causing},
    {0x0641, 0x0647, Joining::dual},
    {0x0648, 0x0648, Joining::right},
    {0x0649, 0x064A, Joining::dual},
    {0x066E, 0x066F, Joining::dual},
    {0x0671, 0x0673, Joining::right},
    {0x0675, 0x0677, Joining::right},
    {0x0678, 0x0687, Joining::dual},
    {0x0688, 0x0699, Joining::right},
    {0x069A, 0x06BF, Joining::dual},
    {0x06C0, 0x06C0, Joining::right},
    {0x06C1, 0x06C2, Joining::dual},
    {0x06C3, 0x06CB, Joining::right},
    {0x06CC, 0x06CC, Joining::dual},
    {0x06CD, 0x06CD, Joining::right},
    {0x06CE, 0x06CE, Joining::dual},
    {0x06CF, 0x06CF, Joining::right},
    {0x06D0, 0x06D1, Joining::dual},
    {0x06D2, 0x06D3, Joining::right},
    {0x06D5, 0x06D5, Joining::right},
    {0x06EE, 0x06EF, Joining::right},
    {0x06FA, 0x06FC, Joining::dual},
    {0x06FF, 0x06FF, Joining::dual},
    {0x070F, 0x070F, Joining::transparent},
    {0x0710, 0x0710, Joining::right},
    {0x0712, 0x0714, Joining::dual},
    {0x0715, 0x0719, Joining::right},
    {0x071A, 0x071D, Joining::dual},
    {0x071E, 0x071E, Joining::right},
    {0x071F, 0x0727, Joining::dual},
    {0x0728, 0x0728, Joining::right},
    {0x0729, 0x0729, Joining::dual},
    {0x072A, 0x072A, Joining::right},
    {0x072B, 0x072B, Joining::dual},
    {0x072C, 0x072C, Joining::right},
    {0x072D, 0x072E, Joining::dual},
    {0x072F, 0x072F, Joining::right},
    {0x074D, 0x074D, Joining::right},
    {0x074E, 0x0758, Joining::dual},
    {0x0759, 0x075B, Joining::right},
    {0x075C, 0x076A, Joining::dual},
    {0x076B, 0x076C, Joining::right},
    {0x076D, 0x0770, Joining::dual},
    {0x0771, 0x0771, Joining::right},
    {0x0772, 0x0772, Joining::dual},
    {0x0773, 0x0774, Joining::right},
    {0x0775, 0x0777, Joining::dual},
    {0x0778, 0x0779, Joining::right},
    {0x077A, 0x077F, Joining::dual},
    {0x07CA, 0x07EA, Joining::dual},
    {0x07FA, 0x07FA, Joining::causing},
    {0x0840, 0x0840, Joining::right},
    {0x0841, 0x0845, Joining::dual},
    {0x0846, 0x0847, Joining::right},
    {0x0848, 0x0848, Joining::dual},
    {0x0849, 0x0849, Joining::right},
    {0x084A, 0x0853, Joining::dual},
    {0x0854, 0x0854, Joining::right},
    {0x0855, 0x0855, Joining::dual},
    {0x0856, 0x0858, Joining::right},
    {0x0860, 0x0860, Joining::dual},
    {0x0862, 0x0865, Joining::dual},
    {0x0867, 0x0867, Joining::right},
    {0x0868, 0x0868, Joining::dual},
    {0x0869, 0x086A, Joining::right},
    {0x0870, 0x0882, Joining::right},
    {0x0883, 0x0885, Joining::causing},
    {0x0886, 0x0886, Joining::dual},
    {0x0889, 0x088D, Joining::dual},
    {0x088E, 0x088E, Joining::right},
    {0x088F, 0x088F, Joining::dual},
    {0x08A0, 0x08A9, Joining::dual},
    {0x08AA, 0x08AC, Joining::right},
    {0x08AE, 0x08AE, Joining::right},
    {0x08AF, 0x08B0, Joining::dual},
    {0x08B1, 0x08B2, Joining::right},
    {0x08B3, 0x08B8, Joining::dual},
    {0x08B9, 0x08B9, Joining::right},
    {0x08BA, 0x08C8, Joining::dual},
    {0x1807, 0x1807, Joining::dual},
    {0x180A, 0x180A, Joining::causing},
    {0x1820, 0x1878, Joining::dual},
    {0x1885, 0x1886, Joining::transparent},
    {0x1887, 0x18A8, Joining::dual},
    {0x18AA, 0x18AA, Joining::dual},
    {0x200D, 0x200D, Joining::causing},
    {0xA840, 0xA871, Joining::dual},
    {0xA872, 0xA872, Joining::left},
    {0x10AC0, 0x10AC4, Joining::dual},
    {0x10AC5, 0x10AC5, Joining::right},
    {0x10AC7, 0x10AC7, Joining::right},
    {0x10AC9, 0x10ACA, Joining::right},
    {0x10ACD, 0x10ACD, Joining::left},
    {0x10ACE, 0x10AD2, Joining::right},
    {0x10AD3, 0x10AD6, Joining::dual},
    {0x10AD7, 0x10AD7, Joining::left},
    {0x10AD8, 0x10ADC, Joining::dual},
    {0x10ADD, 0x10ADD, Joining::right},
    {0x10ADE, 0x10AE0, Joining::dual},
    {0x10AE1, 0x10AE1, Joining::right},
    {0x10AE4, 0x10AE4, Joining::right},
    {0x10AEB, 0x10AEE, Joining::dual},
    {0x10AEF, 0x10AEF, Joining::right},
    {0x10B80, 0x10B80, Joining::dual},
    {0x10B81, 0x10B81, Joining::right},
    {0x10B82, 0x10B82, Joining::dual},
    {0x10B83, 0x10B85, Joining::right},
    {0x10B86, 0x10B88, Joining::dual},
    {0x10B89, 0x10B89, Joining::right},
    {0x10B8A, 0x10B8B, Joining::dual},
    {0x10B8C, 0x10B8C, Joining::right},
    {0x10B8D, 0x10B8D, Joining::dual},
    {0x10B8E, 0x10B8F, Joining::right},
    {0x10B90, 0x10B90, Joining::dual},
    {0x10B91, 0x10B91, Joining::right},
    {0x10BA9, 0x10BAC, Joining::right},
    {0x10BAD, 0x10BAE, Joining::dual},
    {0x10D00, 0x10D00, Joining::left},
    {0x10D01, 0x10D21, Joining::dual},
    {0x10D22, 0x10D22, Joining::right},
    {0x10D23, 0x10D23, Joining::dual},
    {0x10EC2, 0x10EC2, Joining::right},
    {0x10EC3, 0x10EC4, Joining::dual},
    {0x10EC6, 0x10EC7, Joining::dual},
    {0x10F30, 0x10F32, Joining::dual},
    {0x10F33, 0x10F33, Joining::right},
    {0x10F34, 0x10F44, Joining::dual},
    {0x10F51, 0x10F53, Joining::dual},
    {0x10F54, 0x10F54, Joining::right},
    {0x10F70, 0x10F73, Joining::dual},
    {0x10F74, 0x10F75, Joining::right},
    {0x10F76, 0x10F81, Joining::dual},
    {0x10FB0, 0x10FB0, Joining::dual},
    {0x10FB2, 0x10FB3, Joining::dual},
    {0x10FB4, 0x10FB6, Joining::right},
    {0x10FB8, 0x10FB8, Joining::dual},
    {0x10FB9, 0x10FBA, Joining::right},
    {0x10FBB, 0x10FBC, Joining::dual},
    {0x10FBD, 0x10FBD, Joining::right},
    {0x10FBE, 0x10FBF, Joining::dual},
    {0x10FC1, 0x10FC1, Joining::dual},
    {0x10FC2, 0x10FC3, Joining::right},
    {0x10FC4, 0x10FC4, Joining::dual},
    {0x10FC9, 0x10FC9, Joining::right},
    {0x10FCA, 0x10FCA, Joining::dual},
    {0x10FCB, 0x10FCB, Joining::left},
    {0x1E900, 0x1E943, Joining::dual},
    {0x1E94B, 0x1E94B, Joining::transparent},};

// isolated, final, initial (0: none), medial (0: none)
struct ArabicForms {
    char32_t isolated;
    char32_t final;
    char32_t initial;
    char32_t medial;
};

constexpr std::pair<char32_t, ArabicForms> arabicPresentationForms[] = {
    {0x0621, {0xFE80, 0xFE80, 0, 0}},
    {0x0622, {0xFE81, 0xFE82, 0, 0}},
    {0x0623, {0xFE83, 0xFE84, 0, 0}},
    {0x0624, {0xFE85, 0xFE86, 0, 0}},
    {0x0625, {0xFE87, 0xFE88, 0, 0}},
    {0x0626, {0xFE89, 0xFE8A, 0xFE8B, 0xFE8C}},
    {0x0627, {0xFE8D, 0xFE8E, 0, 0}},
    {0x0628, {0xFE8F, 0xFE90, 0xFE91, 0xFE92}},
    {0x0629, {0xFE93, 0xFE94, 0, 0}},
    {0x062A, {0xFE95, 0xFE96, 0xFE97, 0xFE98}},
    {0x062B, {0xFE99, 0xFE9A, 0xFE9B, 0xFE9C}},
    {0x062C, {0xFE9D, 0xFE9E, 0xFE9F, 0xFEA0}},
    {0x062D, {0xFEA1, 0xFEA2, 0xFEA3, 0xFEA4}},
    {0x062E, {0xFEA5, 0xFEA6, 0xFEA7, 0xFEA8}},
    {0x062F, {0xFEA9, 0xFEAA, 0, 0}},
    {0x0630, {0xFEAB, 0xFEAC, 0, 0}},
    {0x0631, {0xFEAD, 0xFEAE, 0, 0}},
    {0x0632, {0xFEAF, 0xFEB0, 0, 0}},
    {0x0633, {0xFEB1, 0xFEB2, 0xFEB3, 0xFEB4}},
    {0x0634, {0xFEB5, 0xFEB6, 0xFEB7, 0xFEB8}},
    {0x0635, {0xFEB9, 0xFEBA, 0xFEBB, 0xFEBC}},
    {0x0636, {0xFEBD, 0xFEBE, 0xFEBF, 0xFEC0}},
    {0x0637, {0xFEC1, 0xFEC2, 0xFEC3, 0xFEC4}},
    {0x0638, {0xFEC5, 0xFEC6, 0xFEC7, 0xFEC8}},
    {0x0639, {0xFEC9, 0xFECA, 0xFECB, 0xFECC}},
    {0x063A, {0xFECD, 0xFECE, 0xFECF, 0xFED0}},
    {0x0641, {0xFED1, 0xFED2, 0xFED3, 0xFED4}},
    {0x0642, {0xFED5, 0xFED6, 0xFED7, 0xFED8}},
    {0x0643, {0xFED9, 0xFEDA, 0xFEDB, 0xFEDC}},
    {0x0644, {0xFEDD, 0xFEDE, 0xFEDF, 0xFEE0}},
    {0x0645, {0xFEE1, 0xFEE2, 0xFEE3, 0xFEE4}},
    {0x0646, {0xFEE5, 0xFEE6, 0xFEE7, 0xFEE8}},
    {0x0647, {0xFEE9, 0xFEEA, 0xFEEB, 0xFEEC}},
    {0x0648, {0xFEED, 0xFEEE, 0, 0}},
    {0x0649, {0xFEEF, 0xFEF0, 0xFBE8, 0xFBE9}},
    {0x064A, {0xFEF1, 0xFEF2, 0xFEF3, 0xFEF4}},
    {0x0671, {0xFB50, 0xFB51, 0, 0}},
    {0x0677, {0xFBDD, 0xFBDD, 0, 0}},
    {0x0679, {0xFB66, 0xFB67, 0xFB68, 0xFB69}},
    {0x067A, {0xFB5E, 0xFB5F, 0xFB60, 0xFB61}},
    {0x067B, {0xFB52, 0xFB53, 0xFB54, 0xFB55}},
    {0x067E, {0xFB56, 0xFB57, 0xFB58, 0xFB59}},
    {0x067F, {0xFB62, 0xFB63, 0xFB64, 0xFB65}},
    {0x0680, {0xFB5A, 0xFB5B, 0xFB5C, 0xFB5D}},
    {0x0683, {0xFB76, 0xFB77, 0xFB78, 0xFB79}},
    {0x0684, {0xFB72, 0xFB73, 0xFB74, 0xFB75}},
    {0x0686, {0xFB7A, 0xFB7B, 0xFB7C, 0xFB7D}},
    {0x0687, {0xFB7E, 0xFB7F, 0xFB80, 0xFB81}},
    {0x0688, {0xFB88, 0xFB89, 0, 0}},
    {0x068C, {0xFB84, 0xFB85, 0, 0}},
    {0x068D, {0xFB82, 0xFB83, 0, 0}},
    {0x068E, {0xFB86, 0xFB87, 0, 0}},
    {0x0691, {0xFB8C, 0xFB8D, 0, 0}},
    {0x0698, {0xFB8A, 0xFB8B, 0, 0}},
    {0x06A4, {0xFB6A, 0xFB6B, 0xFB6C, 0xFB6D}},
    {0x06A6, {0xFB6E, 0xFB6F, 0xFB70, 0xFB71}},
    {0x06A9, {0xFB8E, 0xFB8F, 0xFB90, 0xFB91}},
    {0x06AD, {0xFBD3, 0xFBD4, 0xFBD5, 0xFBD6}},
    {0x06AF, {0xFB92, 0xFB93, 0xFB94, 0xFB95}},
    {0x06B1, {0xFB9A, 0xFB9B, 0xFB9C, 0xFB9D}},
    {0x06B3, {0xFB96, 0xFB97, 0xFB98, 0xFB99}},
    {0x06BA, {0xFB9E, 0xFB9F, 0, 0}},
    {0x06BB, {0xFBA0, 0xFBA1, 0xFBA2, 0xFBA3}},
    {0x06BE, {0xFBAA, 0xFBAB, 0xFBAC, 0xFBAD}},
    {0x06C0, {0xFBA4, 0xFBA5, 0, 0}},
    {0x06C1, {0xFBA6, 0xFBA7, 0xFBA8, 0xFBA9}},
    {0x06C5, {0xFBE0, 0xFBE1, 0, 0}},
    {0x06C6, {0xFBD9, 0xFBDA, 0, 0}},
    {0x06C7, {0xFBD7, 0xFBD8, 0, 0}},
    {0x06C8, {0xFBDB, 0xFBDC, 0, 0}},
    {0x06C9, {0xFBE2, 0xFBE3, 0, 0}},
    {0x06CB, {0xFBDE, 0xFBDF, 0, 0}},
    {0x06CC, {0xFBFC, 0xFBFD, 0xFBFE, 0xFBFF}},
    {0x06D0, {0xFBE4, 0xFBE5, 0xFBE6, 0xFBE7}},
    {0x06D2, {0xFBAE, 0xFBAF, 0, 0}},
    {0x06D3, {0xFBB0, 0xFBB1, 0, 0}},};

// Keyed by the letter after lam: (isolated, final).
constexpr std::pair<char32_t, std::pair<char32_t, char32_t>> lamAlefLigatures[] = {
    {0x0622, {0xFEF5, 0xFEF6}},
    {0x0623, {0xFEF7, 0xFEF8}},
    {0x0625, {0xFEF9, 0xFEFA}},
    {0x0627, {0xFEFB, 0xFEFC}},
};

static_assert(std::is_sorted(std::begin(arabicJoiningRanges), std::end(arabicJoiningRanges),
                             [](const auto& a, const auto& b) { return a.last < b.first; }));
static_assert(std::is_sorted(std::begin(arabicPresentationForms), std::end(arabicPresentationForms),
                             [](const auto& a, const auto& b) { return a.first < b.first; }));

constexpr char32_t zwnj = 0x200C;
constexpr char32_t lam = 0x0644;

const ArabicForms* formsOf(char32_t s)
{
    const auto found = std::lower_bound(std::begin(arabicPresentationForms), std::end(arabicPresentationForms), s,
                                        [](const auto& entry, char32_t v) { return entry.first < v; });
    return found != std::end(arabicPresentationForms) && found->first == s ? &found->second : nullptr;
}

const std::pair<char32_t, char32_t>* lamAlefOf(char32_t s)
{
    for (const auto& [letter, ligature] : lamAlefLigatures) {
        if (letter == s)
            return &ligature;
    }
    return nullptr;
}

// What a cell does to joining around it.
enum class CellClass : uint8_t { breaks, transparent, typed };

char32_t firstScalar(const TerminalBidi::Cell& cell) { return cell.text.empty() ? U' ' : cell.text[0]; }

bool isMarkOrFormat(char32_t s)
{
    if (!isValidScalar(static_cast<int32_t>(s)))
        return false;
    const int8_t type = u_charType(static_cast<UChar32>(s));
    return type == U_NON_SPACING_MARK || type == U_ENCLOSING_MARK || type == U_FORMAT_CHAR;
}

std::optional<Joining> tableType(char32_t s)
{
    const auto found = std::upper_bound(std::begin(arabicJoiningRanges), std::end(arabicJoiningRanges), s,
                                        [](char32_t v, const JoiningRange& range) { return v < range.first; });
    if (found == std::begin(arabicJoiningRanges))
        return std::nullopt;
    const JoiningRange& range = *(found - 1);
    if (s > range.last)
        return std::nullopt;
    return range.type;
}

CellClass classify(char32_t s, Joining& type)
{
    if (s == zwnj)
        return CellClass::breaks;
    if (const auto t = tableType(s)) {
        type = *t;
        return type == Joining::transparent ? CellClass::transparent : CellClass::typed;
    }
    return isMarkOrFormat(s) ? CellClass::transparent : CellClass::breaks;
}

Joining nextType(std::span<const TerminalBidi::Cell> cells, size_t index)
{
    for (size_t k = index + 1; k < cells.size(); ++k) {
        Joining type = Joining::none;
        switch (classify(firstScalar(cells[k]), type)) {
        case CellClass::transparent:
            continue;
        case CellClass::breaks:
            return Joining::none;
        case CellClass::typed:
            return type;
        }
    }
    return Joining::none;
}

bool joinsAfter(Joining t) { return t == Joining::right || t == Joining::dual || t == Joining::causing; }

// A form followed by the cell's own combining marks.
std::u32string withMarks(char32_t form, const TerminalBidi::Cell& cell)
{
    return TerminalBidi::composeDisplay(form, std::span(&cell, 1));
}

void isolatedSubstitution(std::vector<std::optional<std::u32string>>& result, std::span<const TerminalBidi::Cell> cells,
                          size_t i)
{
    if (const ArabicForms* forms = formsOf(firstScalar(cells[i])))
        result[i] = withMarks(forms->isolated, cells[i]);
}

} // namespace

TerminalBidi::Joining TerminalBidi::joiningType(char32_t scalar) { return tableType(scalar).value_or(Joining::none); }

bool TerminalBidi::joinsWithPrevious(int count, std::span<const Cell> cells, int index, Joining type)
{
    int j = index - 1;
    if (j < 0 || j >= count || j >= static_cast<int>(cells.size()))
        return false;
    Joining previous = Joining::none;
    for (;;) {
        const CellClass cls = classify(firstScalar(cells[static_cast<size_t>(j)]), previous);
        if (cls == CellClass::breaks)
            return false;
        if (cls == CellClass::typed)
            break;
        if (j == 0)
            return false;
        --j;
    }
    const bool previousJoins = previous == Joining::left || previous == Joining::dual || previous == Joining::causing;
    return previousJoins && joinsAfter(type);
}

std::vector<std::optional<std::u32string>> TerminalBidi::shapeArabic(std::span<const Cell> cells)
{
    std::vector<std::optional<std::u32string>> result(cells.size());
    const int count = static_cast<int>(cells.size());
    size_t i = 0;
    while (i < cells.size()) {
        const char32_t s = firstScalar(cells[i]);
        const auto type = s == zwnj ? std::nullopt : tableType(s);
        if (!type) {
            // Marks and format characters stay; anything else only takes an isolated form.
            if (s == zwnj || !isMarkOrFormat(s))
                isolatedSubstitution(result, cells, i);
            ++i;
            continue;
        }
        const Joining t = *type;
        if (t == Joining::none) {
            isolatedSubstitution(result, cells, i);
            ++i;
            continue;
        }
        if (t != Joining::right && t != Joining::dual) {
            ++i;
            continue;
        }
        const bool joinsPrevious = joinsWithPrevious(count, cells, static_cast<int>(i), t);
        if (s == lam && i + 1 < cells.size()) {
            if (const auto* ligature = lamAlefOf(firstScalar(cells[i + 1]))) {
                result[i] = composeDisplay(joinsPrevious ? ligature->second : ligature->first, cells.subspan(i, 2));
                result[i + 1].emplace(1, U' ');
                i += 2;
                continue;
            }
        }
        const ArabicForms* forms = formsOf(s);
        if (forms == nullptr) {
            ++i;
            continue;
        }
        const bool joinsNext = joinsAfter(nextType(cells, i));
        char32_t form = forms->isolated;
        if (t == Joining::right) {
            form = joinsPrevious ? forms->final : forms->isolated;
        } else if (joinsPrevious && joinsNext) {
            form = forms->medial != 0 ? forms->medial : forms->final;
        } else if (joinsNext) {
            form = forms->initial != 0 ? forms->initial : forms->isolated;
        } else if (joinsPrevious) {
            form = forms->final;
        }
        result[i] = withMarks(form, cells[i]);
        ++i;
    }
    return result;
}

} // namespace corvantix

#include "model/ScalarProperties.h"

#include "model/UnicodeUtil.h"

#include <unicode/uchar.h>

#include <mutex>

namespace corvantix::scalarprops {

namespace {

std::mutex& fillMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::uint16_t pack(const ScalarProperties& properties)
{
    return static_cast<std::uint16_t>((properties.width + 1) | (properties.combining ? 4 : 0)
                                      | (properties.extendedPictographic ? 8 : 0) | (properties.joinsPrevious ? 16 : 0)
                                      | (properties.mayJoin ? 32 : 0) | (properties.graphemeBreak << 6));
}

} // namespace

Table& table()
{
    return sharedTable;
}

ScalarProperties compute(char32_t scalar)
{
    const auto c = static_cast<UChar32>(scalar);
    ScalarProperties properties;
    properties.width = UnicodeUtil::columnWidth(scalar);
    properties.combining = u_getCombiningClass(c) != 0;
    properties.extendedPictographic = u_hasBinaryProperty(c, UCHAR_EXTENDED_PICTOGRAPHIC);
    properties.graphemeBreak = u_getIntPropertyValue(c, UCHAR_GRAPHEME_CLUSTER_BREAK);
    const char32_t s = scalar;
    properties.joinsPrevious = properties.width == 0 || s == 0x200D || (s >= 0xFE00 && s <= 0xFE0F)
        || (s >= 0x180B && s <= 0x180F && s != 0x180E) || (s >= 0xE0100 && s <= 0xE01EF) || (s >= 0x1F3FB && s <= 0x1F3FF)
        || (s >= 0x300 && properties.combining);
    const int gcb = properties.graphemeBreak;
    properties.mayJoin = properties.joinsPrevious || (s >= 0x1F1E6 && s <= 0x1F1FF) || properties.extendedPictographic
        || gcb == U_GCB_EXTEND || gcb == U_GCB_ZWJ || gcb == U_GCB_SPACING_MARK;
    return properties;
}

const Table& fillBlock(std::size_t block)
{
    Table& shared = table();
    const std::lock_guard lock(fillMutex());
    if (!shared.ready[block].load(std::memory_order_relaxed)) {
        const char32_t first = static_cast<char32_t>(block << blockBits);
        for (std::size_t i = 0; i < shared.values[block].size(); ++i)
            shared.values[block][i] = pack(compute(first + static_cast<char32_t>(i)));
        shared.ready[block].store(true, std::memory_order_release);
    }
    return shared;
}

} // namespace corvantix::scalarprops

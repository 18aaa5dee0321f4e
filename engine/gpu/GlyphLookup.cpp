#include "gpu/GlyphLookup.h"

#include <algorithm>

#include "graphics/KittyGraphicsState.h"

namespace corvantix {

namespace {
std::size_t combine(std::size_t seed, std::size_t value)
{
    return seed ^ (value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2));
}
} // namespace

std::size_t GlyphKeyHash::operator()(const GlyphKey& key) const
{
    std::size_t seed = std::hash<std::string>{}(key.fontName);
    seed = combine(seed, std::hash<double>{}(key.size));
    return combine(seed, key.glyph);
}

std::size_t CustomGlyphKeyHash::operator()(const CustomGlyphKey& key) const
{
    std::size_t seed = key.codePoint;
    seed = combine(seed, static_cast<std::size_t>(key.cellWidthPx));
    seed = combine(seed, static_cast<std::size_t>(key.cellHeightPx));
    seed = combine(seed, static_cast<std::size_t>(key.baseThicknessPx));
    seed = combine(seed, static_cast<std::size_t>(key.scale));
    return combine(seed, key.antiAlias ? 1 : 0);
}

std::size_t ShaperKeyHash::operator()(const ShaperKey& key) const
{
    std::size_t seed = std::hash<std::string>{}(key.fontName);
    seed = combine(seed, std::hash<double>{}(key.fontSize));
    return combine(combine(seed, std::hash<std::u16string>{}(key.text)), std::hash<bool>{}(key.cells));
}

int customGlyphScale(double scale)
{
    if (!(scale >= 1.0)) // also NaN
        return 1;
    return static_cast<int>(std::min(std::round(scale), 1024.0));
}

std::uint32_t fnv1a32(std::span<const std::uint8_t> bytes)
{
    std::uint32_t hash = 2166136261u;
    for (std::uint8_t byte : bytes) {
        hash ^= byte;
        hash *= 16777619u;
    }
    return hash;
}

KittyImageSignature kittyImageSignature(const KittyGraphicsImage& image)
{
    const KittyGraphicsPayload& payload = image.payload;
    KittyImageSignature signature;
    const bool encoded = payload.kind == KittyGraphicsPayload::Kind::png;
    signature.kind = encoded ? 1 : 2;
    signature.width = encoded ? 0 : payload.width;
    signature.height = encoded ? 0 : payload.height;
    signature.byteCount = static_cast<std::int64_t>(payload.bytes.size());
    signature.headHash = fnv1a32(std::span(payload.bytes).first(std::min<std::size_t>(64, payload.bytes.size())));
    signature.storeStamp = image.storeStamp;
    return signature;
}

AtlasInvalidation atlasInvalidation(const GlyphAtlas& atlas, int sizeBefore)
{
    if (atlas.didReset())
        return AtlasInvalidation::everything;
    if (atlas.size() != sizeBefore)
        return AtlasInvalidation::rowsOnly;
    return AtlasInvalidation::none;
}

} // namespace corvantix

// The keys and caches behind the GPU renderer's glyph lookup: glyph entries kept in the
// atlases, drawn cell art, shaped text (first in, first out), and the signature that tells
// whether a stored inline image still matches the texture made from it.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>

#include "gpu/GlyphAtlas.h"

namespace corvantix {

struct KittyGraphicsImage;

// A glyph of one font at one size.
struct GlyphKey {
    std::string fontName; // the font's PostScript name
    double size = 0.0;    // pixels
    std::uint32_t glyph = 0;

    friend bool operator==(const GlyphKey&, const GlyphKey&) = default;
};

enum class GlyphAtlasKind : std::uint8_t { grayscale, color };

struct GlyphEntry {
    AtlasRegion region;
    int width = 0; // of the glyph bitmap, pixels
    int height = 0;
    double bearingX = 0.0;
    double bearingY = 0.0;
    bool isColor = false;
    GlyphAtlasKind atlasKind = GlyphAtlasKind::grayscale; // color exactly when isColor
};

// Drawn cell art of one code point at one cell size.
struct CustomGlyphKey {
    std::uint32_t codePoint = 0;
    int cellWidthPx = 0;
    int cellHeightPx = 0;
    int baseThicknessPx = 0;
    int scale = 1; // customGlyphScale of the backing scale
    bool antiAlias = false;

    friend bool operator==(const CustomGlyphKey&, const CustomGlyphKey&) = default;
};

// The backing scale as a cache key: rounded to the nearest whole number, at least 1.
int customGlyphScale(double scale);

struct CustomGlyphEntry {
    AtlasRegion region;
    int width = 0; // the cell, pixels
    int height = 0;
};

// Shaped text of one font at one size.
struct ShaperKey {
    std::string fontName;
    double fontSize = 0.0;
    std::u16string text;
    // The text is a stretch of cells packed with its cell boundaries (packCellRun), shaped
    // with every glyph placed from its cell, rather than plain text.
    bool cells = false;

    friend bool operator==(const ShaperKey&, const ShaperKey&) = default;
};

struct GlyphKeyHash {
    std::size_t operator()(const GlyphKey& key) const;
};
struct CustomGlyphKeyHash {
    std::size_t operator()(const CustomGlyphKey& key) const;
};
struct ShaperKeyHash {
    std::size_t operator()(const ShaperKey& key) const;
};

// Shaped runs by font, size and text, holding at most maxEntries: the oldest insertion goes
// first, however recently it was read (reads do not reorder).
template <typename Run>
class ShaperCache {
public:
    explicit ShaperCache(std::size_t maxEntries = 2048) : maxEntries_(maxEntries) {}

    const Run* find(const ShaperKey& key) const
    {
        const auto found = cache_.find(key);
        return found == cache_.end() ? nullptr : &found->second;
    }

    // A key already cached keeps its place in the order; its run is replaced.
    void insert(const ShaperKey& key, Run run)
    {
        auto [slot, added] = cache_.insert_or_assign(key, std::move(run));
        if (added)
            order_.push_back(key);
        while (order_.size() > maxEntries_) {
            cache_.erase(order_.front());
            order_.pop_front();
        }
    }

    std::size_t size() const { return cache_.size(); }
    std::size_t maxEntries() const { return maxEntries_; }

private:
    std::size_t maxEntries_;
    std::unordered_map<ShaperKey, Run, ShaperKeyHash> cache_;
    std::deque<ShaperKey> order_;
};

// 32-bit FNV-1a; the empty input gives the offset basis 2166136261.
std::uint32_t fnv1a32(std::span<const std::uint8_t> bytes);

// What a texture made from a stored image was made from. Sizes and a hash of the first
// bytes make a cheap comparison; the store stamp (which changes each time an image is stored,
// even under the same id) makes it exact, so an image re-sent with new pixels is shown anew.
struct KittyImageSignature {
    std::uint8_t kind = 0; // 1 encoded image, 2 raw RGBA pixels
    int width = 0;         // raw images only; 0 for encoded ones
    int height = 0;
    std::int64_t byteCount = 0;
    std::uint32_t headHash = 0; // fnv1a32 of the first min(64, byteCount) bytes
    std::uint64_t storeStamp = 0;

    friend bool operator==(const KittyImageSignature&, const KittyImageSignature&) = default;
};

KittyImageSignature kittyImageSignature(const KittyGraphicsImage& image);

// What an allocation that may have changed an atlas asks of the renderer's caches.
enum class AtlasInvalidation : std::uint8_t {
    none,
    rowsOnly,  // the atlas grew: regions stand, row vertex data does not
    everything // the atlas was emptied: glyph, cell-art and row caches go
};

// Compares the atlas with its side before the allocation.
AtlasInvalidation atlasInvalidation(const GlyphAtlas& atlas, int sizeBefore);

} // namespace corvantix

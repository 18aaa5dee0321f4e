// The glyph atlases: square textures that every glyph of the GPU renderer is cut from, one
// single-channel (ordinary glyphs and drawn cell art) and one four-channel (colour glyphs).
// The atlas keeps a CPU copy of its whole texture, packs glyphs on shelves with a one-pixel
// ring of repeated edge pixels around each (so linear filtering never bleeds a neighbour in),
// doubles its side when full, and starts over empty once it cannot grow. The texture itself
// is behind a small interface so the packing runs and is tested without a GPU.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace corvantix {

// One rasterized glyph: premultiplied B, G, R, A bytes, 8 bits each, the first stored row
// being the top of the image.
struct GlyphBitmap {
    int width = 0;
    int height = 0;
    // Offset in pixels of the bitmap's lower-left corner from the glyph origin (y upward).
    double bearingX = 0.0;
    double bearingY = 0.0;
    std::vector<std::uint8_t> pixels; // width x height x 4
    bool isColor = false;
};

// A rectangle of atlas texels; (x, y) is its first texel.
struct AtlasRegion {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    friend bool operator==(const AtlasRegion&, const AtlasRegion&) = default;
};

// grayscale: one byte a pixel (GL_R8). bgra: four bytes a pixel in B, G, R, A order (GL_RGBA8
// filled from BGRA data).
enum class GlyphAtlasFormat : std::uint8_t { grayscale, bgra };

// "grayscale" or "bgra", as log lines name it.
std::string_view name(GlyphAtlasFormat format);
constexpr int bytesPerPixel(GlyphAtlasFormat format) { return format == GlyphAtlasFormat::grayscale ? 1 : 4; }

// The GPU side of an atlas.
class GlyphAtlasTexture {
public:
    virtual ~GlyphAtlasTexture() = default;
    // Replaces a rectangle of texels; `bytes` points at its first texel, rows `bytesPerRow`
    // apart.
    virtual void replaceRegion(int x, int y, int width, int height, const std::uint8_t* bytes, int bytesPerRow) = 0;
};

// Makes atlas textures.
class GlyphAtlasDevice {
public:
    virtual ~GlyphAtlasDevice() = default;
    // A size x size texture of the format (contents undefined), or null when it cannot be made.
    virtual std::unique_ptr<GlyphAtlasTexture> makeTexture(GlyphAtlasFormat format, int size) = 0;
    // Whether textures of 16384 texels a side can be made.
    virtual bool supportsLargeTextures() const = 0;
};

class GlyphAtlas {
public:
    // side = max(min(initialSize, maxSize), 256); the largest side is at least that. Null when
    // the texture cannot be made. The device must outlive the atlas.
    static std::unique_ptr<GlyphAtlas> make(GlyphAtlasDevice& device, GlyphAtlasFormat format, int initialSize,
                                            int maxSize);

    // A region of width x height inside a padded slot, or none. Grows or, at the largest side,
    // empties the atlas when needed (didReset() then tells). A frozen atlas does neither.
    std::optional<AtlasRegion> allocate(int width, int height);
    // Copies a bitmap of the region's size into it (rows turned over, so the region's first
    // row holds the bitmap's bottom row), repeats its edges into the padding and sends the
    // padded rectangle to the texture. A bitmap of another size changes nothing.
    void upload(const AtlasRegion& region, const GlyphBitmap& bitmap);

    GlyphAtlasFormat format() const { return format_; }
    int size() const { return size_; }
    int maxSize() const { return maxSize_; }
    bool didReset() const { return didReset_; }
    bool frozen = false; // set by the frame build for its last pass
    GlyphAtlasTexture& texture() const { return *texture_; }
    // The CPU copy: size x size pixels, row-major.
    const std::vector<std::uint8_t>& data() const { return data_; }

private:
    GlyphAtlas(GlyphAtlasDevice& device, GlyphAtlasFormat format, int size, int maxSize,
               std::unique_ptr<GlyphAtlasTexture> texture);

    struct SlotOrigin {
        int x = 0;
        int y = 0;
    };
    std::optional<SlotOrigin> pack(int width, int height);
    bool grow(int newSize);
    void reset();
    void uploadAll();

    GlyphAtlasDevice& device_;
    GlyphAtlasFormat format_;
    int bytesPerPixel_;
    int maxSize_;
    int size_;
    std::unique_ptr<GlyphAtlasTexture> texture_;
    std::vector<std::uint8_t> data_;
    int nextX_ = 0;
    int nextY_ = 0;
    int rowHeight_ = 0;
    bool didReset_ = false;
    bool loggedFrozenMiss_ = false;
    bool loggedResetOverflow_ = false;
};

// The largest side for a new atlas: from CORVANTIX_ATLAS_MAX when it is a whole decimal
// number (an optional sign, then digits, within 64 bits), raised to at least 256 and capped
// at 16384 on a device with large textures, else 8192; otherwise 4096 for bgra and 8192 for
// grayscale. `environmentValue` is the variable's value, null when unset.
int atlasMaxSize(const char* environmentValue, bool supportsLargeTextures, GlyphAtlasFormat format);
// The same with the variable read from the environment now.
int atlasMaxSize(const GlyphAtlasDevice& device, GlyphAtlasFormat format);

} // namespace corvantix

#include "gpu/GlyphAtlas.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gpu/MetalErrors.h"
#include "platform/Log.h"

namespace corvantix {

namespace {
constexpr int minimumSide = 256;

void logAtlas(LogLevel level, std::string message)
{
    logCategory(level, metalAtlasLogCategory, message);
}
} // namespace

std::string_view name(GlyphAtlasFormat format)
{
    return format == GlyphAtlasFormat::grayscale ? "grayscale" : "bgra";
}

std::unique_ptr<GlyphAtlas> GlyphAtlas::make(GlyphAtlasDevice& device, GlyphAtlasFormat format, int initialSize,
                                             int maxSize)
{
    const int size = std::max(std::min(initialSize, maxSize), minimumSide);
    auto texture = device.makeTexture(format, size);
    if (!texture)
        return nullptr;
    return std::unique_ptr<GlyphAtlas>(new GlyphAtlas(device, format, size, std::max(size, maxSize), std::move(texture)));
}

GlyphAtlas::GlyphAtlas(GlyphAtlasDevice& device, GlyphAtlasFormat format, int size, int maxSize,
                       std::unique_ptr<GlyphAtlasTexture> texture)
    : device_(device),
      format_(format),
      bytesPerPixel_(bytesPerPixel(format)),
      maxSize_(maxSize),
      size_(size),
      texture_(std::move(texture)),
      data_(static_cast<std::size_t>(size) * size * bytesPerPixel_, 0)
{
    // A new texture's contents are undefined; sampling the padding of a fresh slot must read
    // zero, as the CPU copy says.
    uploadAll();
}

std::optional<GlyphAtlas::SlotOrigin> GlyphAtlas::pack(int width, int height)
{
    if (width > size_ || height > size_)
        return std::nullopt;
    int x = nextX_;
    if (nextX_ + width > size_) {
        nextX_ = 0;
        nextY_ += rowHeight_;
        rowHeight_ = 0;
        x = 0;
    }
    const int y = nextY_;
    // The new shelf stays started even when the slot does not fit below it.
    if (static_cast<long long>(y) + height > size_)
        return std::nullopt;
    nextX_ = x + width;
    rowHeight_ = std::max(rowHeight_, height);
    return SlotOrigin{x, y};
}

std::optional<AtlasRegion> GlyphAtlas::allocate(int width, int height)
{
    didReset_ = false;
    if (width < 1 || height < 1)
        return std::nullopt;
    // A glyph wider than any atlas can be fails below; clamping keeps the slot arithmetic in range.
    const int slotWidth = std::min(width, maxSize_ + 1) + 2;
    const int slotHeight = std::min(height, maxSize_ + 1) + 2;
    const auto regionIn = [&](SlotOrigin slot) { return AtlasRegion{slot.x + 1, slot.y + 1, width, height}; };

    if (auto slot = pack(slotWidth, slotHeight))
        return regionIn(*slot);

    if (frozen) {
        if (!loggedFrozenMiss_) {
            loggedFrozenMiss_ = true;
            logAtlas(LogLevel::fault,
                     "glyph atlas (" + std::string(name(format_)) + ") frozen and full; glyphs will be skipped this frame");
        }
        return std::nullopt;
    }
    if (slotWidth > maxSize_ || slotHeight > maxSize_)
        return std::nullopt;

    if (size_ < maxSize_) {
        long long target = size_;
        const long long needed = std::max<long long>(std::max(slotWidth, slotHeight),
                                                     static_cast<long long>(nextY_) + slotHeight);
        while (target < maxSize_ && target < needed)
            target *= 2;
        target = std::min<long long>(target, maxSize_);
        if (target > size_ && grow(static_cast<int>(target))) {
            if (auto slot = pack(slotWidth, slotHeight))
                return regionIn(*slot);
        }
    }

    if (!loggedResetOverflow_) {
        loggedResetOverflow_ = true;
        logAtlas(LogLevel::error, "glyph atlas (" + std::string(name(format_)) + ") reset at size " +
                                      std::to_string(size_) + ": glyph working set exceeds capacity");
    }
    reset();
    didReset_ = true;
    if (auto slot = pack(slotWidth, slotHeight))
        return regionIn(*slot);
    return std::nullopt;
}

bool GlyphAtlas::grow(int newSize)
{
    if (newSize <= size_)
        return false;
    auto texture = device_.makeTexture(format_, newSize);
    if (!texture) {
        logAtlas(LogLevel::error, "glyph atlas (" + std::string(name(format_)) + ") grow to " + std::to_string(newSize) +
                                      " failed: texture allocation");
        return false;
    }
    logAtlas(LogLevel::info, "glyph atlas (" + std::string(name(format_)) + ") grow: " + std::to_string(size_) +
                                 " -> " + std::to_string(newSize));
    // Every placed glyph keeps its coordinates: old rows land on the same rows and columns.
    std::vector<std::uint8_t> data(static_cast<std::size_t>(newSize) * newSize * bytesPerPixel_, 0);
    const std::size_t oldStride = static_cast<std::size_t>(size_) * bytesPerPixel_;
    const std::size_t newStride = static_cast<std::size_t>(newSize) * bytesPerPixel_;
    for (int y = 0; y < size_; ++y)
        std::memcpy(data.data() + y * newStride, data_.data() + y * oldStride, oldStride);
    size_ = newSize;
    data_ = std::move(data);
    texture_ = std::move(texture);
    loggedFrozenMiss_ = false;
    loggedResetOverflow_ = false;
    uploadAll();
    return true;
}

void GlyphAtlas::reset()
{
    nextX_ = nextY_ = rowHeight_ = 0;
    std::fill(data_.begin(), data_.end(), std::uint8_t{0});
    uploadAll();
}

void GlyphAtlas::uploadAll()
{
    texture_->replaceRegion(0, 0, size_, size_, data_.data(), size_ * bytesPerPixel_);
}

void GlyphAtlas::upload(const AtlasRegion& region, const GlyphBitmap& bitmap)
{
    if (bitmap.width != region.width || bitmap.height != region.height)
        return;
    if (region.width < 1 || region.height < 1 || region.x < 0 || region.y < 0 || region.x + region.width > size_ ||
        region.y + region.height > size_)
        return;
    if (bitmap.pixels.size() < static_cast<std::size_t>(bitmap.width) * bitmap.height * 4)
        return;

    const std::size_t stride = static_cast<std::size_t>(size_) * bytesPerPixel_;
    const auto texel = [&](int x, int y) { return data_.data() + y * stride + static_cast<std::size_t>(x) * bytesPerPixel_; };
    for (int r = 0; r < region.height; ++r) {
        const std::uint8_t* source = bitmap.pixels.data() + static_cast<std::size_t>(region.height - 1 - r) * bitmap.width * 4;
        std::uint8_t* target = texel(region.x, region.y + r);
        if (format_ == GlyphAtlasFormat::grayscale) {
            for (int c = 0; c < region.width; ++c)
                target[c] = source[c * 4 + 3];
        } else {
            std::memcpy(target, source, static_cast<std::size_t>(region.width) * 4);
        }
    }

    // Edge padding, clipped to the atlas: the rows first, then the columns over the padded
    // height, so the corners repeat the corner pixels.
    const std::size_t rowBytes = static_cast<std::size_t>(region.width) * bytesPerPixel_;
    if (region.y > 0)
        std::memcpy(texel(region.x, region.y - 1), texel(region.x, region.y), rowBytes);
    if (region.y + region.height < size_)
        std::memcpy(texel(region.x, region.y + region.height), texel(region.x, region.y + region.height - 1), rowBytes);
    const int top = std::max(region.y - 1, 0);
    const int bottom = std::min(region.y + region.height + 1, size_);
    const int left = std::max(region.x - 1, 0);
    const int right = std::min(region.x + region.width + 1, size_);
    for (int y = top; y < bottom; ++y) {
        if (region.x > 0)
            std::memcpy(texel(region.x - 1, y), texel(region.x, y), bytesPerPixel_);
        if (region.x + region.width < size_)
            std::memcpy(texel(region.x + region.width, y), texel(region.x + region.width - 1, y), bytesPerPixel_);
    }
    texture_->replaceRegion(left, top, right - left, bottom - top, texel(left, top), size_ * bytesPerPixel_);
}

int atlasMaxSize(const char* environmentValue, bool supportsLargeTextures, GlyphAtlasFormat format)
{
    const int fallback = format == GlyphAtlasFormat::bgra ? 4096 : 8192;
    if (environmentValue == nullptr)
        return fallback;
    std::string_view text(environmentValue);
    const bool negative = !text.empty() && text.front() == '-';
    if (!text.empty() && (text.front() == '+' || text.front() == '-'))
        text.remove_prefix(1);
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return fallback;
    unsigned long long magnitude = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    const unsigned long long limit = negative ? 9223372036854775808ull : 9223372036854775807ull;
    if (error != std::errc() || end != text.data() + text.size() || magnitude > limit)
        return fallback; // beyond 64 bits
    // Any negative number is below the minimum side.
    const long long value = negative ? 0 : static_cast<long long>(magnitude);
    const long long cap = supportsLargeTextures ? 16384 : 8192;
    return static_cast<int>(std::min(std::max<long long>(value, minimumSide), cap));
}

int atlasMaxSize(const GlyphAtlasDevice& device, GlyphAtlasFormat format)
{
    return atlasMaxSize(std::getenv("CORVANTIX_ATLAS_MAX"), device.supportsLargeTextures(), format);
}

} // namespace corvantix

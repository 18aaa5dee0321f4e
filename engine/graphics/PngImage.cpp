#include "graphics/PngImage.h"

#include <png.h>

#include <algorithm>
#include <cstring>

namespace corvantix {

namespace {

// The simplified reader keeps its own state and reports failures through its return values,
// so no long jump crosses our frames.
class PngReader {
public:
    explicit PngReader(std::span<const std::uint8_t> data)
    {
        std::memset(&image_, 0, sizeof image_);
        image_.version = PNG_IMAGE_VERSION;
        if (data.empty())
            return;
        ok_ = png_image_begin_read_from_memory(&image_, data.data(), data.size()) != 0;
    }
    ~PngReader() { png_image_free(&image_); }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;

    bool ok() const { return ok_; }
    png_image& image() { return image_; }

private:
    png_image image_;
    bool ok_ = false;
};

} // namespace

std::optional<PixelSize> pngPixelSize(std::span<const std::uint8_t> data)
{
    PngReader reader(data);
    if (!reader.ok())
        return std::nullopt;
    return PixelSize{static_cast<int>(std::min<png_uint_32>(reader.image().width, 0x7fffffff)),
                     static_cast<int>(std::min<png_uint_32>(reader.image().height, 0x7fffffff))};
}

std::optional<RgbaImage> decodePngPremultiplied(std::span<const std::uint8_t> data, int maximumSide)
{
    PngReader reader(data);
    if (!reader.ok())
        return std::nullopt;
    png_image& image = reader.image();
    const auto side = static_cast<png_uint_32>(maximumSide);
    if (image.width < 1 || image.height < 1 || image.width > side || image.height > side)
        return std::nullopt;
    image.format = PNG_FORMAT_RGBA;
    RgbaImage result;
    result.width = static_cast<int>(image.width);
    result.height = static_cast<int>(image.height);
    result.bytes.resize(static_cast<std::size_t>(image.width) * image.height * 4);
    if (png_image_finish_read(&image, nullptr, result.bytes.data(), 0, nullptr) == 0)
        return std::nullopt;
    premultiplyRgba(result.bytes);
    return result;
}

void premultiplyRgba(std::span<std::uint8_t> rgba)
{
    for (std::size_t i = 0; i + 3 < rgba.size(); i += 4) {
        const unsigned alpha = rgba[i + 3];
        if (alpha == 255)
            continue;
        for (std::size_t c = 0; c < 3; ++c)
            rgba[i + c] = static_cast<std::uint8_t>((rgba[i + c] * alpha + 127) / 255);
    }
}

} // namespace corvantix

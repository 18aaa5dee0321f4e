// The view's inline images: the object a buffer line holds for one stripe of a placed image
// (TerminalView::AppleImage, backed by a QImage here), and the conversions the placement and
// the drawing share.
#pragma once

#include "model/TerminalImage.h"
#include "view/qt/TerminalView.h"

#include <QImage>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace corvantix {

// One stripe (a cell high) of a placed image, or a whole image; under a Kitty placement it
// also carries the placement's fields.
class TerminalView::AppleImage final : public KittyPlacementImage {
public:
    AppleImage(QImage image, int pixelWidth, int pixelHeight, int col)
        : image(std::move(image)), pixelWidth_(pixelWidth), pixelHeight_(pixelHeight), col_(col)
    {
    }
    ~AppleImage() override { releasePixels(); }
    AppleImage(const AppleImage&) = delete;
    AppleImage& operator=(const AppleImage&) = delete;

    // Counts the pixels' bytes in `total` until they are released.
    void countIn(std::shared_ptr<std::atomic<std::int64_t>> total)
    {
        releasePixels();
        countedBytes_ = image.sizeInBytes();
        total_ = std::move(total);
        *total_ += countedBytes_;
    }
    std::int64_t countedBytes() const { return total_ ? countedBytes_ : 0; }
    // Drops the pixels (the stripe then draws nothing) and takes them off the total.
    void releasePixels()
    {
        if (total_) {
            *total_ -= countedBytes_;
            total_.reset();
            image = QImage();
        }
    }

    int pixelWidth() const override { return pixelWidth_; }
    int pixelHeight() const override { return pixelHeight_; }
    int col() const override { return col_; }
    void setCol(int col) override { col_ = col; }

    QImage image;

private:
    int pixelWidth_ = 0;
    int pixelHeight_ = 0;
    int col_ = 0;
    std::shared_ptr<std::atomic<std::int64_t>> total_;
    std::int64_t countedBytes_ = 0;
};

// Premultiplied RGBA pixels as an image that owns them. None when a side is not positive or
// `bytes` holds fewer than width x height x 4 bytes (a short buffer would be read past its end).
std::optional<QImage> nsImageFromRGBA(std::vector<std::uint8_t> bytes, int width, int height);
// The same from pixels the caller keeps: they are copied.
std::optional<QImage> nsImageFromRGBA(std::span<const std::uint8_t> bytes, int width, int height);

// The pixel size of an image that has at least one pixel; none otherwise.
std::optional<std::pair<int, int>> imagePixelSize(const QImage& image);

} // namespace corvantix

// Inline images in the view: pixels or encoded data become a QImage, sized in cells and cut
// into one stripe per row, each stripe attached to its line as an AppleImage.
#include "view/qt/TerminalViewImages.h"

#include "drawing/CellArt.h"
#include "graphics/KittyPlacementCells.h"
#include "platform/Log.h"
#include "view/ImagePlacement.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

namespace corvantix {

// The pixels come premultiplied (the image maker's contract), and are labelled so.
std::optional<QImage> nsImageFromRGBA(std::vector<std::uint8_t> bytes, int width, int height)
{
    const std::optional<std::size_t> count = rgbaByteCount(width, height);
    if (!count || bytes.size() < *count)
        return std::nullopt;
    // The image reads the pixels where they are and frees them with itself.
    auto* owned = new std::vector<std::uint8_t>(std::move(bytes));
    QImage image(
        owned->data(), width, height, static_cast<qsizetype>(width) * 4, QImage::Format_RGBA8888_Premultiplied,
        [](void* pixels) { delete static_cast<std::vector<std::uint8_t>*>(pixels); }, owned);
    if (image.isNull()) {
        delete owned;
        return std::nullopt;
    }
    return image;
}

std::optional<QImage> nsImageFromRGBA(std::span<const std::uint8_t> bytes, int width, int height)
{
    const std::optional<std::size_t> count = rgbaByteCount(width, height);
    if (!count || bytes.size() < *count)
        return std::nullopt;
    return nsImageFromRGBA(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(*count)),
                           width, height);
}

std::optional<std::pair<int, int>> imagePixelSize(const QImage& image)
{
    if (image.isNull() || image.width() < 1 || image.height() < 1)
        return std::nullopt;
    return std::pair{image.width(), image.height()};
}

void TerminalView::createImageFromBitmap(Terminal&, std::vector<std::uint8_t>& bytes, int width, int height)
{
    imageFromBitmap(bytes, width, height);
}

void TerminalView::createImage(Terminal&, std::span<const std::uint8_t> data, ImageSizeRequest width,
                               ImageSizeRequest height, bool preserveAspectRatio)
{
    imageFromData(data, width, height, preserveAspectRatio);
}

void TerminalView::imageFromBitmap(std::vector<std::uint8_t>& bytes, int width, int height)
{
    std::optional<QImage> image = nsImageFromRGBA(std::move(bytes), width, height);
    bytes.clear();
    if (!image || !terminal)
        return;
    ImageSizeRequest widthRequest = ImageSizeRequest::automatic();
    ImageSizeRequest heightRequest = ImageSizeRequest::automatic();
    bool preserveAspectRatio = true;
    if (const auto& context = terminal->kittyPlacementContext()) {
        widthRequest = context->widthRequest;
        heightRequest = context->heightRequest;
        preserveAspectRatio = context->preserveAspectRatio;
    } else if (this->width() < image->width()) {
        // Wider than the view: shown across its whole width.
        widthRequest = ImageSizeRequest::percent(100);
    }
    placeImage(*image, widthRequest, heightRequest, preserveAspectRatio);
}

void TerminalView::imageFromData(std::span<const std::uint8_t> data, ImageSizeRequest width, ImageSizeRequest height,
                                 bool preserveAspectRatio)
{
    if (data.empty() || data.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return;
    QImage image = QImage::fromData(data.data(), static_cast<int>(data.size()));
    if (image.isNull())
        return;
    placeImage(image, width, height, preserveAspectRatio);
}

bool TerminalView::placeImage(const QImage& image, ImageSizeRequest widthRequest, ImageSizeRequest heightRequest,
                              bool preserveAspectRatio)
{
    if (!terminal || !cellDimension || image.isNull())
        return false;
    Terminal& t = *terminal;
    Buffer& buffer = t.buffer();
    const std::optional<KittyPlacementContext>& context = t.kittyPlacementContext();
    const double cellWidth = cellDimension->width;
    const double cellHeight = cellDimension->height;

    const QSizeF size = image.deviceIndependentSize();
    ImageSizeInputs inputs;
    inputs.widthRequest = widthRequest;
    inputs.heightRequest = heightRequest;
    inputs.preserveAspectRatio = preserveAspectRatio;
    inputs.sizeWidth = size.width();
    inputs.sizeHeight = size.height();
    inputs.naturalWidth = size.width();
    inputs.naturalHeight = size.height();
    if (context && widthRequest.kind == ImageSizeRequest::Case::automatic) {
        // A Kitty image without a size is as many points as it has pixels.
        if (const auto pixels = imagePixelSize(image)) {
            inputs.naturalWidth = pixels->first;
            if (heightRequest.kind == ImageSizeRequest::Case::automatic)
                inputs.naturalHeight = pixels->second;
        }
    }
    inputs.cellWidth = cellWidth;
    inputs.cellHeight = cellHeight;
    inputs.viewWidth = width();
    inputs.viewHeight = height();
    inputs.scale = window() != nullptr ? backingScaleFactor() : 1.0;
    const ImageTargetSize target = imageTargetSize(inputs);

    // Every stripe takes a line feed, so more stripes than the ring holds would only scroll
    // the image's own top away.
    const std::optional<ImageStripes> stripes =
        imageStripes(target.width, target.height, cellWidth, cellHeight, buffer.lines().maxLength());
    if (!stripes) {
        logError("inline image refused: " + std::to_string(target.width) + " x " + std::to_string(target.height)
                 + " points");
        return false;
    }

    const int startCol = buffer.x();
    const int startRow = buffer.y() + buffer.yBase();
    const KittyPlacedSpan span{startCol, startRow, stripes->cols, stripes->rows};
    if (context && context->imageId && context->placementId)
        t.recordKittyPlacement(kittyPlacementRecordOf(*context, span, t.isCurrentBufferAlternate()));

    // Where the whole image lies relative to the top of the first stripe.
    const QRectF whole = [&] {
        const QRectF full(0, 0, target.width, target.height);
        if (!target.fitInside)
            return full;
        const PointRect fitted = aspectFitRect(size.width(), size.height(), {0, 0, target.width, target.height});
        return QRectF(fitted.x, fitted.y, fitted.width, fitted.height);
    }();

    // A stripe keeps only what can show: the part right of the last column never draws.
    const double shownWidth = std::max(1.0, std::ceil((t.cols() - startCol) * cellWidth));
    const int stripeWidth = static_cast<int>(std::min<double>(stripes->stripeWidth, shownWidth));

    bool scrolled = false;
    for (int i = 0; i < stripes->rows; ++i) {
        QImage stripe(stripeWidth, stripes->stripeHeight, QImage::Format_RGBA8888_Premultiplied);
        if (stripe.isNull())
            continue;
        stripe.fill(Qt::transparent);
        {
            QPainter painter(&stripe);
            painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.drawImage(whole.translated(0, -cellHeight * i), image);
        }
        auto piece = std::make_shared<AppleImage>(std::move(stripe), stripeWidth, stripes->stripeHeight, startCol);
        if (context)
            markKittyPlacementImage(*piece, *context, span);
        piece->countIn(imageStripeBytes);
        placedImageStripes.push_back(piece);
        keepImageStripesWithinBudget();
        buffer.attachImagesToLine(std::move(piece), buffer.y() + buffer.yBase());
        t.updateRange(buffer.y());
        const int yBase = buffer.yBase();
        const int linesTop = buffer.linesTop;
        const int x = buffer.x();
        t.cmdLineFeed();
        if (buffer.yBase() != yBase || buffer.linesTop != linesTop)
            scrolled = true;
        buffer.setX(x);
    }
    if (scrolled)
        t.updateFullScreen();

    if (context && context->cursorPolicy == 0 && !context->isRelative) {
        const std::int64_t x = std::int64_t{startCol} + std::max(stripes->cols, 1);
        const std::int64_t y = std::int64_t{startRow} + std::max(stripes->rows, 1) - buffer.yBase();
        if (x >= 0)
            buffer.setX(static_cast<int>(std::min<std::int64_t>(x, std::numeric_limits<int>::max())));
        if (y >= 0)
            buffer.setY(static_cast<int>(std::min<std::int64_t>(y, std::numeric_limits<int>::max())));
        t.restrictCursor();
    }
    return true;
}

void TerminalView::keepImageStripesWithinBudget()
{
    const std::int64_t budget = std::max<std::int64_t>(terminal ? terminal->options().kittyImageCacheLimitBytes : 0, 0);
    while (!placedImageStripes.empty() && *imageStripeBytes > budget) {
        if (const std::shared_ptr<AppleImage> oldest = placedImageStripes.front().lock())
            oldest->releasePixels();
        placedImageStripes.pop_front();
    }
    // Stripes whose lines went count nothing any more; their entries go now and then, so the
    // list stays near the number of live stripes.
    if (placedImageStripes.size() > 4096 && placedImageStripes.size() % 4096 == 0)
        std::erase_if(placedImageStripes, [](const std::weak_ptr<AppleImage>& stripe) { return stripe.expired(); });
}

std::optional<QImage> TerminalView::kittyImageForId(std::uint32_t imageId) const
{
    if (!terminal)
        return std::nullopt;
    const auto& images = terminal->kittyGraphicsState().imagesById;
    const auto found = images.find(imageId);
    if (found == images.end())
        return std::nullopt;
    const KittyGraphicsPayload& payload = found->second.payload;
    if (payload.kind == KittyGraphicsPayload::Kind::rgba) {
        // The stored pixels are as the program sent them, with straight alpha.
        std::optional<QImage> image =
            nsImageFromRGBA(std::span<const std::uint8_t>(payload.bytes), payload.width, payload.height);
        if (image && !image->reinterpretAsFormat(QImage::Format_RGBA8888))
            return std::nullopt;
        return image;
    }
    if (payload.bytes.empty() || payload.bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return std::nullopt;
    QImage image = QImage::fromData(payload.bytes.data(), static_cast<int>(payload.bytes.size()));
    if (image.isNull())
        return std::nullopt;
    return image;
}

} // namespace corvantix

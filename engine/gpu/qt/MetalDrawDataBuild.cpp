#include "gpu/qt/MetalDrawDataBuild.h"

#include <algorithm>
#include <optional>

#include <QFontMetricsF>
#include <QImage>

#include "drawing/TerminalBidi.h"
#include "emulator/Terminal.h"
#include "model/Buffer.h"
#include "view/qt/TerminalViewImages.h"

namespace corvantix {

KittyCacheStamp kittyCacheStamp(const KittyGraphicsState& store)
{
    KittyCacheStamp stamp;
    stamp.imagesCount = static_cast<std::int64_t>(store.imagesById.size());
    stamp.placementsCount = static_cast<std::int64_t>(store.placementsByKey.size());
    stamp.nextImageId = store.nextImageId;
    stamp.nextPlacementId = store.nextPlacementId;
    for (const auto& [id, image] : store.imagesById)
        stamp.latestStoreStamp = std::max(stamp.latestStoreStamp, image.storeStamp);
    return stamp;
}

CacheSignature metalCacheSignature(const TerminalView& view, double scale)
{
    const Terminal& terminal = *view.terminal;
    const Buffer& buffer = terminal.buffer();
    CacheSignature signature;
    signature.scale = scale;
    if (view.cellDimension) {
        signature.cellWidth = view.cellDimension->width;
        signature.cellHeight = view.cellDimension->height;
    }
    signature.viewWidth = view.width();
    signature.viewHeight = view.height();
    signature.yDisp = buffer.yDisp();
    signature.rows = buffer.rows();
    signature.cols = buffer.cols();
    // The key names every property of the font (family, style, weight, size), so any font
    // change moves it.
    const QFont& font = view.fontSet.normal;
    signature.fontName = font.key().toStdString();
    signature.fontSize = font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize();
    signature.isAltBuffer = terminal.isCurrentBufferAlternate();
    signature.kittyStamp = kittyCacheStamp(terminal.kittyGraphicsState());
    signature.bidiHostPolicy = view.bidiHostPolicy();
    signature.fontSmoothing = view.fontSmoothing();
    return signature;
}

VirtualPlacementIndex virtualPlacementIndex(const KittyGraphicsState& store, bool alternateShown)
{
    VirtualPlacementIndex index;
    for (const auto& [key, placement] : store.placementsByKey) {
        if (placement.isVirtual && placement.isAlternateBuffer == alternateShown)
            index[placement.imageId].push_back(placement);
    }
    return index;
}

void MetalTerminalRenderer::setViews(MetalGLView* metalView, TerminalView* terminalView)
{
    metalView_ = metalView;
    terminalView_ = terminalView;
}

DrawData MetalTerminalRenderer::buildDrawData(double scale)
{
    TerminalView* view = terminalView_;
    // Before the view has measured its font there is no grid to draw: the frame only clears.
    if (view == nullptr || !view->terminal || !view->cellDimension)
        return {};
    Terminal& terminal = *view->terminal;
    pruneKittyTextures(terminal.kittyGraphicsState());
    pruneImageTextures();

    const Buffer& buffer = terminal.buffer();
    const CellDimension cell = *view->cellDimension;
    const QFontMetricsF metrics(view->fontSet.normal);
    const double descent = metrics.descent();
    const double leading = metrics.leading();
    const double viewWidthPx = view->width() * scale;
    const int paragraphRows = terminal.options().bidiParagraphRowLimit();
    const bool alternateShown = terminal.isCurrentBufferAlternate();
    // Only rows that are rebuilt look placements up; an idle frame never makes the index.
    std::optional<VirtualPlacementIndex> placements;

    DrawDataBuildInput input;
    input.signature = metalCacheSignature(*view, scale);
    input.bufferingMode = view->metalBufferingMode;
    input.lineCount = buffer.lines().count();
    input.takeDirtyRange = [view] { return view->takeMetalDirtyRange(); };
    input.lineAt = [&buffer](int line) -> std::shared_ptr<const BufferLine> { return buffer.lines()[line]; };
    input.paragraphRevision = [&buffer, paragraphRows](int line) {
        return TerminalBidi::paragraphRevision(line, buffer, paragraphRows);
    };
    input.buildRow = [&](int line, int firstVisibleLine) {
        if (!placements)
            placements = virtualPlacementIndex(terminal.kittyGraphicsState(), alternateShown);
        return buildRowDrawData(cell.width, cell.height, descent + leading, viewWidthPx, scale, line, buffer,
                                firstVisibleLine, *placements);
    };
    input.buildCursor = [&](DrawData& data, int firstVisibleLine, int lastVisibleLine) {
        buildCursorDrawData(data, scale, cell.width, cell.height, descent, leading, firstVisibleLine,
                            lastVisibleLine);
    };
    return rowCache.buildDrawData(input, bufferDevice());
}

std::vector<ImageDrawBuffer> MetalTerminalRenderer::makeImageDrawBuffers(std::span<const ImageDraw> draws)
{
    return corvantix::makeImageDrawBuffers(draws, bufferDevice());
}

std::shared_ptr<MetalTexture> MetalTerminalRenderer::imageDraw(const TerminalImage& image)
{
    const auto* own = dynamic_cast<const TerminalView::AppleImage*>(&image);
    if (own == nullptr || own->image.isNull())
        return nullptr;
    const qint64 contents = own->image.cacheKey();
    if (const auto cached = imageTextureCache_.find(&image); cached != imageTextureCache_.end()) {
        if (!cached->second.image.expired() && cached->second.contents == contents)
            return cached->second.texture;
        imageTextureCache_.erase(cached);
    }

    // Premultiplied, as the text program blends, and turned over: textures start at the
    // bottom row, like the drawable.
    const QImage pixels = own->image.convertToFormat(QImage::Format_RGBA8888_Premultiplied).mirrored();
    if (pixels.isNull() || pixels.bytesPerLine() != static_cast<qsizetype>(pixels.width()) * 4)
        return nullptr;
    std::shared_ptr<MetalImageTexture> texture = makeImageTexture(pixels.constBits(), pixels.width(), pixels.height());
    if (!texture)
        return nullptr;
    // An image no line owns cannot tell when it is gone: it is drawn but not kept.
    std::weak_ptr<const TerminalImage> owner = image.weak_from_this();
    if (!owner.expired())
        imageTextureCache_[&image] = ViewImageTexture{std::move(owner), contents, texture};
    return texture;
}

void MetalTerminalRenderer::pruneImageTextures()
{
    std::erase_if(imageTextureCache_, [](const auto& entry) { return entry.second.image.expired(); });
}

} // namespace corvantix

#include "gpu/qt/MetalTerminalRenderer.h"

#include <algorithm>

#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utf16.h>

#include <QImage>
#include <QOpenGLContext>
#include <QOpenGLVersionFunctionsFactory>

#include "drawing/qt/CellGlyphCache.h"
#include "drawing/qt/HarfBuzzFace.h"
#include "gpu/qt/CustomGlyphDrawing.h"

namespace corvantix {

std::string metalFontName(const QRawFont& font)
{
    // A face slanted or emboldened by the toolkit keeps the style name of the face it was
    // made from, so the style and weight asked for tell it apart from the plain one; the
    // hinting (font smoothing) changes every bitmap.
    return (font.familyName() + QLatin1Char('-') + font.styleName() + QLatin1Char('-')
            + QString::number(static_cast<int>(font.style())) + QLatin1Char('-') + QString::number(font.weight())
            + QLatin1Char('-') + QString::number(static_cast<int>(font.hintingPreference())))
        .toStdString();
}

MetalTerminalRenderer::MetalTerminalRenderer(MainQueue& queue, QObject* hostObject, MetalRendererHost* host)
    : queue_(queue), hostObject_(hostObject), host_(host)
{
}

MetalTerminalRenderer::~MetalTerminalRenderer()
{
    if (frameCoordinator_)
        frameCoordinator_->invalidate();
    if (gl_ && sampler_ != 0)
        gl_->glDeleteSamplers(1, &sampler_);
}

namespace {
MetalPipeline makePipeline(const MetalShaderLibrary& library, const char* vertex, const char* fragment, bool colorBlend)
{
    MetalPipeline pipeline;
    QOpenGLShader* vertexShader = library.function(vertex);
    QOpenGLShader* fragmentShader = library.function(fragment);
    if (!vertexShader || !fragmentShader)
        return pipeline;
    auto program = std::make_unique<QOpenGLShaderProgram>();
    if (!program->addShader(vertexShader) || !program->addShader(fragmentShader) || !program->link())
        return pipeline;
    pipeline.program = std::move(program);
    // Glyph textures hold premultiplied colour; flat fills are straight colour.
    if (colorBlend)
        pipeline.sourceRGB = GL_SRC_ALPHA;
    return pipeline;
}
} // namespace

std::variant<std::unique_ptr<MetalTerminalRenderer>, MetalError> MetalTerminalRenderer::make(MainQueue& queue,
                                                                                            QObject* hostObject,
                                                                                            MetalRendererHost* host,
                                                                                            Options options)
{
    std::unique_ptr<MetalTerminalRenderer> renderer(new MetalTerminalRenderer(queue, nullptr, nullptr));

    QOpenGLContext* context = QOpenGLContext::currentContext();
    if (context == nullptr || context->format().version() < qMakePair(3, 3))
        return MetalError::deviceUnavailable();
    renderer->gl_ = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(context);
    if (renderer->gl_ == nullptr || !renderer->gl_->initializeOpenGLFunctions())
        return MetalError::deviceUnavailable();
    QOpenGLFunctions_3_3_Core& gl = *renderer->gl_;

    renderer->device_ = std::make_unique<OpenGLGlyphAtlasDevice>(gl);
    renderer->grayscaleAtlas_ =
        GlyphAtlas::make(*renderer->device_, GlyphAtlasFormat::grayscale, options.atlasInitialSize,
                         atlasMaxSize(*renderer->device_, GlyphAtlasFormat::grayscale));
    renderer->colorAtlas_ = GlyphAtlas::make(*renderer->device_, GlyphAtlasFormat::bgra, options.atlasInitialSize,
                                             atlasMaxSize(*renderer->device_, GlyphAtlasFormat::bgra));
    if (!renderer->grayscaleAtlas_ || !renderer->colorAtlas_)
        return MetalError::atlasUnavailable();

    auto library = MetalShaderLibrary::load(options.shaders);
    if (auto* error = std::get_if<MetalError>(&library))
        return *error;
    renderer->library_ = std::move(std::get<std::unique_ptr<MetalShaderLibrary>>(library));
    const MetalShaderLibrary& shaders = *renderer->library_;

    struct Wanted {
        MetalPipeline MetalTerminalRenderer::*pipeline;
        const char* vertex;
        const char* fragment;
        bool colorBlend;
    };
    const Wanted wanted[] = {
        {&MetalTerminalRenderer::textPipeline_, "terminal_text_vertex", "terminal_text_fragment", false},
        {&MetalTerminalRenderer::textGrayPipeline_, "terminal_text_vertex", "terminal_text_fragment_gray", false},
        {&MetalTerminalRenderer::cellTextPipeline_, "terminal_cell_text_vertex", "terminal_text_fragment", false},
        {&MetalTerminalRenderer::cellTextGrayPipeline_, "terminal_cell_text_vertex", "terminal_text_fragment_gray", false},
        {&MetalTerminalRenderer::colorPipeline_, "terminal_color_vertex", "terminal_color_fragment", true},
        {&MetalTerminalRenderer::cellColorPipeline_, "terminal_cell_color_vertex", "terminal_color_fragment", true},
    };
    for (const Wanted& w : wanted) {
        MetalPipeline pipeline = makePipeline(shaders, w.vertex, w.fragment, w.colorBlend);
        if (!pipeline.program)
            return MetalError::pipelineCreationFailed("text/color/cell");
        (*renderer).*(w.pipeline) = std::move(pipeline);
    }

    gl.glGenSamplers(1, &renderer->sampler_);
    if (renderer->sampler_ == 0)
        return MetalError::samplerUnavailable();
    gl.glSamplerParameteri(renderer->sampler_, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl.glSamplerParameteri(renderer->sampler_, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl.glSamplerParameteri(renderer->sampler_, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl.glSamplerParameteri(renderer->sampler_, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);

    renderer->hostObject_ = hostObject;
    renderer->host_ = host;
    return renderer;
}

MetalFrameCoordinator& MetalTerminalRenderer::frameCoordinator()
{
    if (frameCoordinator_)
        return *frameCoordinator_;
    std::weak_ptr<MetalTerminalRenderer*> weak = self_;
    // Runs `work` with the renderer and its host when both still exist.
    auto withHost = [weak](auto work) {
        return [weak, work] {
            const auto self = weak.lock();
            if (!self || !(*self)->hostObject_ || !(*self)->host_)
                return;
            work(**self, *(*self)->host_);
        };
    };
    MetalFrameCoordinator::Callbacks callbacks;
    // Asked on the main thread with the coordinator's lock held: reads state, calls nothing.
    callbacks.isRetryEligible = [weak] {
        const auto self = weak.lock();
        return self && (*self)->hostObject_ && (*self)->host_ && (*self)->host_->canPresentMetalFrames();
    };
    MainQueue* queue = &queue_; // outlives every renderer
    callbacks.requestDraw = [queue, withHost](MetalFrameRefusalReason) {
        queue->post(withHost([](MetalTerminalRenderer&, MetalRendererHost& host) { host.setMetalViewNeedsDisplay(); }));
    };
    callbacks.requestRecovery = [queue, withHost](const MetalRendererRecoveryReport& report) {
        queue->post(withHost([report](MetalTerminalRenderer& renderer, MetalRendererHost& host) {
            host.recoverMetalRenderer(renderer, report);
        }));
    };
    callbacks.becameIdle = [queue, withHost] {
        queue->post(withHost(
            [](MetalTerminalRenderer& renderer, MetalRendererHost& host) { host.pruneRetiredMetalRenderers(renderer); }));
    };
    frameCoordinator_ = MetalFrameCoordinator::make(std::make_shared<SystemMetalRecoveryClock>(),
                                                    std::make_shared<DispatchMetalRecoveryScheduler>(queue_),
                                                    std::move(callbacks));
    return *frameCoordinator_;
}

const std::string& MetalTerminalRenderer::fontName(const QRawFont& font)
{
    // Fonts are told apart by their engine (QRawFont equality).
    for (const auto& [known, name] : fontNames_) {
        if (known == font)
            return name;
    }
    if (fontNames_.size() >= 16)
        fontNames_.clear();
    return fontNames_.emplace_back(font, metalFontName(font)).second;
}

QRawFont MetalTerminalRenderer::scaledFont(const QRawFont& font, double scale)
{
    const GlyphKey key{fontName(font), scale * font.pixelSize(), 0};
    if (const auto found = scaledFontCache_.find(key); found != scaledFontCache_.end())
        return found->second;
    QRawFont scaled = font;
    scaled.setPixelSize(key.size);
    scaledFontCache_.emplace(key, scaled);
    return scaled;
}

std::optional<GlyphEntry> MetalTerminalRenderer::glyphEntry(const QRawFont& font, quint32 glyph)
{
    return glyphEntry(font, GlyphKey{fontName(font), font.pixelSize(), glyph});
}

std::optional<GlyphEntry> MetalTerminalRenderer::glyphEntry(const QRawFont& font, const GlyphKey& key)
{
    const quint32 glyph = key.glyph;
    if (const auto found = glyphCache_.find(key); found != glyphCache_.end())
        return found->second;
    const auto bitmap = rasterizer.rasterize(font, glyph);
    if (!bitmap)
        return std::nullopt;
    GlyphAtlas& atlas = bitmap->isColor ? *colorAtlas_ : *grayscaleAtlas_;
    const int sizeBefore = atlas.size();
    const auto region = atlas.allocate(bitmap->width, bitmap->height);
    handleAtlasInvalidation(atlas, sizeBefore);
    if (!region)
        return std::nullopt;
    atlas.upload(*region, *bitmap);
    const GlyphEntry entry{*region,
                           bitmap->width,
                           bitmap->height,
                           bitmap->bearingX,
                           bitmap->bearingY,
                           bitmap->isColor,
                           bitmap->isColor ? GlyphAtlasKind::color : GlyphAtlasKind::grayscale};
    glyphCache_[key] = entry;
    return entry;
}

std::optional<CustomGlyphEntry> MetalTerminalRenderer::drawCustomGlyph(std::uint32_t codePoint, int cellWidthPx,
                                                                       int cellHeightPx, int baseThicknessPx,
                                                                       bool antiAlias, double scale)
{
    const CustomGlyphKey key{codePoint, cellWidthPx, cellHeightPx, baseThicknessPx, customGlyphScale(scale), antiAlias};
    if (const auto found = customGlyphCache_.find(key); found != customGlyphCache_.end())
        return found->second;
    // A cell larger than any atlas could hold is refused before anything is allocated.
    if (cellWidthPx < 1 || cellHeightPx < 1 || cellWidthPx > 16384 || cellHeightPx > 16384)
        return std::nullopt;
    GlyphBitmap bitmap;
    bitmap.width = cellWidthPx;
    bitmap.height = cellHeightPx;
    bitmap.pixels.assign(static_cast<std::size_t>(cellWidthPx) * cellHeightPx * 4, 0);
    if (!drawCustomGlyphInto(codePoint, cellWidthPx, cellHeightPx, baseThicknessPx, antiAlias, scale,
                             bitmap.pixels.data(), cellWidthPx, cellHeightPx, cellWidthPx * 4))
        return std::nullopt;
    GlyphAtlas& atlas = *grayscaleAtlas_;
    const int sizeBefore = atlas.size();
    const auto region = atlas.allocate(cellWidthPx, cellHeightPx);
    handleAtlasInvalidation(atlas, sizeBefore);
    if (!region)
        return std::nullopt;
    atlas.upload(*region, bitmap);
    const CustomGlyphEntry entry{*region, cellWidthPx, cellHeightPx};
    customGlyphCache_[key] = entry;
    return entry;
}

std::array<float, 4> rgbaComponents(const QColor& color)
{
    const QColor rgb = color.isValid() ? color.toRgb() : QColor(0, 0, 0);
    return {static_cast<float>(rgb.redF()), static_cast<float>(rgb.greenF()), static_cast<float>(rgb.blueF()),
            static_cast<float>(color.isValid() ? rgb.alphaF() : 1.0)};
}

std::shared_ptr<MetalImageTexture> MetalTerminalRenderer::makeImageTexture(const std::uint8_t* rgba, int width,
                                                                         int height)
{
    GLint largest = 0;
    gl_->glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
    if (width < 1 || height < 1 || width > largest || height > largest)
        return nullptr;
    while (gl_->glGetError() != GL_NO_ERROR) {
    }
    GLuint name = 0;
    gl_->glGenTextures(1, &name);
    if (name == 0)
        return nullptr;
    gl_->glBindTexture(GL_TEXTURE_2D, name);
    gl_->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gl_->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    gl_->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    gl_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    if (gl_->glGetError() != GL_NO_ERROR) {
        gl_->glDeleteTextures(1, &name);
        return nullptr;
    }
    return std::make_shared<MetalImageTexture>(*gl_, name, width, height);
}

std::shared_ptr<MetalImageTexture> MetalTerminalRenderer::imageDraw(const KittyGraphicsState& store,
                                                                  std::uint32_t imageId)
{
    const auto image = store.imagesById.find(imageId);
    if (image == store.imagesById.end())
        return nullptr;
    const KittyImageSignature signature = kittyImageSignature(image->second);
    if (const auto cached = kittyTextureCache_.find(imageId);
        cached != kittyTextureCache_.end() && cached->second.signature == signature)
        return cached->second.texture;

    const KittyGraphicsPayload& payload = image->second.payload;
    std::shared_ptr<MetalImageTexture> texture;
    if (payload.kind == KittyGraphicsPayload::Kind::png) {
        QImage decoded = QImage::fromData(payload.bytes.data(), static_cast<int>(payload.bytes.size()));
        if (decoded.isNull())
            return nullptr;
        // Premultiplied, as the image program blends, and starting at the bottom row, like the
        // drawable.
        decoded = decoded.convertToFormat(QImage::Format_RGBA8888_Premultiplied).mirrored();
        if (decoded.bytesPerLine() != decoded.width() * 4)
            return nullptr;
        texture = makeImageTexture(decoded.constBits(), decoded.width(), decoded.height());
    } else {
        const std::size_t rowBytes = static_cast<std::size_t>(std::max(payload.width, 0)) * 4;
        const std::size_t expected = rowBytes * static_cast<std::size_t>(std::max(payload.height, 0));
        if (expected == 0 || payload.bytes.size() != expected)
            return nullptr;
        // Raw pixels arrive top row first with straight alpha; the texture starts at the
        // bottom row and holds premultiplied colour, as encoded images do.
        std::vector<std::uint8_t> pixels(expected);
        for (std::size_t row = 0; row < static_cast<std::size_t>(payload.height); ++row) {
            const std::uint8_t* from = payload.bytes.data() + row * rowBytes;
            std::uint8_t* to = pixels.data() + (static_cast<std::size_t>(payload.height) - 1 - row) * rowBytes;
            for (std::size_t i = 0; i < rowBytes; i += 4) {
                const unsigned alpha = from[i + 3];
                for (std::size_t c = 0; c < 3; ++c)
                    to[i + c] = static_cast<std::uint8_t>((from[i + c] * alpha + 127) / 255);
                to[i + 3] = static_cast<std::uint8_t>(alpha);
            }
        }
        texture = makeImageTexture(pixels.data(), payload.width, payload.height);
    }
    if (!texture)
        return nullptr;
    kittyTextureCache_[imageId] = KittyTexture{signature, texture};
    return texture;
}

void MetalTerminalRenderer::pruneKittyTextures(const KittyGraphicsState& store)
{
    std::erase_if(kittyTextureCache_, [&](const auto& entry) { return !store.imagesById.contains(entry.first); });
}

ShaperKey MetalTerminalRenderer::shaperKey(const QString& text, const QRawFont& font)
{
    return ShaperKey{fontName(font), font.pixelSize(),
                     std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size()))};
}

std::optional<ShaperRun> MetalTerminalRenderer::shapeText(const QString& text, const QRawFont& font)
{
    if (text.isEmpty())
        return std::nullopt;
    ShaperKey key = shaperKey(text, font);
    if (const auto* cached = shaperCache_.find(key))
        return **cached;
    auto run = shapeTextRun(text, font);
    if (!run)
        return std::nullopt;
    shaperCache_.insert(key, std::make_shared<const ShaperRun>(*run));
    return run;
}

std::shared_ptr<const ShaperRun> MetalTerminalRenderer::shapeCells(std::u16string_view packed, const QRawFont& font)
{
    if (packed.empty())
        return nullptr;
    ShaperKey key{fontName(font), font.pixelSize(), std::u16string(packed), true};
    if (const auto* cached = shaperCache_.find(key))
        return *cached;
    auto run = shapeCellRun(packed, font);
    if (!run)
        return nullptr;
    auto shared = std::make_shared<const ShaperRun>(std::move(*run));
    shaperCache_.insert(key, shared);
    return shared;
}

std::shared_ptr<const ShaperRun> MetalTerminalRenderer::shapeCell(const QString& text, const QRawFont& font)
{
    if (text.isEmpty())
        return nullptr;
    std::u16string packed;
    packCellRun(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())),
                std::u16string_view(), packed);
    return shapeCells(packed, font);
}

std::vector<ShapedRun> MetalTerminalRenderer::shapeSegment(const ViewLineSegment& segment, const MetalFontSet& fonts)
{
    std::vector<ShapedRun> shaped;
    const std::u16string_view text(segment.text);
    const int textSize = static_cast<int>(text.size());
    const auto ordinalOf = [&](int index) { return segment.cellOrdinal(index); };
    std::u16string packed;
    for (const ViewLineSegment::Run& run : segment.runs) {
        // A run reaching past the text keeps only what lies inside it.
        const int start = std::clamp(run.start, 0, textSize);
        const int end = start + std::clamp(run.length, 0, textSize - start);
        const QRawFont& slotFont = fonts[static_cast<std::size_t>(run.style.font) % fonts.size()];
        const QRawFont& font = slotFont.isValid() ? slotFont : fonts[static_cast<std::size_t>(FontSlot::normal)];
        if (start == end || !font.isValid())
            continue;
        // Stretches of cells that draw the same alone are cut apart from the rest, so that
        // the words between them are shaped (and cached) one by one.
        forEachShapingStretch(text, start, end, asciiDrawnAlone(font), ordinalOf, [&](int from, int to, bool alone) {
            if (alone) {
                // Each cell one character the font maps to its glyph, the shaper would give
                // nothing else: made here rather than looked up.
                auto stretch = std::make_shared<ShaperRun>();
                ShaperGlyphRun glyphs;
                glyphs.font = font;
                glyphs.glyphs.resize(static_cast<std::size_t>(to - from));
                int count = to - from;
                if (!font.glyphIndexesForChars(reinterpret_cast<const QChar*>(text.data() + from), to - from,
                                               glyphs.glyphs.data(), &count)
                    || count != to - from)
                    return;
                glyphs.positions.assign(glyphs.glyphs.size(), QPointF());
                for (int i = from; i < to; ++i)
                    glyphs.stringIndices.push_back(i - from);
                stretch->positions = glyphs.positions;
                stretch->stringIndices = glyphs.stringIndices;
                stretch->glyphCount = count;
                stretch->glyphRuns.push_back(std::move(glyphs));
                shaped.push_back(ShapedRun{run.style, from, std::move(stretch), to - from});
                return;
            }
            packCellRun(text, from, to, ordinalOf, packed);
            if (auto stretch = shapeCells(packed, font))
                shaped.push_back(ShapedRun{run.style, from, std::move(stretch), to - from});
        });
    }
    return shaped;
}

void MetalTerminalRenderer::handleAtlasInvalidation(const GlyphAtlas& atlas, int sizeBefore)
{
    switch (atlasInvalidation(atlas, sizeBefore)) {
    case AtlasInvalidation::none:
        return;
    case AtlasInvalidation::everything:
        glyphCache_.clear();
        customGlyphCache_.clear();
        break;
    case AtlasInvalidation::rowsOnly:
        break;
    }
    // Cached rows hold texture coordinates of the atlas as it was; the frame build reads
    // the flag and builds again.
    rowCache.clear();
    atlasInvalidatedDuringBuild = true;
}

} // namespace corvantix

// The GPU renderer of a terminal view, an OpenGL 3.3 core backend kept under the Metal names
// the rest of the engine uses. This part builds it (atlases, rasterizer, the six programs
// with their blending, the sampler), owns its frame coordinator, and serves glyphs and cell
// art from the atlases. A renderer is either fully built or not at all.
//
// Everything here runs on the main thread with the renderer's OpenGL context current, its
// destruction included (the atlases and programs free GL objects).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <variant>

#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLShaderProgram>
#include <QColor>
#include <QPointer>
#include <QRawFont>

#include "drawing/RowBuilder.h"
#include "gpu/GlyphAtlas.h"
#include "gpu/MetalFrameBuffers.h"
#include "gpu/MetalDrawData.h"
#include "gpu/GlyphLookup.h"
#include "gpu/MetalErrors.h"
#include "gpu/MetalFrameCoordinator.h"
#include "gpu/qt/CoreTextGlyphRasterizer.h"
#include "gpu/qt/MetalGLView.h"
#include "gpu/qt/MetalShaderLibrary.h"
#include "gpu/qt/OpenGLGlyphAtlasDevice.h"
#include "drawing/qt/TextShaper.h"
#include "graphics/KittyGraphicsState.h"
#include "platform/MainQueue.h"
#include "view/qt/TerminalView.h"

namespace corvantix {

class Buffer;
class MetalTerminalRenderer;

// What the renderer asks of the view that hosts it. Calls arrive on the main queue, never
// while the renderer's coordinator holds its lock.
class MetalRendererHost {
public:
    virtual ~MetalRendererHost() = default;
    virtual bool canPresentMetalFrames() const = 0;
    // Redraw the whole GPU surface soon.
    virtual void setMetalViewNeedsDisplay() = 0;
    virtual void recoverMetalRenderer(MetalTerminalRenderer& renderer, const MetalRendererRecoveryReport& report) = 0;
    virtual void pruneRetiredMetalRenderers(MetalTerminalRenderer& renderer) = 0;
    // A frame the renderer drew has reached the screen (its widget's frame was swapped).
    virtual void metalFramePresented(MetalTerminalRenderer& /*renderer*/, std::chrono::system_clock::time_point /*when*/)
    {
    }
};

// A program and the blending it draws with (glBlendFuncSeparate factors).
struct MetalPipeline {
    std::unique_ptr<QOpenGLShaderProgram> program;
    GLenum sourceRGB = GL_ONE;
    GLenum destinationRGB = GL_ONE_MINUS_SRC_ALPHA;
    GLenum sourceAlpha = GL_ONE;
    GLenum destinationAlpha = GL_ONE_MINUS_SRC_ALPHA;
};

// An image texture (GL_RGBA8, first row at the bottom), freed with the object.
class MetalImageTexture final : public MetalTexture {
public:
    MetalImageTexture(QOpenGLFunctions_3_3_Core& gl, GLuint name, int width, int height)
        : gl_(gl), name_(name), width_(width), height_(height)
    {
    }
    ~MetalImageTexture() override { gl_.glDeleteTextures(1, &name_); }
    MetalImageTexture(const MetalImageTexture&) = delete;
    MetalImageTexture& operator=(const MetalImageTexture&) = delete;

    GLuint name() const { return name_; }
    int width() const override { return width_; }
    int height() const override { return height_; }

private:
    QOpenGLFunctions_3_3_Core& gl_;
    GLuint name_;
    int width_;
    int height_;
};

// A colour's red, green, blue and alpha as floats (sRGB).
std::array<float, 4> rgbaComponents(const QColor& color);

// One styled run of a segment, shaped: its style, where it starts in the segment's text, and
// its glyphs (string indices count from that start; positions from each glyph's cell).
struct ShapedRun {
    RunStyle attributes;
    int utf16Offset = 0;
    std::shared_ptr<const ShaperRun> shaperRun; // as the shaping cache holds it, never null
    int utf16Length = 0; // the units of the text it covers
};

struct ShapedSegment {
    ViewLineSegment segment;
    std::vector<ShapedRun> runs;
};

// The view's fonts by slot (normal, bold, italic, bold-italic); a slot without a valid
// font draws with the normal one.
using MetalFontSet = std::array<QRawFont, 4>;

struct MetalTerminalRendererOptions {
    MetalShaderLibraryOptions shaders;
    int atlasInitialSize = 1024;
};

// Virtual placements of the screen now shown, by image id, in the order the store yields them.
using VirtualPlacementIndex = std::map<std::uint32_t, std::vector<KittyPlacementRecord>>;

class MetalTerminalRenderer final : public MetalViewDelegate {
public:
    using Options = MetalTerminalRendererOptions;

    // Builds a renderer on the current OpenGL context. `host` (a QObject that implements
    // MetalRendererHost) is held weakly; `queue` must outlive the renderer.
    template <typename Host>
    static std::variant<std::unique_ptr<MetalTerminalRenderer>, MetalError> make(MainQueue& queue, Host* host,
                                                                                Options options = {})
    {
        return make(queue, static_cast<QObject*>(host), static_cast<MetalRendererHost*>(host), std::move(options));
    }
    static std::variant<std::unique_ptr<MetalTerminalRenderer>, MetalError> make(MainQueue& queue, QObject* hostObject,
                                                                                MetalRendererHost* host,
                                                                                Options options = {});
    ~MetalTerminalRenderer() override;
    MetalTerminalRenderer(const MetalTerminalRenderer&) = delete;
    MetalTerminalRenderer& operator=(const MetalTerminalRenderer&) = delete;

    // Created on first use; its callbacks reach the host through the main queue and do
    // nothing once the renderer or the host is gone.
    MetalFrameCoordinator& frameCoordinator();

    // The font at scale x its pixel size, kept for good.
    QRawFont scaledFont(const QRawFont& font, double scale);
    // metalFontName of a font, made once for the last few fonts asked: rows ask it for every
    // cell shaped alone and every glyph run, and making it costs several allocations.
    const std::string& fontName(const QRawFont& font);
    // The glyph's place in an atlas, rasterizing and uploading it the first time; none when
    // it has no bitmap or no room (then tried again next time).
    std::optional<GlyphEntry> glyphEntry(const QRawFont& font, quint32 glyph);
    // The same with the key made by the caller (`font`'s name and pixel size, the glyph):
    // a run of glyphs names its font once.
    std::optional<GlyphEntry> glyphEntry(const QRawFont& font, const GlyphKey& key);
    // Cell art in the single-channel atlas; none for another code point or an empty cell.
    std::optional<CustomGlyphEntry> drawCustomGlyph(std::uint32_t codePoint, int cellWidthPx, int cellHeightPx,
                                                    int baseThicknessPx, bool antiAlias, double scale);
    // The texture of a stored inline image, made once per transmission: an image re-sent
    // under the same id gets a new texture even when its sizes and first bytes are the same.
    // None when the store has no such image or its pixels cannot be decoded.
    std::shared_ptr<MetalImageTexture> imageDraw(const KittyGraphicsState& store, std::uint32_t imageId);
    // Forgets the textures of images that left the store.
    void pruneKittyTextures(const KittyGraphicsState& store);
    // What the shaping cache knows a text by: the font, its size and the text.
    ShaperKey shaperKey(const QString& text, const QRawFont& font);
    // The shaped glyphs of a run of text, kept by font, size and text (first in, first out).
    std::optional<ShaperRun> shapeText(const QString& text, const QRawFont& font);
    // A stretch of cells packed by packCellRun, shaped as the painter shapes it
    // (shapeCellRun: positions from each glyph's cell), kept in the same cache.
    // Shared with the cache, so that a row rebuilt from cached runs copies none. Null when
    // nothing could be shaped.
    std::shared_ptr<const ShaperRun> shapeCells(std::u16string_view packed, const QRawFont& font);
    // One cell's text shaped alone, the same way.
    std::shared_ptr<const ShaperRun> shapeCell(const QString& text, const QRawFont& font);
    // A segment's styled runs shaped in order, each in the font of its slot, each as one
    // text across its cells (glyph positions from their cells, as shapeCells gives them); a
    // run that is empty or shapes to nothing is left out. A run is cut where cells that draw
    // the same alone (forEachShapingStretch) meet the others, which changes nothing drawn.
    std::vector<ShapedRun> shapeSegment(const ViewLineSegment& segment, const MetalFontSet& fonts);
    std::size_t shaperCacheSize() const { return shaperCache_.size(); }
    // Drops what an allocation that grew or emptied the atlas made stale.
    void handleAtlasInvalidation(const GlyphAtlas& atlas, int sizeBefore);

    GlyphAtlas& grayscaleAtlas() { return *grayscaleAtlas_; }
    GlyphAtlas& colorAtlas() { return *colorAtlas_; }
    CoreTextGlyphRasterizer rasterizer;
    bool atlasInvalidatedDuringBuild = false;

    // ---- Draw data

    // The GPU surface this renderer draws into and the terminal view it draws; both held
    // weakly (a build without a terminal view is empty).
    void setViews(MetalGLView* metalView, TerminalView* terminalView);
    MetalGLView* metalView() const { return metalView_; }
    TerminalView* terminalView() const { return terminalView_; }

    // One frame's draw data: the visible rows (cached while unchanged) and the cursor.
    DrawData buildDrawData(double scale);
    // One screen row's records. `baselineOffset` is the normal font's descent + leading,
    // cell sizes are in points.
    RowDrawData buildRowDrawData(double cellWidth, double cellHeight, double baselineOffset, double viewWidthPx,
                                 double scale, int lineIndex, const Buffer& buffer, int firstVisibleLine,
                                 const VirtualPlacementIndex& virtualPlacements);
    // The cursor's shape and, under a focused block, its glyph, into `data`'s cursor lists.
    void buildCursorDrawData(DrawData& data, double scale, double cellWidth, double cellHeight, double descent,
                             double leading, int firstVisibleLine, int lastVisibleLine);
    std::vector<ImageDrawBuffer> makeImageDrawBuffers(std::span<const ImageDraw> draws);
    // The texture of one of the view's own images (a TerminalView::AppleImage), made once per
    // image object; none for another kind of image or one that cannot be uploaded.
    std::shared_ptr<MetalTexture> imageDraw(const TerminalImage& image);
    // Forgets the textures of view images no line holds any more.
    void pruneImageTextures();
    std::size_t imageTextureCacheSize() const { return imageTextureCache_.size(); }
    // Where the renderer's vertex buffers come from.
    MetalBufferDevice& bufferDevice();
    MetalRowCache rowCache;
    // False while a blinking cursor is in its hidden phase.
    bool cursorBlinkOn = true;

    // ---- Frame drawing

    void drawInMTKView(MetalGLView& view) override { drawFrame(view); }
    // One frame into the view's framebuffer, with the view's context current: permission from
    // the coordinator, the draw data, the layers, then a fence whose signal completes the frame.
    void drawFrame(MetalGLView& view);
    // Draws `data`'s layers and cursor into the bound framebuffer, `viewport` being its width
    // and height in pixels, and returns the number of draw calls issued. Context current.
    int encodeDrawData(const DrawData& data, MetalFloat2 viewport);
    // The vertex buffers of frames, pooled by length.
    MetalBufferPool& bufferPool();
    // Starts or stops the 0.7 s blink timer; a cursor that stops blinking is shown.
    void updateCursorBlink(bool shouldBlink);
    void cursorBlinkTick();
    bool cursorBlinkTimerRunning() const;
    // Looks at the fences of frames in flight and completes those that are signalled (a short
    // timer does this while frames are in flight). Makes the view's context current itself.
    void pollFrameCompletions();
    // Frames committed since the renderer was built; refused frames are not counted.
    std::uint64_t framesCommitted() const;

    const MetalPipeline& textPipeline() const { return textPipeline_; }
    const MetalPipeline& textGrayPipeline() const { return textGrayPipeline_; }
    const MetalPipeline& cellTextPipeline() const { return cellTextPipeline_; }
    const MetalPipeline& cellTextGrayPipeline() const { return cellTextGrayPipeline_; }
    const MetalPipeline& colorPipeline() const { return colorPipeline_; }
    const MetalPipeline& cellColorPipeline() const { return cellColorPipeline_; }
    GLuint sampler() const { return sampler_; }
    std::size_t glyphCacheSize() const { return glyphCache_.size(); }
    std::size_t customGlyphCacheSize() const { return customGlyphCache_.size(); }

private:
    MetalTerminalRenderer(MainQueue& queue, QObject* hostObject, MetalRendererHost* host);

    MainQueue& queue_;
    QPointer<QObject> hostObject_;
    MetalRendererHost* host_ = nullptr;
    // Callbacks queued for later hold this weakly: once it is gone they do nothing.
    std::shared_ptr<MetalTerminalRenderer*> self_ = std::make_shared<MetalTerminalRenderer*>(this);

    QOpenGLFunctions_3_3_Core* gl_ = nullptr;
    std::unique_ptr<OpenGLGlyphAtlasDevice> device_;
    std::unique_ptr<GlyphAtlas> grayscaleAtlas_;
    std::unique_ptr<GlyphAtlas> colorAtlas_;
    std::unique_ptr<MetalShaderLibrary> library_;
    MetalPipeline textPipeline_;
    MetalPipeline textGrayPipeline_;
    MetalPipeline cellTextPipeline_;
    MetalPipeline cellTextGrayPipeline_;
    MetalPipeline colorPipeline_;
    MetalPipeline cellColorPipeline_;
    GLuint sampler_ = 0;

    std::unordered_map<GlyphKey, GlyphEntry, GlyphKeyHash> glyphCache_;
    std::unordered_map<GlyphKey, QRawFont, GlyphKeyHash> scaledFontCache_; // glyph unused
    std::unordered_map<CustomGlyphKey, CustomGlyphEntry, CustomGlyphKeyHash> customGlyphCache_;
    struct KittyTexture {
        KittyImageSignature signature;
        std::shared_ptr<MetalImageTexture> texture;
    };
    std::map<std::uint32_t, KittyTexture> kittyTextureCache_;
    ShaperCache<std::shared_ptr<const ShaperRun>> shaperCache_{2048};
    std::vector<std::pair<QRawFont, std::string>> fontNames_; // the fonts keep their engines alive
    std::shared_ptr<MetalFrameCoordinator> frameCoordinator_;
    QPointer<MetalGLView> metalView_;
    QPointer<TerminalView> terminalView_;

    std::shared_ptr<MetalImageTexture> makeImageTexture(const std::uint8_t* rgba, int width, int height);

    // Frame drawing: buffer device and pool, fences in flight, blink timer (made on first use
    // with the context current; shared so its type stays out of this header).
    struct FrameState;
    std::shared_ptr<FrameState> frameState_;
    FrameState& frameState();
    void completeFrames(bool contextGone);
    // The view's own images, keyed by object but held weakly: the texture goes once the
    // image does, and an address reused by a new image never finds the old texture.
    struct ViewImageTexture {
        std::weak_ptr<const TerminalImage> image;
        qint64 contents = 0; // the pixels' cache key: pixels replaced in place get a new texture
        std::shared_ptr<MetalImageTexture> texture;
    };
    std::map<const TerminalImage*, ViewImageTexture> imageTextureCache_;
};

// The name a font is cached under: family, style, the slant and weight asked for (a face the
// toolkit slants or emboldens keeps its plain style name) and the hinting.
std::string metalFontName(const QRawFont& font);

} // namespace corvantix

// The GPU renderer of a terminal view, an OpenGL 3.3 core backend kept under the Metal names
// the rest of the engine uses. This part builds it (atlases, rasterizer, the six programs
// with their blending, the sampler), owns its frame coordinator, and serves glyphs and cell
// art from the atlases. A renderer is either fully built or not at all.
//
// Everything here runs on the main thread with the renderer's OpenGL context current, its
// destruction included (the atlases and programs free GL objects).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <variant>

#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLShaderProgram>
#include <QPointer>
#include <QRawFont>

#include "gpu/GlyphAtlas.h"
#include "gpu/GlyphLookup.h"
#include "gpu/MetalErrors.h"
#include "gpu/MetalFrameCoordinator.h"
#include "gpu/qt/CoreTextGlyphRasterizer.h"
#include "gpu/qt/MetalShaderLibrary.h"
#include "gpu/qt/OpenGLGlyphAtlasDevice.h"
#include "platform/MainQueue.h"

namespace corvantix {

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
};

// A program and the blending it draws with (glBlendFuncSeparate factors).
struct MetalPipeline {
    std::unique_ptr<QOpenGLShaderProgram> program;
    GLenum sourceRGB = GL_ONE;
    GLenum destinationRGB = GL_ONE_MINUS_SRC_ALPHA;
    GLenum sourceAlpha = GL_ONE;
    GLenum destinationAlpha = GL_ONE_MINUS_SRC_ALPHA;
};

struct MetalTerminalRendererOptions {
    MetalShaderLibraryOptions shaders;
    int atlasInitialSize = 1024;
};

class MetalTerminalRenderer {
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
    ~MetalTerminalRenderer();
    MetalTerminalRenderer(const MetalTerminalRenderer&) = delete;
    MetalTerminalRenderer& operator=(const MetalTerminalRenderer&) = delete;

    // Created on first use; its callbacks reach the host through the main queue and do
    // nothing once the renderer or the host is gone.
    MetalFrameCoordinator& frameCoordinator();

    // The font at scale x its pixel size, kept for good.
    QRawFont scaledFont(const QRawFont& font, double scale);
    // The glyph's place in an atlas, rasterizing and uploading it the first time; none when
    // it has no bitmap or no room (then tried again next time).
    std::optional<GlyphEntry> glyphEntry(const QRawFont& font, quint32 glyph);
    // Cell art in the single-channel atlas; none for another code point or an empty cell.
    std::optional<CustomGlyphEntry> drawCustomGlyph(std::uint32_t codePoint, int cellWidthPx, int cellHeightPx,
                                                    int baseThicknessPx, bool antiAlias, double scale);
    // Drops what an allocation that grew or emptied the atlas made stale.
    void handleAtlasInvalidation(const GlyphAtlas& atlas, int sizeBefore);

    GlyphAtlas& grayscaleAtlas() { return *grayscaleAtlas_; }
    GlyphAtlas& colorAtlas() { return *colorAtlas_; }
    CoreTextGlyphRasterizer rasterizer;
    bool atlasInvalidatedDuringBuild = false;

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
    std::shared_ptr<MetalFrameCoordinator> frameCoordinator_;
};

// The name a font is cached under: family and style, as a PostScript name would tell them apart.
std::string metalFontName(const QRawFont& font);

} // namespace corvantix

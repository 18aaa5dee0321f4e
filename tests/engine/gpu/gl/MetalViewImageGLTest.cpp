// Textures of the view's own images and image draw buffers, on a real OpenGL 3.3 context.
#include "gpu/qt/MetalTerminalRenderer.h"
#include "view/qt/TerminalViewImages.h"

#include <gtest/gtest.h>

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLVersionFunctionsFactory>

#include <array>
#include <memory>
#include <vector>

#include "platform/qt/QtMainQueue.h"

namespace corvantix {
namespace {

class QuietHost final : public QObject, public MetalRendererHost {
public:
    bool canPresentMetalFrames() const override { return true; }
    void setMetalViewNeedsDisplay() override {}
    void recoverMetalRenderer(MetalTerminalRenderer&, const MetalRendererRecoveryReport&) override {}
    void pruneRetiredMetalRenderers(MetalTerminalRenderer&) override {}
};

// An image that is not one of the view's.
class OtherImage final : public TerminalImage {
public:
    int pixelWidth() const override { return 1; }
    int pixelHeight() const override { return 1; }
    int col() const override { return 0; }
    void setCol(int) override {}
};

class MetalViewImageGLTest : public testing::Test {
protected:
    void SetUp() override
    {
        QSurfaceFormat format;
        format.setVersion(3, 3);
        format.setProfile(QSurfaceFormat::CoreProfile);
        surface.setFormat(format);
        surface.create();
        context.setFormat(format);
        ASSERT_TRUE(context.create()) << "no OpenGL context (is the X server's GLX extension there?)";
        ASSERT_TRUE(context.makeCurrent(&surface));
        MetalTerminalRendererOptions options;
        options.atlasInitialSize = 256;
        auto made = MetalTerminalRenderer::make(queue, &host, std::move(options));
        ASSERT_TRUE(std::holds_alternative<std::unique_ptr<MetalTerminalRenderer>>(made));
        renderer = std::move(std::get<std::unique_ptr<MetalTerminalRenderer>>(made));
        gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(&context);
        ASSERT_NE(gl, nullptr);
    }
    void TearDown() override
    {
        renderer.reset();
        context.doneCurrent();
    }

    // Two pixels, red on top of blue, half transparent at the bottom.
    static std::shared_ptr<TerminalView::AppleImage> redOverBlue()
    {
        QImage image(1, 2, QImage::Format_RGBA8888);
        image.setPixelColor(0, 0, QColor(255, 0, 0, 255));
        image.setPixelColor(0, 1, QColor(0, 0, 255, 128));
        return std::make_shared<TerminalView::AppleImage>(image, 1, 2, 0);
    }

    // The texture's texels in memory order (its first row is the image's bottom row).
    std::vector<std::array<std::uint8_t, 4>> texels(const MetalTexture& texture)
    {
        const auto& image = static_cast<const MetalImageTexture&>(texture);
        std::vector<std::array<std::uint8_t, 4>> out(static_cast<std::size_t>(image.width()) * image.height());
        gl->glBindTexture(GL_TEXTURE_2D, image.name());
        gl->glPixelStorei(GL_PACK_ALIGNMENT, 1);
        gl->glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
        return out;
    }

    QOffscreenSurface surface;
    QOpenGLContext context;
    QtMainQueue queue;
    QuietHost host;
    std::unique_ptr<MetalTerminalRenderer> renderer;
    QOpenGLFunctions_3_3_Core* gl = nullptr;
};

TEST_F(MetalViewImageGLTest, AnImageIsUploadedOnceBottomRowFirstAndPremultiplied)
{
    auto image = redOverBlue();
    const auto texture = renderer->imageDraw(*image);
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->width(), 1);
    EXPECT_EQ(texture->height(), 2);
    const auto stored = texels(*texture);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0][2], 128) << "the bottom (blue) row comes first, its blue premultiplied";
    EXPECT_EQ(stored[0][3], 128);
    EXPECT_EQ(stored[1], (std::array<std::uint8_t, 4>{255, 0, 0, 255}));

    EXPECT_EQ(renderer->imageDraw(*image), texture) << "reused while the image lives";
    EXPECT_EQ(renderer->imageTextureCacheSize(), 1u);
}

TEST_F(MetalViewImageGLTest, EachImageObjectHasItsOwnTextureForAsLongAsItLives)
{
    auto first = redOverBlue();
    auto second = std::make_shared<TerminalView::AppleImage>(first->image, 1, 2, 0); // same pixels
    const auto firstTexture = renderer->imageDraw(*first);
    const auto secondTexture = renderer->imageDraw(*second);
    ASSERT_TRUE(firstTexture && secondTexture);
    EXPECT_NE(firstTexture, secondTexture);
    EXPECT_EQ(renderer->imageTextureCacheSize(), 2u);

    first.reset();
    renderer->pruneImageTextures();
    EXPECT_EQ(renderer->imageTextureCacheSize(), 1u) << "the gone image's texture is dropped";
    EXPECT_EQ(renderer->imageDraw(*second), secondTexture);
}

TEST_F(MetalViewImageGLTest, PixelsReplacedInPlaceGetANewTexture)
{
    auto image = redOverBlue();
    const auto before = renderer->imageDraw(*image);
    QImage green(1, 2, QImage::Format_RGBA8888);
    green.fill(QColor(0, 255, 0));
    image->image = green;
    const auto after = renderer->imageDraw(*image);
    ASSERT_TRUE(after);
    EXPECT_NE(after, before);
    EXPECT_EQ(texels(*after)[0], (std::array<std::uint8_t, 4>{0, 255, 0, 255}));
    EXPECT_EQ(renderer->imageTextureCacheSize(), 1u);
}

TEST_F(MetalViewImageGLTest, ImagesWithoutPixelsOrOfAnotherKindGetNoTexture)
{
    auto empty = std::make_shared<TerminalView::AppleImage>(QImage(), 0, 0, 0);
    auto other = std::make_shared<OtherImage>();
    EXPECT_FALSE(renderer->imageDraw(*empty));
    EXPECT_FALSE(renderer->imageDraw(*other));
    EXPECT_EQ(renderer->imageTextureCacheSize(), 0u);
}

TEST_F(MetalViewImageGLTest, ImageDrawBuffersSkipDrawsWithoutVertices)
{
    auto image = redOverBlue();
    const auto texture = renderer->imageDraw(*image);
    std::vector<ImageDraw> draws(3);
    for (ImageDraw& draw : draws)
        draw.texture = texture;
    appendRectangleVertices(draws[1].vertices, {0, 0, 4, 8}, {}, {1, 1, 1, 1});

    const std::vector<ImageDrawBuffer> buffers = renderer->makeImageDrawBuffers(draws);
    // Only a device that gives buffers gets one for the drawn image; never one for the others.
    const bool deviceGivesBuffers = renderer->bufferDevice().newBuffer(32) != nullptr;
    ASSERT_EQ(buffers.size(), deviceGivesBuffers ? 1u : 0u);
    if (deviceGivesBuffers) {
        EXPECT_EQ(buffers[0].vertexCount, 6);
        EXPECT_EQ(buffers[0].texture, texture);
        EXPECT_EQ(buffers[0].buffer->length(), 6 * sizeof(GlyphVertex));
    }
}

TEST_F(MetalViewImageGLTest, AnAtlasThatGrowsDropsTheCachedRows)
{
    // One cached row, built through the renderer's own cache.
    auto line = BufferLine::create(2);
    DrawDataBuildInput input;
    input.signature.rows = 1;
    input.lineCount = 1;
    input.lineAt = [&](int) -> std::shared_ptr<const BufferLine> { return line; };
    input.buildRow = [](int, int) { return RowDrawData{}; };
    renderer->rowCache.buildDrawData(input, renderer->bufferDevice());
    ASSERT_EQ(renderer->rowCache.size(), 1u);

    GlyphAtlas& atlas = renderer->grayscaleAtlas();
    renderer->handleAtlasInvalidation(atlas, atlas.size());
    EXPECT_EQ(renderer->rowCache.size(), 1u) << "an unchanged atlas keeps the rows";
    renderer->handleAtlasInvalidation(atlas, atlas.size() / 2);
    EXPECT_EQ(renderer->rowCache.size(), 0u);
    EXPECT_TRUE(renderer->atlasInvalidatedDuringBuild);
}

} // namespace
} // namespace corvantix

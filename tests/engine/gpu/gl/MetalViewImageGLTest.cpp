// Textures of the view's own images, image draw buffers and the row cache's answer to an atlas
// change, on a real OpenGL 3.3 context.
#include "GLTestSupport.h"
#include "view/qt/TerminalViewImages.h"

#include <memory>
#include <vector>

namespace corvantix {
namespace {

using namespace gltest;

// An image that is not one of the view's.
class OtherImage final : public TerminalImage {
public:
    int pixelWidth() const override { return 1; }
    int pixelHeight() const override { return 1; }
    int col() const override { return 0; }
    void setCol(int) override {}
};

class MetalViewImageGLTest : public GLContextTest {
protected:
    void SetUp() override
    {
        GLContextTest::SetUp();
        startRenderer();
    }

    // Two pixels, red on top of blue, half transparent at the bottom.
    static std::shared_ptr<TerminalView::AppleImage> redOverBlue()
    {
        QImage image(1, 2, QImage::Format_RGBA8888);
        image.setPixelColor(0, 0, QColor(255, 0, 0, 255));
        image.setPixelColor(0, 1, QColor(0, 0, 255, 128));
        return std::make_shared<TerminalView::AppleImage>(image, 1, 2, 0);
    }
};

TEST_F(MetalViewImageGLTest, EachLivingImageHasOneTextureTurnedOverAndPremultiplied)
{
    auto image = redOverBlue();
    const auto texture = renderer->imageDraw(*image);
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->height(), 2);
    // The bottom (blue) row comes first, its blue premultiplied by its alpha.
    EXPECT_EQ(textureBytes(*texture), (std::vector<std::uint8_t>{0, 0, 128, 128, 255, 0, 0, 255}));
    EXPECT_EQ(renderer->imageDraw(*image), texture) << "reused while the image lives";

    // Another image object with the same pixels has a texture of its own.
    auto twin = std::make_shared<TerminalView::AppleImage>(image->image, 1, 2, 0);
    const auto twinTexture = renderer->imageDraw(*twin);
    ASSERT_TRUE(twinTexture);
    EXPECT_NE(twinTexture, texture);
    EXPECT_EQ(renderer->imageTextureCacheSize(), 2u);
    twin.reset();
    renderer->pruneImageTextures();
    EXPECT_EQ(renderer->imageTextureCacheSize(), 1u) << "the gone image's texture is dropped";
    EXPECT_EQ(renderer->imageDraw(*image), texture);

    // Pixels replaced in place get a new texture in the old one's entry.
    QImage green(1, 2, QImage::Format_RGBA8888);
    green.fill(QColor(0, 255, 0));
    image->image = green;
    const auto replaced = renderer->imageDraw(*image);
    ASSERT_TRUE(replaced);
    EXPECT_NE(replaced, texture);
    EXPECT_EQ(textureBytes(*replaced), (std::vector<std::uint8_t>{0, 255, 0, 255, 0, 255, 0, 255}));
    EXPECT_EQ(renderer->imageTextureCacheSize(), 1u);

    // Images without pixels or of another kind get none.
    EXPECT_FALSE(renderer->imageDraw(TerminalView::AppleImage(QImage(), 0, 0, 0)));
    EXPECT_FALSE(renderer->imageDraw(OtherImage()));
    EXPECT_EQ(renderer->imageTextureCacheSize(), 1u);
}

TEST_F(MetalViewImageGLTest, DrawBuffersSkipEmptyDrawsAndAnAtlasChangeEmptiesTheRowCache)
{
    auto image = redOverBlue();
    std::vector<ImageDraw> draws(3);
    for (ImageDraw& draw : draws)
        draw.texture = renderer->imageDraw(*image);
    appendRectangleVertices(draws[1].vertices, {0, 0, 4, 8}, {}, {1, 1, 1, 1});
    const std::vector<ImageDrawBuffer> buffers = renderer->makeImageDrawBuffers(draws);
    ASSERT_EQ(buffers.size(), 1u);
    EXPECT_EQ(buffers[0].vertexCount, 6);
    EXPECT_EQ(buffers[0].texture, draws[1].texture);
    EXPECT_EQ(buffers[0].buffer->length(), 6 * sizeof(GlyphVertex));

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

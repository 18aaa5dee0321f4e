#include "gpu/qt/OpenGLGlyphAtlasDevice.h"

namespace corvantix {

OpenGLGlyphAtlasTexture::~OpenGLGlyphAtlasTexture()
{
    gl_.glDeleteTextures(1, &name_);
}

void OpenGLGlyphAtlasTexture::replaceRegion(int x, int y, int width, int height, const std::uint8_t* bytes,
                                            int bytesPerRow)
{
    gl_.glBindTexture(GL_TEXTURE_2D, name_);
    gl_.glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gl_.glPixelStorei(GL_UNPACK_ROW_LENGTH, bytesPerRow / bytesPerPixel(format_));
    gl_.glTexSubImage2D(GL_TEXTURE_2D, 0, x, y, width, height,
                        format_ == GlyphAtlasFormat::grayscale ? GL_RED : GL_BGRA, GL_UNSIGNED_BYTE, bytes);
    gl_.glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

std::unique_ptr<GlyphAtlasTexture> OpenGLGlyphAtlasDevice::makeTexture(GlyphAtlasFormat format, int size)
{
    GLint largest = 0;
    gl_.glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
    if (size < 1 || size > largest)
        return nullptr;
    while (gl_.glGetError() != GL_NO_ERROR) {
    }
    GLuint name = 0;
    gl_.glGenTextures(1, &name);
    if (name == 0)
        return nullptr;
    gl_.glBindTexture(GL_TEXTURE_2D, name);
    const bool gray = format == GlyphAtlasFormat::grayscale;
    gl_.glTexImage2D(GL_TEXTURE_2D, 0, gray ? GL_R8 : GL_RGBA8, size, size, 0, gray ? GL_RED : GL_BGRA,
                     GL_UNSIGNED_BYTE, nullptr);
    if (gl_.glGetError() != GL_NO_ERROR) { // out of memory, most likely
        gl_.glDeleteTextures(1, &name);
        return nullptr;
    }
    gl_.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    return std::make_unique<OpenGLGlyphAtlasTexture>(gl_, format, name);
}

bool OpenGLGlyphAtlasDevice::supportsLargeTextures() const
{
    GLint largest = 0;
    gl_.glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
    return largest >= 16384;
}

} // namespace corvantix

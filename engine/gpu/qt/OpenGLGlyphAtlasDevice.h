// Atlas textures in OpenGL: GL_R8 for the single-channel atlas and GL_RGBA8 filled from
// B, G, R, A bytes for the colour atlas. Large textures means a GL_MAX_TEXTURE_SIZE of
// 16384 or more. Needs the OpenGL 3.3 context current whenever it is used.
#pragma once

#include <QOpenGLFunctions_3_3_Core>

#include "gpu/GlyphAtlas.h"

namespace corvantix {

class OpenGLGlyphAtlasTexture final : public GlyphAtlasTexture {
public:
    OpenGLGlyphAtlasTexture(QOpenGLFunctions_3_3_Core& gl, GlyphAtlasFormat format, GLuint name)
        : gl_(gl), format_(format), name_(name)
    {
    }
    ~OpenGLGlyphAtlasTexture() override;
    void replaceRegion(int x, int y, int width, int height, const std::uint8_t* bytes, int bytesPerRow) override;
    GLuint name() const { return name_; }

private:
    QOpenGLFunctions_3_3_Core& gl_;
    GlyphAtlasFormat format_;
    GLuint name_;
};

class OpenGLGlyphAtlasDevice final : public GlyphAtlasDevice {
public:
    explicit OpenGLGlyphAtlasDevice(QOpenGLFunctions_3_3_Core& gl) : gl_(gl) {}
    std::unique_ptr<GlyphAtlasTexture> makeTexture(GlyphAtlasFormat format, int size) override;
    bool supportsLargeTextures() const override;

private:
    QOpenGLFunctions_3_3_Core& gl_;
};

} // namespace corvantix

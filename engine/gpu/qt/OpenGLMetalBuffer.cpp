#include "gpu/qt/OpenGLMetalBuffer.h"

#include <algorithm>

#include <QOpenGLContext>

namespace corvantix {

void OpenGLBufferOwner::release(GLuint buffer, GLuint texture)
{
    std::lock_guard guard(lock);
    if (contextLost)
        return;
    if (QOpenGLContext::currentContext() == context) {
        if (texture != 0)
            gl->glDeleteTextures(1, &texture);
        if (buffer != 0)
            gl->glDeleteBuffers(1, &buffer);
        return;
    }
    if (texture != 0)
        pendingTextures.push_back(texture);
    if (buffer != 0)
        pendingBuffers.push_back(buffer);
}

OpenGLMetalBuffer::~OpenGLMetalBuffer()
{
    owner_->release(name_, texture_);
}

void OpenGLMetalBuffer::replaceContents(std::span<const std::byte> bytes)
{
    if (owner_->contextLost || bytes.empty())
        return;
    QOpenGLFunctions_3_3_Core& gl = *owner_->gl;
    gl.glBindBuffer(GL_ARRAY_BUFFER, name_);
    gl.glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(std::min(bytes.size(), length_)), bytes.data());
    gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
}

GLuint OpenGLMetalBuffer::cellTexture()
{
    if (texture_ != 0 || owner_->contextLost)
        return texture_;
    // Every texel is 16 bytes; a buffer beyond the texture limit would be read short.
    if (length_ / 16 > static_cast<std::size_t>(owner_->maxTextureBufferTexels))
        return 0;
    QOpenGLFunctions_3_3_Core& gl = *owner_->gl;
    gl.glGenTextures(1, &texture_);
    gl.glBindTexture(GL_TEXTURE_BUFFER, texture_);
    gl.glTexBuffer(GL_TEXTURE_BUFFER, GL_RGBA32F, name_);
    gl.glBindTexture(GL_TEXTURE_BUFFER, 0);
    return texture_;
}

OpenGLMetalBufferDevice::OpenGLMetalBufferDevice(QOpenGLFunctions_3_3_Core& gl)
    : owner_(std::make_shared<OpenGLBufferOwner>())
{
    owner_->gl = &gl;
    owner_->context = QOpenGLContext::currentContext();
    gl.glGetIntegerv(GL_MAX_TEXTURE_BUFFER_SIZE, &owner_->maxTextureBufferTexels);
}

OpenGLMetalBufferDevice::~OpenGLMetalBufferDevice()
{
    if (QOpenGLContext::currentContext() == owner_->context)
        collectReleased();
}

std::shared_ptr<MetalBuffer> OpenGLMetalBufferDevice::newBuffer(std::size_t length)
{
    if (length == 0 || length > largestBuffer || isContextLost()
        || QOpenGLContext::currentContext() != owner_->context)
        return nullptr;
    QOpenGLFunctions_3_3_Core& gl = *owner_->gl;
    collectReleased();
    while (gl.glGetError() != GL_NO_ERROR) {
    }
    GLuint name = 0;
    gl.glGenBuffers(1, &name);
    if (name == 0)
        return nullptr;
    gl.glBindBuffer(GL_ARRAY_BUFFER, name);
    gl.glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(length), nullptr, GL_DYNAMIC_DRAW);
    gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
    if (gl.glGetError() != GL_NO_ERROR) {
        gl.glDeleteBuffers(1, &name);
        return nullptr;
    }
    return std::make_shared<OpenGLMetalBuffer>(owner_, name, length);
}

void OpenGLMetalBufferDevice::collectReleased()
{
    std::lock_guard guard(owner_->lock);
    if (owner_->contextLost || QOpenGLContext::currentContext() != owner_->context)
        return;
    QOpenGLFunctions_3_3_Core& gl = *owner_->gl;
    if (!owner_->pendingTextures.empty())
        gl.glDeleteTextures(static_cast<GLsizei>(owner_->pendingTextures.size()), owner_->pendingTextures.data());
    if (!owner_->pendingBuffers.empty())
        gl.glDeleteBuffers(static_cast<GLsizei>(owner_->pendingBuffers.size()), owner_->pendingBuffers.data());
    owner_->pendingTextures.clear();
    owner_->pendingBuffers.clear();
}

void OpenGLMetalBufferDevice::contextLost()
{
    std::lock_guard guard(owner_->lock);
    owner_->contextLost = true;
    owner_->pendingTextures.clear();
    owner_->pendingBuffers.clear();
}

bool OpenGLMetalBufferDevice::isContextLost() const
{
    std::lock_guard guard(owner_->lock);
    return owner_->contextLost;
}

} // namespace corvantix

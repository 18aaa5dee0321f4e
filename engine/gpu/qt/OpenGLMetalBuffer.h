// Vertex buffers in OpenGL: a buffer object each, and for the cell programs, which fetch their
// records by index rather than through vertex attributes, a GL_RGBA32F buffer texture over
// the same storage (three texels per TextCell, two per ColorCell).
//
// GL objects may only be deleted with their context current. A buffer released elsewhere (a
// frame's completion seen from a timer) leaves its names to the device, which deletes them
// the next time it runs with the context current; once the context is gone they are simply
// forgotten, as the context took them with it.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include <QOpenGLFunctions_3_3_Core>
#include <QPointer>

#include "gpu/MetalDrawData.h"

class QOpenGLContext;

namespace corvantix {

// What buffers and their device share: the context their objects live in and the names
// waiting for it to be current again.
struct OpenGLBufferOwner {
    QOpenGLFunctions_3_3_Core* gl = nullptr;
    QOpenGLContext* context = nullptr; // compared only, never dereferenced once lost
    std::mutex lock;
    bool contextLost = false;
    std::vector<GLuint> pendingBuffers;
    std::vector<GLuint> pendingTextures;
    GLint maxTextureBufferTexels = 0;

    // Deletes now when the context is current, else later; nothing once it is lost.
    void release(GLuint buffer, GLuint texture);
};

class OpenGLMetalBuffer final : public MetalBuffer {
public:
    OpenGLMetalBuffer(std::shared_ptr<OpenGLBufferOwner> owner, GLuint name, std::size_t length)
        : owner_(std::move(owner)), name_(name), length_(length)
    {
    }
    ~OpenGLMetalBuffer() override;
    OpenGLMetalBuffer(const OpenGLMetalBuffer&) = delete;
    OpenGLMetalBuffer& operator=(const OpenGLMetalBuffer&) = delete;

    std::size_t length() const override { return length_; }
    void replaceContents(std::span<const std::byte> bytes) override;

    GLuint name() const { return name_; }
    // The buffer texture the cell programs read, made on first use; 0 when the buffer is
    // longer than a buffer texture may be.
    GLuint cellTexture();

private:
    std::shared_ptr<OpenGLBufferOwner> owner_;
    GLuint name_;
    GLuint texture_ = 0;
    std::size_t length_;
};

class OpenGLMetalBufferDevice final : public MetalBufferDevice {
public:
    // Uses the context current now; the functions must be that context's.
    explicit OpenGLMetalBufferDevice(QOpenGLFunctions_3_3_Core& gl);
    ~OpenGLMetalBufferDevice() override;
    OpenGLMetalBufferDevice(const OpenGLMetalBufferDevice&) = delete;
    OpenGLMetalBufferDevice& operator=(const OpenGLMetalBufferDevice&) = delete;

    // A buffer of `length` bytes, contents undefined; none for a length of 0, one beyond what
    // a frame could use, or when GL runs out of memory. Needs the context current.
    std::shared_ptr<MetalBuffer> newBuffer(std::size_t length) override;
    // Deletes what buffers released while the context was not current. Needs it current.
    void collectReleased();
    // The context is about to go: its objects go with it.
    void contextLost();
    bool isContextLost() const;

    static constexpr std::size_t largestBuffer = std::size_t{1} << 30;

private:
    std::shared_ptr<OpenGLBufferOwner> owner_;
};

} // namespace corvantix

// An inline image anchored on a row. The image itself (decoding, storage, placement,
// drawing) belongs to the graphics side; lines only store, copy and drop shared
// references to it.
#pragma once

namespace corvantix {

class TerminalImage {
public:
    virtual ~TerminalImage() = default;

    virtual int pixelWidth() const = 0;
    virtual int pixelHeight() const = 0;
    // The column the image is anchored at; the graphics side moves it.
    virtual int col() const = 0;
    virtual void setCol(int col) = 0;
};

} // namespace corvantix

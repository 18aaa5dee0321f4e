// An inline image anchored on a row. The image itself (decoding, storage, placement,
// drawing) belongs to the graphics side; lines only store, copy and drop shared
// references to it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

namespace corvantix {

class KittyPlacementImage;

// Lines hold images through shared references; a cache on the drawing side keys on an image
// weakly (weak_from_this) so that its entry goes when the last line lets go of the image.
class TerminalImage : public std::enable_shared_from_this<TerminalImage> {
public:
    virtual ~TerminalImage() = default;

    virtual int pixelWidth() const = 0;
    virtual int pixelHeight() const = 0;
    // The column the image is anchored at; the graphics side moves it.
    virtual int col() const = 0;
    virtual void setCol(int col) = 0;

    // The placement fields when the object has them, else null. Having them and belonging
    // to a placement (kittyIsKitty) are two questions: an object may carry the fields unset.
    virtual KittyPlacementImage* kittyPlacementImage() { return nullptr; }
    const KittyPlacementImage* kittyPlacementImage() const
    {
        return const_cast<TerminalImage*>(this)->kittyPlacementImage();
    }
};

// An image object that can show one placement of a stored image. Every object of a
// placement (one per screen line it covers) carries the whole placement's position and span.
class KittyPlacementImage : public TerminalImage {
public:
    bool kittyIsKitty = false;
    std::optional<std::uint32_t> kittyImageId;
    std::optional<std::uint32_t> kittyImageNumber;
    std::optional<std::uint32_t> kittyPlacementId;
    int kittyZIndex = 0;
    int kittyCol = 0; // the placement's top-left cell
    int kittyRow = 0; // absolute: screen row + the buffer's yBase
    int kittyCols = 0; // span in cells
    int kittyRows = 0;
    int kittyPixelOffsetX = 0; // inside the first cell
    int kittyPixelOffsetY = 0;

    KittyPlacementImage* kittyPlacementImage() override { return this; }
};

} // namespace corvantix

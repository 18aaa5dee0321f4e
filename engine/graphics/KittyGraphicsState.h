// The Kitty graphics store of one Terminal and the placement request handed to the host.
// The terminal makes a fresh store when it is built and empties it on a full reset; the
// graphics side fills and reads it.
#pragma once

#include "graphics/ImageSizeRequest.h"
#include "graphics/KittyGraphicsControl.h"
#include "graphics/KittyGraphicsPayload.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace corvantix {

// Identifies one placement: an image and a placement id within it.
struct KittyPlacementKey {
    std::uint32_t imageId = 0;
    std::uint32_t placementId = 0;

    friend constexpr auto operator<=>(const KittyPlacementKey&, const KittyPlacementKey&) = default;
};

// Where one placement of an image stands.
struct KittyPlacementRecord {
    std::uint32_t imageId = 0;
    std::uint32_t placementId = 0;
    std::optional<std::uint32_t> parentImageId;
    std::optional<std::uint32_t> parentPlacementId;
    int parentOffsetH = 0; // cells right of the parent placement
    int parentOffsetV = 0; // cells below the parent placement
    int pixelOffsetX = 0;
    int pixelOffsetY = 0;
    int col = 0;
    int row = 0; // absolute: screen row + the buffer's yBase
    int cols = 0;
    int rows = 0;
    int zIndex = 0; // stacking order against the text and other placements
    bool isVirtual = false;
    bool isAlternateBuffer = false;

    friend bool operator==(const KittyPlacementRecord&, const KittyPlacementRecord&) = default;
};

// One stored image.
struct KittyGraphicsImage {
    KittyGraphicsPayload payload;
    std::int64_t byteSize = 0; // counts against the store's byte limit
    std::uint64_t lastAccessTick = 0; // the least recently used image goes first when the store is full
    std::uint64_t storeStamp = 0; // the tick it was stored at: an image re-sent under the same id gets a new one
};

// Each block of a chunked transmission's text holds this much: the text grows a block at a
// time rather than by doubling one buffer, which at the cap would hold twice the cap.
inline constexpr std::size_t kittyPendingBlockBytes = 4u << 20;

// A chunked transmission still being received: the control of its first chunk, which
// rules the whole transmission, and the base64 text of the chunks so far, in blocks of
// kittyPendingBlockBytes (only the last one partly filled).
struct KittyGraphicsPending {
    KittyGraphicsControl control;
    std::vector<std::vector<std::uint8_t>> base64Blocks;
    std::size_t base64Size = 0;

    void append(std::span<const std::uint8_t> text);
    // The bytes the blocks hold room for.
    std::size_t reservedBytes() const;
    // The text in one piece; the blocks are freed as they are copied.
    std::vector<std::uint8_t> takeText();
};

// The images whose placeholder cells must be drawn again, gathered while output is fed and
// looked for on the screen once the feed ends. A placeholder's colour carries only the low 24
// bits of its image id, so those are what is kept. Past a few dozen images the list gives way
// to "every image": more rows may be redrawn, none is missed, and the list stays small.
struct KittyPlaceholderChanges {
    static constexpr std::size_t maximumNumbers = 64;

    std::vector<std::uint32_t> numbers; // distinct
    bool everyImage = false;

    void note(std::uint32_t imageId);
    bool empty() const { return numbers.empty() && !everyImage; }
    void clear()
    {
        numbers.clear();
        everyImage = false;
    }
};

struct KittyGraphicsState {
    std::map<std::uint32_t, KittyGraphicsImage> imagesById;
    std::map<std::uint32_t, std::uint32_t> imageNumbers; // image number (I) -> image id
    std::uint32_t nextImageId = 1; // for an image sent with a number but no id
    std::uint32_t nextPlacementId = 1; // for a placement sent without an id
    std::optional<KittyGraphicsPending> pending;
    std::map<KittyPlacementKey, KittyPlacementRecord> placementsByKey;
    std::int64_t totalImageBytes = 0; // the sum of every image's byteSize
    std::uint64_t nextImageAccessTick = 1; // the clock behind lastAccessTick
    KittyPlaceholderChanges placeholderChanges;
    std::uint64_t placeholderScanCount = 0; // passes over the screen for placeholder rows so far
};

// One placement request, as the host sees it while it makes the image.
struct KittyPlacementContext {
    std::optional<std::uint32_t> imageId;
    std::optional<std::uint32_t> imageNumber; // the number (I) the program gave the image
    std::optional<std::uint32_t> placementId;
    std::optional<std::uint32_t> parentImageId;
    std::optional<std::uint32_t> parentPlacementId;
    int parentOffsetH = 0; // cells right of the parent placement
    int parentOffsetV = 0; // cells below the parent placement
    int zIndex = 0; // stacking order against the text and other placements
    ImageSizeRequest widthRequest = ImageSizeRequest::automatic();
    ImageSizeRequest heightRequest = ImageSizeRequest::automatic();
    bool preserveAspectRatio = true;
    int cursorPolicy = 0; // C: 0 moves the cursor past the image, 1 leaves it
    bool isRelative = false; // placed against a parent placement
    int pixelOffsetX = 0;
    int pixelOffsetY = 0;

    friend bool operator==(const KittyPlacementContext&, const KittyPlacementContext&) = default;
};

} // namespace corvantix

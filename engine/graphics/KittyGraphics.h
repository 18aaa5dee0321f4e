// The image commands of one terminal: gathering chunks, routing each command by its action,
// storing, placing and deleting images, answering the program, and keeping placements in
// step with the screens as they scroll, reset and switch.
//
// The terminal owns the store and the screens; the code here reaches them only through
// KittyGraphicsHost, which the terminal implements. Everything runs on the thread that
// feeds the terminal.
#pragma once

#include "graphics/ImageSizeRequest.h"
#include "graphics/KittyGraphicsControl.h"
#include "graphics/KittyGraphicsPayload.h"
#include "graphics/KittyGraphicsState.h"
#include "graphics/KittyPlacementCells.h"
#include "graphics/PngImage.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace corvantix {

class KittyGraphicsHost {
public:
    virtual ~KittyGraphicsHost() = default;

    // Replies: the bytes go to the program in one write; the flag picks 8-bit framing.
    virtual void send(std::span<const std::uint8_t> bytes) = 0;
    virtual bool sendsEightBitControls() const = 0;
    // The byte budget of the store.
    virtual std::int64_t imageCacheLimitBytes() const = 0;
    // False when the program runs on another computer: t=f, t=t and t=s name things of this
    // one and are refused.
    virtual bool allowsLocalImageMedia() const { return true; }

    // The active screen.
    virtual int cursorX() const = 0;
    virtual int cursorY() const = 0;
    virtual void setCursorX(int x) = 0;
    virtual void setCursorY(int y) = 0;
    virtual int yBase() const = 0;
    virtual int cols() const = 0;
    virtual int rows() const = 0;
    // The lines the active screen's ring may hold (screen and scrollback).
    virtual int maximumLineCount() const = 0;
    virtual bool alternateScreenActive() const = 0;
    // A line feed that scrolls at the bottom margin, and the cursor limited to the screen.
    virtual void index() = 0;
    virtual void restrictCursor() = 0;

    // The image maker: the cell size in device pixels when known, and the two ways to hand
    // it an image to attach at the cursor (bitmaps with premultiplied alpha). The placement
    // request is readable meanwhile.
    virtual std::optional<PixelSize> cellSizeInPixels() = 0;
    virtual std::optional<KittyPlacementContext>& placementContext() = 0;
    virtual void createImageFromBitmap(std::vector<std::uint8_t>& rgba, int width, int height) = 0;
    virtual void createImage(std::span<const std::uint8_t> data, ImageSizeRequest width, ImageSizeRequest height,
                             bool preserveAspectRatio) = 0;

    // The two screens, whose lines hold the image cells, and a redraw request for a row of
    // the active one.
    virtual Buffer& normalScreen() = 0;
    virtual Buffer& alternateScreen() = 0;
    virtual Buffer& activeScreen() = 0;
    virtual void updateRange(int row) = 0;
    // True when a cell's character (its code, as the lines store it) is a placeholder: text
    // that begins with U+10EEEE, kept in the terminal's table of multi-scalar characters.
    virtual bool isKittyPlaceholderCode(std::int32_t code) const = 0;
};

// Either no parent was asked for, a position, or the error text to reply with.
using KittyParentResult = std::variant<std::monostate, KittyCellPosition, std::string>;

class KittyGraphics {
public:
    // `pendingLimit`: the most base64 text a chunked transmission may gather.
    KittyGraphics(KittyGraphicsState& state, KittyGraphicsHost& host,
                  std::size_t pendingLimit = kittyMaximumPendingBase64Bytes)
        : state_(state), host_(host), pendingLimit_(pendingLimit)
    {
    }

    // One APC "G" string: the bytes after the "G".
    void handleKittyGraphicsCommand(std::span<const std::uint8_t> data);
    void dispatchKittyGraphicsCommand(const KittyGraphicsControl& control, std::span<const std::uint8_t> payload);

    void sendKittyGraphicsOK(const KittyGraphicsControl& control, std::optional<std::uint32_t> imageId,
                             std::optional<std::uint32_t> imageNumber, std::optional<std::uint32_t> placementId);
    void sendKittyGraphicsError(const KittyGraphicsControl& control, std::string_view message);

    void transmitKittyImage(const KittyGraphicsControl& control, std::span<const std::uint8_t> payload, bool alsoPut);
    void storeKittyImage(KittyGraphicsPayload payload, std::uint32_t imageId, std::optional<std::uint32_t> imageNumber);
    void findKittyImageForPut(const KittyGraphicsControl& control);
    bool placeKittyImage(KittyGraphicsPayload payload, const KittyGraphicsControl& control,
                         std::optional<std::uint32_t> imageId, std::optional<std::uint32_t> imageNumber);
    KittyGraphicsImage* touchKittyImage(std::uint32_t imageId);
    void removeKittyPlacement(std::uint32_t imageId, std::uint32_t placementId);
    KittyParentResult resolveKittyParent(const KittyGraphicsControl& control);
    // Follows the parents of a placement (at most kittyMaximumParentDepth of them) and
    // remembers every position it settles in `memo`.
    std::optional<KittyCellPosition> resolveKittyPlacementPosition(const KittyPlacementKey& key,
                                                                   const KittyCellPositions& cells,
                                                                   KittyCellPositions& memo);
    // Frees the least recently used images, unplaced ones first, until the store fits its budget.
    void evictKittyImages();
    void forgetKittyImageNumbers(std::uint32_t imageId);
    // Drops a stored image with its bytes and its numbers; an unknown id does nothing.
    void discardKittyImage(std::uint32_t imageId);
    // Frees every stored image that no cell of either screen and no record refers to.
    void freeUnreferencedKittyImages();
    std::set<std::uint32_t> kittyImagesInUse();

    // Deletion: each variant removes the matching cells and records and then the remaining
    // cells of every placement it hit, on both screens. Columns and rows count from 1.
    void deleteKittyGraphics(const KittyGraphicsControl& control);
    void deleteKittyPlacementsOnScreen();
    void deleteKittyPlacementsById(std::uint32_t imageId, std::optional<std::uint32_t> placementId);
    void deleteKittyPlacementsByNumber(std::uint32_t imageNumber, std::optional<std::uint32_t> placementId);
    void deleteKittyPlacementsAtCell(std::int64_t x, std::int64_t y, std::optional<int> zIndex);
    void deleteKittyPlacementsInColumn(std::int64_t x);
    void deleteKittyPlacementsInRow(std::int64_t y);
    void deleteKittyPlacementsByZIndex(int zIndex);
    void deleteKittyPlacementsByIdRange(std::uint32_t low, std::uint32_t high);

    using KeySet = std::set<KittyPlacementKey>;
    using CellTest = std::function<bool(const KittyPlacementImage&)>;
    using RecordTest = std::function<bool(const KittyPlacementRecord&)>;
    // Removes the Kitty cells passing the test from lines [first, end) of the buffer and
    // returns the placements they showed.
    KeySet removeKittyImageCells(Buffer& buffer, int first, int end, const CellTest& test);
    KeySet removeKittyPlacementRecords(const RecordTest& test);
    // Removes every cell of the given placements from both screens.
    KeySet removeKittyCellsOfKeys(const KeySet& keys);

    // Placeholder cells draw whatever their image and virtual placement are now, but no line
    // changes when those change: what changed is noted in the store, and once the output at
    // hand is fed the shown rows holding placeholders of the noted images are marked for
    // redraw, in one pass over the screen however many commands changed them.
    void notePlaceholderImageChanged(std::uint32_t imageId) { state_.placeholderChanges.note(imageId); }
    // For a stored image that came, went or changed: only a virtual placement shows it
    // through placeholder cells.
    void noteImageBehindPlaceholders(std::uint32_t imageId);
    void refreshKittyPlaceholderRows();

    // Screen upkeep: records follow their cells after a scroll, children follow their parents.
    void reanchorKittyPlacementsAfterScroll();
    // Drops every placement of one screen and frees the images nothing refers to any more.
    void dropKittyPlacementsOfScreen(Buffer& screen, bool isAlternate);

    static constexpr int kittyMaximumParentDepth = 64;

private:
    std::uint32_t takeImageIdForNumber();
    // The rest of a transmission once its payload is loaded (none: "EINVAL: bad payload").
    void storeTransmittedKittyImage(const KittyGraphicsControl& control, std::optional<KittyPayloadResult> loaded,
                                    bool alsoPut);
    bool placeVirtual(const KittyGraphicsControl& control, std::optional<std::uint32_t> imageId);
    std::pair<int, int> pixelOffsets(const KittyGraphicsControl& control);
    enum class DeletionLines : std::uint8_t { visible, active, both };
    void deleteMatching(DeletionLines lines, const CellTest& cellTest, const RecordTest& recordTest);
    void sendReply(const std::string& text);

    KittyGraphicsState& state_;
    KittyGraphicsHost& host_;
    std::size_t pendingLimit_;
};

} // namespace corvantix

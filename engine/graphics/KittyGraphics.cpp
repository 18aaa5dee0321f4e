#include "graphics/KittyGraphics.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvantix {

namespace {

constexpr std::string_view badPayload = "EINVAL: bad payload";
constexpr std::string_view parentNotFound = "ENOPARENT: parent placement not found";
constexpr std::string_view unsupportedTransmission = "ENOTSUP: unsupported transmission";

// The media that name a file or a shared-memory object of this computer.
bool isLocalKittyMedium(char transmission)
{
    return transmission == 'f' || transmission == 't' || transmission == 's';
}

int clampToInt(std::int64_t value)
{
    return static_cast<int>(
        std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// A cell count from a pixel length: at least 1, and never past what an int holds.
std::int64_t cellsFor(double pixels, int cellPixels)
{
    const double cells = std::ceil(pixels / cellPixels);
    if (!(cells >= 1.0))
        return 1;
    if (cells > 1e9)
        return 1'000'000'000;
    return static_cast<std::int64_t>(cells);
}

} // namespace

// ---------------------------------------------------------------- Commands and replies

void KittyGraphicsPending::append(std::span<const std::uint8_t> text)
{
    while (!text.empty()) {
        if (base64Blocks.empty() || base64Blocks.back().size() == base64Blocks.back().capacity()) {
            base64Blocks.emplace_back().reserve(kittyPendingBlockBytes);
        }
        std::vector<std::uint8_t>& block = base64Blocks.back();
        const std::size_t take = std::min(text.size(), block.capacity() - block.size());
        block.insert(block.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(take));
        text = text.subspan(take);
        base64Size += take;
    }
}

std::size_t KittyGraphicsPending::reservedBytes() const
{
    std::size_t total = 0;
    for (const auto& block : base64Blocks)
        total += block.capacity();
    return total;
}

std::vector<std::uint8_t> KittyGraphicsPending::takeText()
{
    std::vector<std::uint8_t> text;
    text.reserve(base64Size);
    for (auto& block : base64Blocks) {
        text.insert(text.end(), block.begin(), block.end());
        std::vector<std::uint8_t>().swap(block);
    }
    base64Blocks.clear();
    base64Size = 0;
    return text;
}

void KittyGraphics::handleKittyGraphicsCommand(std::span<const std::uint8_t> data)
{
    const KittyGraphicsCommand command = parseKittyGraphicsControl(data);
    const KittyGraphicsControl& control = command.control;
    if (control.action == 'd' || control.action == 'D')
        state_.pending.reset();

    if (control.more == 1) {
        if (!state_.pending)
            state_.pending = KittyGraphicsPending{control, {}, 0};
        KittyGraphicsPending& pending = *state_.pending;
        // A transmission that can never decode within the size cap is refused now rather
        // than after it has taken all that memory.
        if (pending.base64Size > pendingLimit_ || command.payload.size() > pendingLimit_ - pending.base64Size) {
            const KittyGraphicsControl first = pending.control;
            state_.pending.reset();
            sendKittyGraphicsError(first, badPayload);
            return;
        }
        pending.append(command.payload);
        return;
    }

    if (!state_.pending) {
        dispatchKittyGraphicsCommand(control, command.payload);
        return;
    }
    KittyGraphicsPending pending = std::move(*state_.pending);
    state_.pending.reset();
    if (pending.base64Size > pendingLimit_ || command.payload.size() > pendingLimit_ - pending.base64Size) {
        sendKittyGraphicsError(pending.control, badPayload);
        return;
    }
    pending.append(command.payload);
    const KittyGraphicsControl& first = pending.control;
    const bool direct = first.action == 'q' || ((first.action == 't' || first.action == 'T') && first.transmission == 'd');
    if (!direct) {
        const std::vector<std::uint8_t> text = pending.takeText();
        dispatchKittyGraphicsCommand(first, text);
        return;
    }
    // Decoded block by block, each freed once read: the text and the bytes together stay
    // within the text's size and one block.
    std::optional<std::vector<std::uint8_t>> decoded;
    if (pending.base64Size != 0) {
        KittyBase64Decoder decoder(pending.base64Size);
        for (std::vector<std::uint8_t>& block : pending.base64Blocks) {
            decoder.feed(block);
            std::vector<std::uint8_t>().swap(block);
        }
        decoded = decoder.finish();
    }
    std::optional<KittyGraphicsPayload> image;
    if (decoded)
        image = decodeKittyDirectBytes(first, std::move(*decoded));
    if (first.action == 'q') {
        if (image)
            sendKittyGraphicsOK(first, first.imageId, first.imageNumber, first.placementId);
        else
            sendKittyGraphicsError(first, badPayload);
        return;
    }
    if (first.imageId && first.imageNumber) {
        sendKittyGraphicsError(first, "EINVAL: i and I are mutually exclusive");
        return;
    }
    std::optional<KittyPayloadResult> loaded;
    if (image)
        loaded = KittyPayloadResult(std::move(*image));
    storeTransmittedKittyImage(first, std::move(loaded), first.action == 'T');
}

void KittyGraphics::dispatchKittyGraphicsCommand(const KittyGraphicsControl& control,
                                                 std::span<const std::uint8_t> payload)
{
    switch (control.action) {
    case 'q':
        // A query reads its payload as direct data whatever the medium says, and keeps nothing.
        if (decodeKittyDirectPayload(control, payload))
            sendKittyGraphicsOK(control, control.imageId, control.imageNumber, control.placementId);
        else
            sendKittyGraphicsError(control, badPayload);
        return;
    case 't': transmitKittyImage(control, payload, false); return;
    case 'T': transmitKittyImage(control, payload, true); return;
    case 'p': findKittyImageForPut(control); return;
    case 'd':
    case 'D': deleteKittyGraphics(control); return;
    default: sendKittyGraphicsError(control, "EINVAL: unsupported action"); return;
    }
}

void KittyGraphics::sendReply(const std::string& text)
{
    const bool eightBit = host_.sendsEightBitControls();
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() + 4);
    if (eightBit) {
        bytes.push_back(0x9F);
    } else {
        bytes.push_back(0x1B);
        bytes.push_back('_');
    }
    bytes.insert(bytes.end(), text.begin(), text.end());
    if (eightBit) {
        bytes.push_back(0x9C);
    } else {
        bytes.push_back(0x1B);
        bytes.push_back('\\');
    }
    host_.send(bytes);
}

void KittyGraphics::sendKittyGraphicsOK(const KittyGraphicsControl& control, std::optional<std::uint32_t> imageId,
                                        std::optional<std::uint32_t> imageNumber,
                                        std::optional<std::uint32_t> placementId)
{
    if (control.suppressResponses != 0)
        return;
    std::string keys;
    const auto add = [&keys](const char* name, std::optional<std::uint32_t> value) {
        if (!value)
            return;
        if (!keys.empty())
            keys += ',';
        keys += name;
        keys += std::to_string(*value);
    };
    add("i=", imageId);
    add("I=", imageNumber);
    add("p=", placementId);
    sendReply("G" + keys + ";OK");
}

void KittyGraphics::sendKittyGraphicsError(const KittyGraphicsControl& control, std::string_view message)
{
    if (control.suppressResponses != 0)
        return;
    std::string text = "G";
    if (control.imageId)
        text += "i=" + std::to_string(*control.imageId);
    else if (control.imageNumber)
        text += "I=" + std::to_string(*control.imageNumber);
    text += ';';
    text += message;
    sendReply(text);
}

// ---------------------------------------------------------------- The store

void KittyGraphics::transmitKittyImage(const KittyGraphicsControl& control, std::span<const std::uint8_t> payload,
                                       bool alsoPut)
{
    if (control.imageId && control.imageNumber) {
        sendKittyGraphicsError(control, "EINVAL: i and I are mutually exclusive");
        return;
    }
    // Checked before the payload is even decoded: every local path gets the same answer,
    // whether it exists or not.
    if (isLocalKittyMedium(control.transmission) && !host_.allowsLocalImageMedia()) {
        sendKittyGraphicsError(control, unsupportedTransmission);
        return;
    }
    storeTransmittedKittyImage(control, loadKittyPayload(control, payload), alsoPut);
}

void KittyGraphics::storeTransmittedKittyImage(const KittyGraphicsControl& control,
                                               std::optional<KittyPayloadResult> loaded, bool alsoPut)
{
    if (!loaded) {
        sendKittyGraphicsError(control, badPayload);
        return;
    }
    if (const auto* error = std::get_if<std::string>(&*loaded)) {
        sendKittyGraphicsError(control, *error);
        return;
    }
    KittyGraphicsPayload image = std::move(std::get<KittyGraphicsPayload>(*loaded));

    std::uint32_t id = 0;
    if (control.imageNumber) {
        id = takeImageIdForNumber();
    } else if (control.imageId) {
        id = *control.imageId;
    } else {
        // Without an id nothing can refer to the image again: it is shown, not kept, and
        // the program hears nothing of the put.
        if (alsoPut) {
            KittyGraphicsControl silent = control;
            silent.suppressResponses = 1;
            placeKittyImage(std::move(image), silent, std::nullopt, std::nullopt);
        }
        return;
    }

    if (!alsoPut) {
        storeKittyImage(std::move(image), id, control.imageNumber);
        sendKittyGraphicsOK(control, id, control.imageNumber, control.placementId);
        return;
    }
    storeKittyImage(image, id, control.imageNumber);
    if (placeKittyImage(std::move(image), control, id, control.imageNumber))
        sendKittyGraphicsOK(control, id, control.imageNumber, control.placementId);
}

// The next id for an image sent with a number only. Ids in use and 0 are passed over, so a
// number never overwrites an image stored under an explicit id.
std::uint32_t KittyGraphics::takeImageIdForNumber()
{
    std::uint32_t id = state_.nextImageId;
    while (id == 0 || state_.imagesById.contains(id))
        ++id; // the store holds far fewer than 2^32 images, so a free id comes
    state_.nextImageId = id + 1;
    return id;
}

void KittyGraphics::storeKittyImage(KittyGraphicsPayload payload, std::uint32_t imageId,
                                    std::optional<std::uint32_t> imageNumber)
{
    const std::uint64_t stamp = state_.nextImageAccessTick++;
    if (const auto old = state_.imagesById.find(imageId); old != state_.imagesById.end())
        state_.totalImageBytes = std::max<std::int64_t>(0, state_.totalImageBytes - old->second.byteSize);
    const std::int64_t size = payload.byteSize();
    state_.imagesById[imageId] = KittyGraphicsImage{std::move(payload), size, stamp, stamp};
    state_.totalImageBytes += size;
    noteImageBehindPlaceholders(imageId);
    if (imageNumber)
        state_.imageNumbers[*imageNumber] = imageId;
    evictKittyImages();
}

KittyGraphicsImage* KittyGraphics::touchKittyImage(std::uint32_t imageId)
{
    const auto found = state_.imagesById.find(imageId);
    if (found == state_.imagesById.end())
        return nullptr;
    found->second.lastAccessTick = state_.nextImageAccessTick++;
    return &found->second;
}

void KittyGraphics::findKittyImageForPut(const KittyGraphicsControl& control)
{
    if (control.imageNumber) {
        const auto number = state_.imageNumbers.find(*control.imageNumber);
        if (number != state_.imageNumbers.end()) {
            if (const KittyGraphicsImage* image = touchKittyImage(number->second)) {
                const std::uint32_t id = number->second;
                if (placeKittyImage(image->payload, control, id, control.imageNumber))
                    sendKittyGraphicsOK(control, id, control.imageNumber, control.placementId);
                return;
            }
        }
    }
    if (control.imageId) {
        if (const KittyGraphicsImage* image = touchKittyImage(*control.imageId)) {
            if (placeKittyImage(image->payload, control, *control.imageId, std::nullopt))
                sendKittyGraphicsOK(control, control.imageId, std::nullopt, control.placementId);
            return;
        }
    }
    sendKittyGraphicsError(control, "ENOENT: image not found");
}

void KittyGraphics::evictKittyImages()
{
    const std::int64_t limit = std::clamp<std::int64_t>(host_.imageCacheLimitBytes(), 0, std::int64_t{1} << 32);
    if (state_.totalImageBytes <= limit)
        return;
    const std::set<std::uint32_t> inUse = kittyImagesInUse();

    for (const bool includeUsed : {false, true}) {
        std::vector<std::pair<std::uint64_t, std::uint32_t>> order;
        for (const auto& [id, image] : state_.imagesById) {
            if (includeUsed || !inUse.contains(id))
                order.emplace_back(image.lastAccessTick, id);
        }
        std::ranges::stable_sort(order, {}, &std::pair<std::uint64_t, std::uint32_t>::first);
        for (const auto& [tick, id] : order) {
            discardKittyImage(id);
            if (state_.totalImageBytes <= limit)
                return;
        }
    }
}

// ---------------------------------------------------------------- Placement

std::pair<int, int> KittyGraphics::pixelOffsets(const KittyGraphicsControl& control)
{
    if (control.pixelOffsetX < 1 && control.pixelOffsetY < 1)
        return {0, 0};
    int x = std::max(control.pixelOffsetX, 0);
    int y = std::max(control.pixelOffsetY, 0);
    if (const auto cell = host_.cellSizeInPixels()) {
        x = std::min(x, std::max(cell->width - 1, 0));
        y = std::min(y, std::max(cell->height - 1, 0));
    }
    return {x, y};
}

bool KittyGraphics::placeVirtual(const KittyGraphicsControl& control, std::optional<std::uint32_t> imageId)
{
    if (control.parentImageId || control.parentPlacementId) {
        sendKittyGraphicsError(control, "EINVAL: virtual placement cannot refer to parent");
        return false;
    }
    if (!imageId)
        return true;
    std::uint32_t placementId = 0;
    if (control.placementId) {
        placementId = *control.placementId;
    } else {
        placementId = state_.nextPlacementId == 0 ? 1 : state_.nextPlacementId;
        state_.nextPlacementId = placementId + 1;
    }
    removeKittyPlacement(*imageId, placementId);
    const auto [offsetX, offsetY] = pixelOffsets(control);
    KittyPlacementRecord record;
    record.imageId = *imageId;
    record.placementId = placementId;
    record.pixelOffsetX = offsetX;
    record.pixelOffsetY = offsetY;
    record.col = host_.cursorX();
    record.row = clampToInt(std::int64_t{host_.cursorY()} + host_.yBase());
    record.cols = control.columns;
    record.rows = control.rows;
    record.zIndex = control.zIndex;
    record.isVirtual = true;
    record.isAlternateBuffer = host_.alternateScreenActive();
    state_.placementsByKey[{*imageId, placementId}] = record;
    notePlaceholderImageChanged(*imageId);
    return true;
}

bool KittyGraphics::placeKittyImage(KittyGraphicsPayload payload, const KittyGraphicsControl& control,
                                    std::optional<std::uint32_t> imageId, std::optional<std::uint32_t> imageNumber)
{
    if (control.unicodePlaceholder == 1)
        return placeVirtual(control, imageId);

    const ImageSizeRequest widthRequest =
        control.columns > 0 ? ImageSizeRequest::cells(control.columns) : ImageSizeRequest::automatic();
    const ImageSizeRequest heightRequest =
        control.rows > 0 ? ImageSizeRequest::cells(control.rows) : ImageSizeRequest::automatic();
    const bool preserveAspectRatio = control.columns == 0 || control.rows == 0;

    const KittyParentResult parent = resolveKittyParent(control);
    if (const auto* error = std::get_if<std::string>(&parent)) {
        sendKittyGraphicsError(control, *error);
        return false;
    }

    // Raw pixels come with straight alpha; the image maker takes premultiplied pixels, as a
    // decoded PNG already is. Each is converted once, on this copy of the stored payload.
    bool premultiplied = false;
    if (control.cropX != 0 || control.cropY != 0 || control.cropWidth != 0 || control.cropHeight != 0) {
        if (payload.kind == KittyGraphicsPayload::Kind::png) {
            auto decoded = decodePngPremultiplied(payload.bytes, kittyMaximumImageSide);
            if (!decoded) {
                sendKittyGraphicsError(control, "ENOTSUP: cannot crop png");
                return false;
            }
            payload.kind = KittyGraphicsPayload::Kind::rgba;
            premultiplied = true;
            payload.bytes = std::move(decoded->bytes);
            payload.width = decoded->width;
            payload.height = decoded->height;
        }
        const int width = payload.width;
        const int height = payload.height;
        const int x0 = std::clamp(control.cropX, 0, width);
        const int y0 = std::clamp(control.cropY, 0, height);
        const int widthLeft = width - x0;
        const int heightLeft = height - y0;
        const int cropWidth = control.cropWidth >= 1 && control.cropWidth <= widthLeft ? control.cropWidth : widthLeft;
        const int cropHeight =
            control.cropHeight >= 1 && control.cropHeight <= heightLeft ? control.cropHeight : heightLeft;
        if (!(x0 == 0 && y0 == 0 && cropWidth == width && cropHeight == height)) {
            if (cropWidth < 1 || cropHeight < 1) {
                sendKittyGraphicsError(control, "EINVAL: bad crop");
                return false;
            }
            std::vector<std::uint8_t> cropped(static_cast<std::size_t>(cropWidth) * cropHeight * 4);
            const std::size_t rowBytes = static_cast<std::size_t>(cropWidth) * 4;
            for (int i = 0; i < cropHeight; ++i) {
                const std::size_t from = (static_cast<std::size_t>(y0 + i) * width + x0) * 4;
                std::copy_n(payload.bytes.begin() + static_cast<std::ptrdiff_t>(from), rowBytes,
                            cropped.begin() + static_cast<std::ptrdiff_t>(rowBytes * i));
            }
            payload.bytes = std::move(cropped);
            payload.width = cropWidth;
            payload.height = cropHeight;
        }
    }

    const auto [offsetX, offsetY] = pixelOffsets(control);
    KittyPlacementContext context;
    context.imageId = imageId ? imageId : control.imageId;
    context.imageNumber = imageNumber ? imageNumber : control.imageNumber;
    context.placementId = control.placementId;
    context.parentImageId = control.parentImageId;
    context.parentPlacementId = control.parentPlacementId;
    context.parentOffsetH = control.offsetH;
    context.parentOffsetV = control.offsetV;
    context.zIndex = control.zIndex;
    context.widthRequest = widthRequest;
    context.heightRequest = heightRequest;
    context.preserveAspectRatio = preserveAspectRatio;
    context.cursorPolicy = control.cursorPolicy;
    context.isRelative = control.parentImageId.has_value() && control.parentPlacementId.has_value();
    context.pixelOffsetX = offsetX;
    context.pixelOffsetY = offsetY;
    const std::optional<KittyPlacementContext> previous = host_.placementContext();
    host_.placementContext() = context;

    const int savedX = host_.cursorX();
    const int savedY = host_.cursorY();
    if (imageId && control.placementId)
        removeKittyPlacement(*imageId, *control.placementId);

    if (const auto* position = std::get_if<KittyCellPosition>(&parent)) {
        // The origin must lie on the screen: the image maker attaches from the cursor's line.
        const std::int64_t y = std::int64_t{position->row} - host_.yBase();
        if (y < 0 || y >= host_.rows()) {
            sendKittyGraphicsError(control, "EINVAL: placement out of range");
            host_.placementContext() = previous;
            return false;
        }
        host_.setCursorY(static_cast<int>(y));
        host_.setCursorX(std::clamp(position->col, 0, std::max(host_.cols() - 1, 0)));
    }

    const int col0 = host_.cursorX();
    const std::int64_t row0 = std::int64_t{host_.cursorY()} + host_.yBase();
    const int pixelWidth = payload.width;
    const int pixelHeight = payload.height;
    if (payload.kind == KittyGraphicsPayload::Kind::rgba) {
        if (!premultiplied)
            premultiplyRgba(payload.bytes);
        host_.createImageFromBitmap(payload.bytes, payload.width, payload.height);
    } else {
        host_.createImage(payload.bytes, widthRequest, heightRequest, preserveAspectRatio);
    }

    if (context.isRelative || control.cursorPolicy == 1) {
        if (savedX >= 0)
            host_.setCursorX(savedX);
        if (savedY >= 0)
            host_.setCursorY(savedY);
        host_.placementContext() = previous;
        return true;
    }

    const std::optional<PixelSize> cell = host_.cellSizeInPixels();
    std::int64_t cols = 0;
    std::int64_t rows = 0;
    bool known = false;
    if (control.columns >= 1 && control.rows >= 1) {
        cols = control.columns;
        rows = control.rows;
        known = true;
    } else if (cell && cell->width >= 1 && cell->height >= 1 && pixelWidth >= 1 && pixelHeight >= 1) {
        double widthPixels = control.columns > 0 ? double(control.columns) * cell->width : double(pixelWidth);
        double heightPixels = control.rows > 0 ? double(control.rows) * cell->height : double(pixelHeight);
        if (preserveAspectRatio) {
            const double ratio = double(pixelWidth) / pixelHeight;
            if (control.columns < 1 && control.rows > 0)
                widthPixels = ratio * heightPixels;
            if (control.columns > 0)
                heightPixels = widthPixels / ratio;
        }
        cols = cellsFor(widthPixels + offsetX, cell->width);
        rows = cellsFor(heightPixels + offsetY, cell->height);
        known = true;
    }
    if (known) {
        const std::int64_t base = host_.yBase();
        if (cell) {
            if (col0 + cols >= 0)
                host_.setCursorX(clampToInt(col0 + cols));
            if (row0 + rows - base >= 0)
                host_.setCursorY(clampToInt(row0 + rows - base));
        } else {
            host_.setCursorX(col0);
            host_.setCursorY(clampToInt(row0 - base));
            // Past the whole ring every further line feed leaves the same screen.
            const std::int64_t feeds = std::min<std::int64_t>(rows, host_.maximumLineCount());
            for (std::int64_t i = 0; i < feeds; ++i)
                host_.index();
            host_.setCursorX(clampToInt(col0 + cols));
        }
        host_.restrictCursor();
    }
    host_.placementContext() = previous;
    return true;
}

void KittyGraphics::removeKittyPlacement(std::uint32_t imageId, std::uint32_t placementId)
{
    const KittyPlacementKey exact{imageId, placementId};
    const CellTest sameKey = [&exact](const KittyPlacementImage& cell) { return kittyPlacementKey(cell) == exact; };
    KeySet removed = removeKittyImageCells(host_.normalScreen(), 0, host_.normalScreen().lines().count(), sameKey);
    removed.merge(removeKittyImageCells(host_.alternateScreen(), 0, host_.alternateScreen().lines().count(), sameKey));
    removed.insert(exact);
    for (const KittyPlacementKey& key : removed) {
        const auto found = state_.placementsByKey.find(key);
        if (found == state_.placementsByKey.end())
            continue;
        if (found->second.isVirtual)
            notePlaceholderImageChanged(key.imageId);
        state_.placementsByKey.erase(found);
    }
}

KittyParentResult KittyGraphics::resolveKittyParent(const KittyGraphicsControl& control)
{
    if (!control.parentImageId || !control.parentPlacementId)
        return std::monostate{};
    const KittyPlacementKey key{*control.parentImageId, *control.parentPlacementId};
    const auto found = state_.placementsByKey.find(key);
    if (found == state_.placementsByKey.end())
        return std::string(parentNotFound);
    if (found->second.isAlternateBuffer != host_.alternateScreenActive())
        return std::string("ENOPARENT: parent placement not in current buffer");
    const KittyCellPositions cells = kittyCellPositions(host_.activeScreen());
    KittyCellPositions memo;
    const auto position = resolveKittyPlacementPosition(key, cells, memo);
    if (!position)
        return std::string(parentNotFound);
    return KittyCellPosition{clampToInt(std::int64_t{position->row} + control.offsetV),
                             clampToInt(std::int64_t{position->col} + control.offsetH)};
}

std::optional<KittyCellPosition> KittyGraphics::resolveKittyPlacementPosition(const KittyPlacementKey& key,
                                                                             const KittyCellPositions& cells,
                                                                             KittyCellPositions& memo)
{
    // Walk up to a placement whose position is known without a parent, then come back down.
    // The chain itself is the set of placements being visited: meeting one again is a loop.
    std::vector<KittyPlacementKey> chain;
    std::optional<KittyCellPosition> position;
    KittyPlacementKey current = key;
    const bool alternate = host_.alternateScreenActive();
    for (;;) {
        if (const auto known = memo.find(current); known != memo.end()) {
            position = known->second;
            break;
        }
        const auto found = state_.placementsByKey.find(current);
        if (found == state_.placementsByKey.end() || found->second.isAlternateBuffer != alternate
            || std::ranges::find(chain, current) != chain.end()
            || chain.size() > static_cast<std::size_t>(kittyMaximumParentDepth))
            return std::nullopt;
        chain.push_back(current);
        const KittyPlacementRecord& record = found->second;
        if (record.parentImageId && record.parentPlacementId) {
            current = {*record.parentImageId, *record.parentPlacementId};
            continue;
        }
        KittyCellPosition own{record.row, record.col};
        if (!record.isVirtual) {
            if (const auto onCells = cells.find(current); onCells != cells.end())
                own = onCells->second;
        }
        memo[current] = own;
        chain.pop_back();
        position = own;
        break;
    }
    // Each placement left on the chain stands at its parent's position plus its offsets.
    while (!chain.empty()) {
        const KittyPlacementRecord& record = state_.placementsByKey.at(chain.back());
        position = KittyCellPosition{clampToInt(std::int64_t{position->row} + record.parentOffsetV),
                                     clampToInt(std::int64_t{position->col} + record.parentOffsetH)};
        memo[chain.back()] = *position;
        chain.pop_back();
    }
    return position;
}

} // namespace corvantix

// What one GPU frame draws: the vertex records the programs read (their byte layout is
// fixed), the per-row and per-frame containers that carry them to the frame encoder, the
// GPU objects they live in (abstract here, OpenGL in qt/), and the row cache that lets an
// unchanged row be drawn again without building it.
//
// Geometry is in drawable pixels, origin at the lower left, y growing upwards.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "model/BufferLine.h"
#include "view/MetalHooks.h"
#include "view/TerminalViewTypes.h"

namespace corvantix {

using MetalFloat2 = std::array<float, 2>;
using MetalFloat4 = std::array<float, 4>; // red, green, blue, alpha, 0..1

// One textured rectangle of the cell-text programs.
struct alignas(16) TextCell {
    MetalFloat2 position;  // lower-left corner
    MetalFloat2 size;
    MetalFloat2 texOrigin; // normalised atlas coordinates of the corner at `position`
    MetalFloat2 texSize;   // normalised
    MetalFloat4 color;
};

// One solid rectangle of the cell-colour program.
struct alignas(16) ColorCell {
    MetalFloat2 position;
    MetalFloat2 size;
    MetalFloat4 color;
};

// One vertex of a textured triangle (images, the cursor's glyph).
struct alignas(16) GlyphVertex {
    MetalFloat2 position;
    MetalFloat2 texCoord;
    MetalFloat4 color;
};

// One vertex of a solid triangle (the cursor's shape).
struct alignas(16) ColorVertex {
    MetalFloat2 position;
    MetalFloat2 padding{};
    MetalFloat4 color;
};

static_assert(sizeof(TextCell) == 48 && offsetof(TextCell, size) == 8 && offsetof(TextCell, texOrigin) == 16
              && offsetof(TextCell, texSize) == 24 && offsetof(TextCell, color) == 32);
static_assert(sizeof(ColorCell) == 32 && offsetof(ColorCell, size) == 8 && offsetof(ColorCell, color) == 16);
static_assert(sizeof(GlyphVertex) == 32 && offsetof(GlyphVertex, texCoord) == 8 && offsetof(GlyphVertex, color) == 16);
static_assert(sizeof(ColorVertex) == 32 && offsetof(ColorVertex, color) == 16);

// A rectangle in drawable pixels, normalised (min <= max).
struct MetalRect {
    float minX = 0;
    float minY = 0;
    float maxX = 0;
    float maxY = 0;

    float width() const { return maxX - minX; }
    float height() const { return maxY - minY; }
    bool hasArea() const { return maxX > minX && maxY > minY; }
    friend bool operator==(const MetalRect&, const MetalRect&) = default;
};

// A rectangle of normalised texture coordinates: its corner and its size.
struct MetalTexRect {
    float x = 0;
    float y = 0;
    float width = 1;
    float height = 1;
    friend bool operator==(const MetalTexRect&, const MetalTexRect&) = default;
};

// A rectangle as six vertices, two triangles, in the corner order the programs expect:
// (minX, minY), (maxX, minY), (minX, maxY), (maxX, minY), (maxX, maxY), (minX, maxY).
void appendRectangleVertices(std::vector<GlyphVertex>& vertices, const MetalRect& rect, const MetalTexRect& texture,
                             const MetalFloat4& color);
void appendRectangleVertices(std::vector<ColorVertex>& vertices, const MetalRect& rect, const MetalFloat4& color);

// A texture on the GPU (an inline image); the backend's subclass owns the GPU object.
class MetalTexture {
public:
    virtual ~MetalTexture() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
};

// A block of GPU memory holding vertex records; the backend's subclass owns the GPU object.
class MetalBuffer {
public:
    virtual ~MetalBuffer() = default;
    virtual std::size_t length() const = 0;
    // Copies `bytes` to the start of the buffer (at most its length).
    virtual void replaceContents(std::span<const std::byte> bytes) = 0;
};

// Makes buffers; none when the GPU cannot give one (that list is then not drawn).
class MetalBufferDevice {
public:
    virtual ~MetalBufferDevice() = default;
    virtual std::shared_ptr<MetalBuffer> newBuffer(std::size_t length) = 0;
};

// A new buffer holding exactly `records`; none for an empty list or when the device has none.
template <typename Record>
std::shared_ptr<MetalBuffer> newBufferWithRecords(MetalBufferDevice& device, std::span<const Record> records)
{
    if (records.empty())
        return nullptr;
    auto buffer = device.newBuffer(records.size_bytes());
    if (buffer)
        buffer->replaceContents(std::as_bytes(records));
    return buffer;
}

// One inline image's quads: six vertices each.
struct ImageDraw {
    std::shared_ptr<MetalTexture> texture;
    std::vector<GlyphVertex> vertices;
};

// The records of one screen row, in the order of their lists (not the order they are drawn).
struct RowDrawData {
    std::vector<ColorCell> backgroundCells;
    std::vector<ColorCell> powerlineJoinCells;
    std::vector<TextCell> glyphCellsGray;  // from the single-channel atlas
    std::vector<TextCell> glyphCellsColor; // from the colour atlas
    std::vector<ColorCell> decorationCells; // underlines and strike-throughs
    std::vector<ImageDraw> underImageDraws;
    std::vector<ImageDraw> placeholderImageDraws;
    std::vector<ImageDraw> overImageDraws;
    std::vector<ImageDraw> otherImageDraws;
};

// Every visible row's records one after another (the aggregated buffering mode).
struct FrameDrawData : RowDrawData {
    void append(const RowDrawData& row);
};

struct ImageDrawBuffer {
    std::shared_ptr<MetalTexture> texture;
    std::shared_ptr<MetalBuffer> buffer;
    int vertexCount = 0;
};

// One row's records in GPU buffers. A count is the number of records in its buffer; an
// empty list has no buffer and count 0.
struct RowDrawBuffers {
    std::shared_ptr<MetalBuffer> backgroundBuffer;
    int backgroundCount = 0;
    std::shared_ptr<MetalBuffer> powerlineJoinBuffer;
    int powerlineJoinCount = 0;
    std::shared_ptr<MetalBuffer> glyphGrayBuffer;
    int glyphGrayCount = 0;
    std::shared_ptr<MetalBuffer> glyphColorBuffer;
    int glyphColorCount = 0;
    std::shared_ptr<MetalBuffer> decorationBuffer;
    int decorationCount = 0;
    std::vector<ImageDrawBuffer> underImageBuffers;
    std::vector<ImageDrawBuffer> placeholderImageBuffers;
    std::vector<ImageDrawBuffer> overImageBuffers;
    std::vector<ImageDrawBuffer> otherImageBuffers;
};

// The result of one build: per-row buffers (per-row mode) or one frame of records
// (aggregated mode), and the cursor, which is never cached.
struct DrawData {
    std::vector<RowDrawBuffers> rows; // visible rows, top to bottom; empty in the aggregated mode
    std::optional<FrameDrawData> frame;
    std::vector<ColorVertex> cursorColorVertices;
    std::vector<GlyphVertex> cursorGlyphVerticesGray;
    std::vector<GlyphVertex> cursorGlyphVerticesColor;
};

// One buffer of vertexCount x 32 bytes per image draw that has vertices.
std::vector<ImageDrawBuffer> makeImageDrawBuffers(std::span<const ImageDraw> draws, MetalBufferDevice& device);

// A row's records put into new buffers; a list the device has no buffer for keeps count 0.
RowDrawBuffers makeRowDrawBuffers(const RowDrawData& data, MetalBufferDevice& device);

// What of the inline image store changes how every row is drawn.
struct KittyCacheStamp {
    std::int64_t imagesCount = 0;
    std::int64_t placementsCount = 0;
    std::uint32_t nextImageId = 0;
    std::uint32_t nextPlacementId = 0;
    // The newest store stamp of any stored image: an image re-sent under its id (counts and
    // counters unchanged) must not keep showing its old texture from cached rows.
    std::uint64_t latestStoreStamp = 0;
    friend bool operator==(const KittyCacheStamp&, const KittyCacheStamp&) = default;
};

// Everything outside a row that changes how every row is drawn; any difference throws the
// whole row cache away.
struct CacheSignature {
    double scale = 1;
    double cellWidth = 0; // points
    double cellHeight = 0;
    double viewWidth = 0; // points
    double viewHeight = 0;
    int yDisp = 0;
    int rows = 0;
    int cols = 0;
    std::string fontName;
    double fontSize = 0;
    bool isAltBuffer = false;
    KittyCacheStamp kittyStamp;
    BidiHostPolicy bidiHostPolicy = BidiHostPolicy::respectTerminal;
    bool fontSmoothing = true; // the glyphs' hinting
    friend bool operator==(const CacheSignature&, const CacheSignature&) = default;
};

struct RowCacheEntry {
    std::shared_ptr<const BufferLine> lineRef; // identity, not content, decides reuse
    std::uint64_t generation = 0;
    std::uint64_t bidiParagraphRevision = 0;
    std::optional<RowDrawData> data;
    std::optional<RowDrawBuffers> buffers;
};

// What one draw-data build reads of the view, the terminal and the renderer.
struct DrawDataBuildInput {
    CacheSignature signature;
    MetalBufferingMode bufferingMode = MetalBufferingMode::perRowPersistent;
    int lineCount = 0; // lines of the shown buffer
    // Takes the absolute lines the view reported changed (first, last) and clears them in
    // the view. Called only by a build that gets as far as the rows, so a build that ends
    // early leaves the report for the next one.
    std::function<std::optional<std::pair<int, int>>()> takeDirtyRange;
    // The line at an absolute index (an empty ring slot is filled with a new line first).
    std::function<std::shared_ptr<const BufferLine>(int line)> lineAt;
    std::function<std::uint64_t(int line)> paragraphRevision;
    // Builds one row's records (the line index; the first visible line).
    std::function<RowDrawData(int line, int firstVisibleLine)> buildRow;
    // Fills the cursor lists of the result (first and last visible line).
    std::function<void(DrawData& data, int firstVisibleLine, int lastVisibleLine)> buildCursor;
};

// The rows' records kept from one frame to the next, and the build that reuses them.
class MetalRowCache {
public:
    // One frame's draw data; makes the per-row buffers through `device`.
    DrawData buildDrawData(const DrawDataBuildInput& input, MetalBufferDevice& device);
    // Forgets every row (after an atlas changed under the rows' texture coordinates).
    void clear() { rowCache_.clear(); }
    std::size_t size() const { return rowCache_.size(); }
    const std::map<int, RowCacheEntry>& entries() const { return rowCache_; }
    // Rows built by the last build (a reused row is not counted).
    int rowsBuiltLastBuild() const { return rowsBuiltLastBuild_; }
    // Rows built since the cache was made: a frame drawn in between (a grab draws one too)
    // cannot hide what a change rebuilt.
    long rowsBuiltInAll() const { return rowsBuiltInAll_; }

private:
    std::map<int, RowCacheEntry> rowCache_; // by absolute line index
    std::optional<MetalBufferingMode> cacheBufferingMode_;
    std::optional<CacheSignature> cacheSignature_;
    int rowsBuiltLastBuild_ = 0;
    long rowsBuiltInAll_ = 0;
};

} // namespace corvantix

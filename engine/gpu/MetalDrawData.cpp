#include "gpu/MetalDrawData.h"

#include <algorithm>

namespace corvantix {

void appendRectangleVertices(std::vector<GlyphVertex>& vertices, const MetalRect& rect, const MetalTexRect& texture,
                             const MetalFloat4& color)
{
    const float u0 = texture.x;
    const float v0 = texture.y;
    const float u1 = texture.x + texture.width;
    const float v1 = texture.y + texture.height;
    vertices.push_back({{rect.minX, rect.minY}, {u0, v0}, color});
    vertices.push_back({{rect.maxX, rect.minY}, {u1, v0}, color});
    vertices.push_back({{rect.minX, rect.maxY}, {u0, v1}, color});
    vertices.push_back({{rect.maxX, rect.minY}, {u1, v0}, color});
    vertices.push_back({{rect.maxX, rect.maxY}, {u1, v1}, color});
    vertices.push_back({{rect.minX, rect.maxY}, {u0, v1}, color});
}

void appendRectangleVertices(std::vector<ColorVertex>& vertices, const MetalRect& rect, const MetalFloat4& color)
{
    vertices.push_back({{rect.minX, rect.minY}, {}, color});
    vertices.push_back({{rect.maxX, rect.minY}, {}, color});
    vertices.push_back({{rect.minX, rect.maxY}, {}, color});
    vertices.push_back({{rect.maxX, rect.minY}, {}, color});
    vertices.push_back({{rect.maxX, rect.maxY}, {}, color});
    vertices.push_back({{rect.minX, rect.maxY}, {}, color});
}

namespace {
template <typename T>
void appendAll(std::vector<T>& to, const std::vector<T>& from)
{
    to.insert(to.end(), from.begin(), from.end());
}
} // namespace

void FrameDrawData::append(const RowDrawData& row)
{
    appendAll(backgroundCells, row.backgroundCells);
    appendAll(powerlineJoinCells, row.powerlineJoinCells);
    appendAll(glyphCellsGray, row.glyphCellsGray);
    appendAll(glyphCellsColor, row.glyphCellsColor);
    appendAll(decorationCells, row.decorationCells);
    appendAll(underImageDraws, row.underImageDraws);
    appendAll(placeholderImageDraws, row.placeholderImageDraws);
    appendAll(overImageDraws, row.overImageDraws);
    appendAll(otherImageDraws, row.otherImageDraws);
}

std::vector<ImageDrawBuffer> makeImageDrawBuffers(std::span<const ImageDraw> draws, MetalBufferDevice& device)
{
    std::vector<ImageDrawBuffer> buffers;
    for (const ImageDraw& draw : draws) {
        if (draw.vertices.empty())
            continue;
        auto buffer = newBufferWithRecords(device, std::span<const GlyphVertex>(draw.vertices));
        if (!buffer)
            continue;
        buffers.push_back({draw.texture, std::move(buffer), static_cast<int>(draw.vertices.size())});
    }
    return buffers;
}

namespace {
template <typename Record>
void putInBuffer(const std::vector<Record>& records, MetalBufferDevice& device, std::shared_ptr<MetalBuffer>& buffer,
                 int& count)
{
    buffer = newBufferWithRecords(device, std::span<const Record>(records));
    count = buffer ? static_cast<int>(records.size()) : 0;
}
} // namespace

RowDrawBuffers makeRowDrawBuffers(const RowDrawData& data, MetalBufferDevice& device)
{
    RowDrawBuffers buffers;
    putInBuffer(data.backgroundCells, device, buffers.backgroundBuffer, buffers.backgroundCount);
    putInBuffer(data.powerlineJoinCells, device, buffers.powerlineJoinBuffer, buffers.powerlineJoinCount);
    putInBuffer(data.glyphCellsGray, device, buffers.glyphGrayBuffer, buffers.glyphGrayCount);
    putInBuffer(data.glyphCellsColor, device, buffers.glyphColorBuffer, buffers.glyphColorCount);
    putInBuffer(data.decorationCells, device, buffers.decorationBuffer, buffers.decorationCount);
    buffers.underImageBuffers = makeImageDrawBuffers(data.underImageDraws, device);
    buffers.placeholderImageBuffers = makeImageDrawBuffers(data.placeholderImageDraws, device);
    buffers.overImageBuffers = makeImageDrawBuffers(data.overImageDraws, device);
    buffers.otherImageBuffers = makeImageDrawBuffers(data.otherImageDraws, device);
    return buffers;
}

namespace {
std::size_t drawnImageCount(const std::vector<ImageDraw>& draws)
{
    return static_cast<std::size_t>(
        std::count_if(draws.begin(), draws.end(), [](const ImageDraw& draw) { return !draw.vertices.empty(); }));
}

bool holdsEveryList(const RowDrawBuffers& buffers, const RowDrawData& data)
{
    return static_cast<std::size_t>(buffers.backgroundCount) == data.backgroundCells.size()
           && static_cast<std::size_t>(buffers.powerlineJoinCount) == data.powerlineJoinCells.size()
           && static_cast<std::size_t>(buffers.glyphGrayCount) == data.glyphCellsGray.size()
           && static_cast<std::size_t>(buffers.glyphColorCount) == data.glyphCellsColor.size()
           && static_cast<std::size_t>(buffers.decorationCount) == data.decorationCells.size()
           && buffers.underImageBuffers.size() == drawnImageCount(data.underImageDraws)
           && buffers.placeholderImageBuffers.size() == drawnImageCount(data.placeholderImageDraws)
           && buffers.overImageBuffers.size() == drawnImageCount(data.overImageDraws)
           && buffers.otherImageBuffers.size() == drawnImageCount(data.otherImageDraws);
}
} // namespace

DrawData MetalRowCache::buildDrawData(const DrawDataBuildInput& input, MetalBufferDevice& device)
{
    rowsBuiltLastBuild_ = 0;
    DrawData result;

    // The visible lines; 64-bit so that a huge yDisp or row count cannot wrap.
    const CacheSignature& signature = input.signature;
    const std::int64_t first = signature.yDisp;
    const std::int64_t last = std::min<std::int64_t>(first + signature.rows - 1, std::int64_t{input.lineCount} - 1);
    if (input.lineCount < 1 || first < 0 || last < first)
        return result;
    const int firstLine = static_cast<int>(first);
    const int lastLine = static_cast<int>(last);

    // Entering the aggregated mode: rows keep their records; their buffers would only take
    // GPU memory, since the frame concatenates the records instead. Entering the per-row mode
    // makes buffers lazily, as rows are drawn.
    const MetalBufferingMode mode = input.bufferingMode;
    if (cacheBufferingMode_ != mode) {
        if (mode == MetalBufferingMode::perFrameAggregated) {
            for (auto& [line, entry] : rowCache_)
                entry.buffers.reset();
        }
        cacheBufferingMode_ = mode;
    }

    const bool signatureChanged = cacheSignature_ != signature;
    if (signatureChanged) {
        rowCache_.clear();
        cacheSignature_ = signature;
    }
    std::erase_if(rowCache_, [&](const auto& entry) { return entry.first < firstLine || entry.first > lastLine; });

    // Rows the view reported changed are rebuilt even when their line looks the same; a new
    // signature or an empty cache rebuilds everything anyway.
    std::optional<std::pair<int, int>> dirty = input.takeDirtyRange ? input.takeDirtyRange() : std::nullopt;
    bool forceAll = false;
    std::optional<std::pair<int, int>> forced;
    if (!signatureChanged && !rowCache_.empty()) {
        if (dirty) {
            const int lower = std::max(dirty->first, firstLine);
            const int upper = std::min(dirty->second, lastLine);
            if (lower <= upper)
                forced = std::pair(lower, upper);
        }
    } else {
        forceAll = true;
    }

    const bool aggregated = mode == MetalBufferingMode::perFrameAggregated;
    if (aggregated)
        result.frame.emplace();
    for (int i = firstLine; i <= lastLine; ++i) {
        std::shared_ptr<const BufferLine> line = input.lineAt ? input.lineAt(i) : nullptr;
        if (!line) {
            // Nothing to draw; the row keeps its place among the rows.
            rowCache_.erase(i);
            if (!aggregated)
                result.rows.emplace_back();
            continue;
        }
        const std::uint64_t generation = line->generation();
        const std::uint64_t revision = input.paragraphRevision ? input.paragraphRevision(i) : 0;

        RowCacheEntry* entry = nullptr;
        if (auto found = rowCache_.find(i); found != rowCache_.end()) {
            const RowCacheEntry& cached = found->second;
            const bool reusable = cached.lineRef == line && cached.generation == generation
                                  && cached.bidiParagraphRevision == revision;
            const bool isForced = forceAll || (forced && i >= forced->first && i <= forced->second);
            if (reusable && !isForced && cached.data)
                entry = &found->second;
        }
        if (entry == nullptr) {
            RowCacheEntry fresh;
            fresh.lineRef = line;
            fresh.generation = generation;
            fresh.bidiParagraphRevision = revision;
            fresh.data = input.buildRow ? input.buildRow(i, firstLine) : RowDrawData{};
            entry = &(rowCache_[i] = std::move(fresh));
            ++rowsBuiltLastBuild_;
            ++rowsBuiltInAll_;
        }

        if (aggregated) {
            result.frame->append(*entry->data);
        } else if (entry->buffers) {
            result.rows.push_back(*entry->buffers);
        } else {
            RowDrawBuffers buffers = makeRowDrawBuffers(*entry->data, device);
            // A list the device had no buffer for is missing from this frame only: buffers
            // are kept once they hold everything, so a later frame tries again.
            if (holdsEveryList(buffers, *entry->data))
                entry->buffers = buffers;
            result.rows.push_back(std::move(buffers));
        }
    }

    if (input.buildCursor)
        input.buildCursor(result, firstLine, lastLine);
    return result;
}

} // namespace corvantix

#include "gpu/MetalDrawData.h"

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

DrawData MetalRowCache::buildDrawData(const DrawDataBuildInput& input, MetalBufferDevice& device)
{
    // Built by the row cache's own change.
    (void)input;
    (void)device;
    rowsBuiltLastBuild_ = 0;
    return {};
}

} // namespace corvantix

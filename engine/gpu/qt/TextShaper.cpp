#include "gpu/qt/TextShaper.h"

#include <hb.h>

#include <memory>

namespace corvantix {

namespace {

// Hands HarfBuzz the font's tables as it asks for them.
hb_blob_t* fontTable(hb_face_t*, hb_tag_t tag, void* userData)
{
    const auto* font = static_cast<const QRawFont*>(userData);
    const char name[5] = {static_cast<char>(tag >> 24), static_cast<char>(tag >> 16), static_cast<char>(tag >> 8),
                          static_cast<char>(tag), 0};
    auto* data = new QByteArray(font->fontTable(name));
    if (data->isEmpty()) {
        delete data;
        return nullptr;
    }
    return hb_blob_create(data->constData(), static_cast<unsigned>(data->size()), HB_MEMORY_MODE_READONLY, data,
                          [](void* owned) { delete static_cast<QByteArray*>(owned); });
}

struct HbDeleter {
    void operator()(hb_face_t* face) const { hb_face_destroy(face); }
    void operator()(hb_font_t* font) const { hb_font_destroy(font); }
    void operator()(hb_buffer_t* buffer) const { hb_buffer_destroy(buffer); }
};

} // namespace

std::optional<ShaperRun> shapeTextRun(const QString& text, const QRawFont& font)
{
    if (text.isEmpty() || !font.isValid())
        return std::nullopt;
    std::unique_ptr<hb_face_t, HbDeleter> face(
        hb_face_create_for_tables(fontTable, new QRawFont(font), [](void* owned) { delete static_cast<QRawFont*>(owned); }));
    std::unique_ptr<hb_font_t, HbDeleter> hbFont(hb_font_create(face.get()));
    // Positions come back in 1/64 pixel.
    const int scale = static_cast<int>(font.pixelSize() * 64.0);
    hb_font_set_scale(hbFont.get(), scale, scale);
    std::unique_ptr<hb_buffer_t, HbDeleter> buffer(hb_buffer_create());
    hb_buffer_add_utf16(buffer.get(), reinterpret_cast<const uint16_t*>(text.utf16()), static_cast<int>(text.size()), 0,
                        static_cast<int>(text.size()));
    hb_buffer_guess_segment_properties(buffer.get());
    hb_buffer_set_direction(buffer.get(), HB_DIRECTION_LTR);
    hb_shape(hbFont.get(), buffer.get(), nullptr, 0);
    if (!hb_buffer_allocation_successful(buffer.get()))
        return std::nullopt;

    unsigned count = 0;
    const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer.get(), &count);
    const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer.get(), &count);
    ShaperGlyphRun run;
    run.font = font;
    run.glyphs.reserve(count);
    run.positions.reserve(count);
    run.stringIndices.reserve(count);
    double penX = 0.0;
    double penY = 0.0;
    for (unsigned i = 0; i < count; ++i) {
        run.glyphs.push_back(infos[i].codepoint);
        run.positions.emplace_back(penX + positions[i].x_offset / 64.0, penY + positions[i].y_offset / 64.0);
        run.stringIndices.push_back(static_cast<int>(infos[i].cluster));
        penX += positions[i].x_advance / 64.0;
        penY += positions[i].y_advance / 64.0;
    }
    ShaperRun result;
    if (count > 0) {
        result.positions = run.positions;
        result.stringIndices = run.stringIndices;
        result.glyphRuns.push_back(std::move(run));
    }
    result.glyphCount = static_cast<int>(result.stringIndices.size());
    return result;
}

} // namespace corvantix

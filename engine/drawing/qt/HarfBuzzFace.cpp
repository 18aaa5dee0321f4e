#include "drawing/qt/HarfBuzzFace.h"

#include <QByteArray>

#include <hb-ot.h>

#include <cstddef>
#include <memory>
#include <utility>

namespace corvantix {

namespace {

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

} // namespace

hb_face_t* makeHarfBuzzFace(const QRawFont& font)
{
    return hb_face_create_for_tables(fontTable, new QRawFont(font),
                                     [](void* owned) { delete static_cast<QRawFont*>(owned); });
}

namespace {

using HarfBuzzFont = std::unique_ptr<hb_font_t, void (*)(hb_font_t*)>;

struct ShaperFont {
    QRawFont font;
    HarfBuzzFont made;
    std::optional<std::bitset<128>> substituted; // worked out when first asked
    std::optional<std::bitset<128>> drawnAlone;
};

// The shaper's font for `font`, made once: a face reads the font's tables by copying them,
// which for a large font costs far more than shaping a cell. Fonts are told apart by their
// engine, which the cache keeps alive; past a few dozen fonts the cache starts again. Used
// on the main thread only, as both drawing paths are.
ShaperFont& harfBuzzFont(const QRawFont& font)
{
    static constexpr std::size_t limit = 32;
    static std::vector<ShaperFont> fonts;
    for (ShaperFont& known : fonts) {
        if (known.font == font)
            return known;
    }
    if (fonts.size() >= limit)
        fonts.clear();
    const std::unique_ptr<hb_face_t, void (*)(hb_face_t*)> face(makeHarfBuzzFace(font), hb_face_destroy);
    HarfBuzzFont made(hb_font_create(face.get()), hb_font_destroy);
    // Positions come back in 1/64 pixel.
    const int scale = static_cast<int>(font.pixelSize() * 64.0);
    hb_font_set_scale(made.get(), scale, scale);
    return fonts.emplace_back(ShaperFont{font, std::move(made), std::nullopt, std::nullopt});
}

} // namespace

std::optional<std::vector<HarfBuzzGlyph>> shapeWithHarfBuzz(std::u16string_view text, int start, int length,
                                                            const QRawFont& font)
{
    hb_font_t* hbFont = harfBuzzFont(font).made.get();
    hb_face_t* face = hb_font_get_face(hbFont);
    const std::unique_ptr<hb_buffer_t, void (*)(hb_buffer_t*)> buffer(hb_buffer_create(), hb_buffer_destroy);
    hb_buffer_add_utf16(buffer.get(), reinterpret_cast<const uint16_t*>(text.data()), static_cast<int>(text.size()),
                        static_cast<unsigned>(start), length);
    hb_buffer_guess_segment_properties(buffer.get());
    hb_buffer_set_direction(buffer.get(), HB_DIRECTION_LTR);
    hb_shape(hbFont, buffer.get(), nullptr, 0);
    if (!hb_buffer_allocation_successful(buffer.get()))
        return std::nullopt;
    unsigned count = 0;
    const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer.get(), &count);
    const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer.get(), &count);
    std::vector<HarfBuzzGlyph> glyphs(count);
    for (unsigned i = 0; i < count; ++i) {
        glyphs[i] = {infos[i].codepoint,           static_cast<int>(infos[i].cluster),
                     positions[i].x_offset / 64.0, positions[i].y_offset / 64.0,
                     positions[i].x_advance / 64.0, positions[i].y_advance / 64.0};
        glyphs[i].mark = positions[i].x_advance == 0
            || hb_ot_layout_get_glyph_class(face, infos[i].codepoint) == HB_OT_LAYOUT_GLYPH_CLASS_MARK;
    }
    return glyphs;
}

std::bitset<128> substitutedAscii(const QRawFont& font)
{
    ShaperFont& known = harfBuzzFont(font);
    if (known.substituted)
        return *known.substituted;
    std::bitset<128> substituted;
    hb_face_t* face = hb_font_get_face(known.made.get());
    hb_font_t* hbFont = known.made.get();
    const auto set = [](hb_set_t* made) { return std::unique_ptr<hb_set_t, void (*)(hb_set_t*)>(made, hb_set_destroy); };
    const auto lookups = set(hb_set_create());
    const auto seen = set(hb_set_create());
    // Every lookup of the table, whatever script, language or feature asks for it.
    hb_ot_layout_collect_lookups(face, HB_OT_TAG_GSUB, nullptr, nullptr, nullptr, lookups.get());
    for (hb_codepoint_t lookup = HB_SET_VALUE_INVALID; hb_set_next(lookups.get(), &lookup);) {
        const auto before = set(hb_set_create());
        const auto input = set(hb_set_create());
        const auto after = set(hb_set_create());
        hb_ot_layout_lookup_collect_glyphs(face, HB_OT_TAG_GSUB, lookup, before.get(), input.get(), after.get(),
                                           nullptr);
        hb_set_union(seen.get(), before.get());
        hb_set_union(seen.get(), input.get());
        hb_set_union(seen.get(), after.get());
    }
    for (hb_codepoint_t c = 0; c < 128; ++c) {
        hb_codepoint_t glyph = 0;
        if (hb_font_get_nominal_glyph(hbFont, c, &glyph) && hb_set_has(seen.get(), glyph))
            substituted.set(c);
    }
    known.substituted = substituted;
    return substituted;
}

std::bitset<128> asciiDrawnAlone(const QRawFont& font)
{
    const std::bitset<128> substituted = substitutedAscii(font);
    ShaperFont& known = harfBuzzFont(font);
    if (known.drawnAlone)
        return *known.drawnAlone;
    std::bitset<128> alone;
    for (hb_codepoint_t c = 0; c < 128; ++c) {
        hb_codepoint_t glyph = 0;
        if (!substituted.test(c) && hb_font_get_nominal_glyph(known.made.get(), c, &glyph) && glyph != 0)
            alone.set(c);
    }
    known.drawnAlone = alone;
    return alone;
}

bool hasColourBitmaps(const QRawFont& font)
{
    return !font.fontTable("CBLC").isEmpty() || !font.fontTable("sbix").isEmpty();
}

} // namespace corvantix

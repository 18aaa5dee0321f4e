#include "drawing/qt/HarfBuzzFace.h"

#include <QByteArray>

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

bool hasColourBitmaps(const QRawFont& font)
{
    return !font.fontTable("CBLC").isEmpty() || !font.fontTable("sbix").isEmpty();
}

} // namespace corvantix

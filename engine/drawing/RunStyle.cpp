#include "drawing/RunStyle.h"

namespace corvantix {

int underlineStyleAttributeValue(UnderlineStyle style)
{
    switch (style) {
    case UnderlineStyle::none:
        return 0;
    case UnderlineStyle::single:
    case UnderlineStyle::curly:
        return 0x1;
    case UnderlineStyle::double_:
        return 0x9;
    case UnderlineStyle::dotted:
        return 0x101;
    case UnderlineStyle::dashed:
        return 0x201;
    }
    return 0;
}

UnderlineStyle underlineStyle(const RunStyle& style)
{
    if (style.corvantixUnderlineStyle && *style.corvantixUnderlineStyle >= 0) {
        if (const auto known = underlineStyleFromRaw(static_cast<uint8_t>(*style.corvantixUnderlineStyle));
            known && *style.corvantixUnderlineStyle <= 5)
            return *known;
    }
    const int value = style.underlineStyleAttribute.value_or(0);
    if ((value & 0x1) && (value & 0x8))
        return UnderlineStyle::double_;
    if (value & 0x100)
        return UnderlineStyle::dotted;
    if (value & 0x600)
        return UnderlineStyle::dashed;
    if (value != 0)
        return UnderlineStyle::single;
    return UnderlineStyle::none;
}

} // namespace corvantix

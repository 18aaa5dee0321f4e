#include "drawing/BoxDrawing.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace corvantix {

namespace {

constexpr uint32_t firstBoxDrawing = 0x2500;
constexpr uint32_t lastBoxDrawing = 0x257F;

struct ArmEntry {
    uint32_t codePoint;
    BoxArms arms;
};

// The line characters with their arms (up, right, down, left), read from their Unicode
// names.
constexpr auto lineCharacters = [] {
    constexpr BoxArm o = BoxArm::none;
    constexpr BoxArm L = BoxArm::light;
    constexpr BoxArm H = BoxArm::heavy;
    constexpr BoxArm D = BoxArm::double_;
    return std::array<ArmEntry, 109>{{
        {0x2500, {o, L, o, L}}, // light horizontal
        {0x2501, {o, H, o, H}}, // heavy horizontal
        {0x2502, {L, o, L, o}}, // light vertical
        {0x2503, {H, o, H, o}}, // heavy vertical
        {0x250C, {o, L, L, o}}, // light down and right
        {0x250D, {o, H, L, o}}, // down light and right heavy
        {0x250E, {o, L, H, o}}, // down heavy and right light
        {0x250F, {o, H, H, o}}, // heavy down and right
        {0x2510, {o, o, L, L}}, // light down and left
        {0x2511, {o, o, L, H}}, // down light and left heavy
        {0x2512, {o, o, H, L}}, // down heavy and left light
        {0x2513, {o, o, H, H}}, // heavy down and left
        {0x2514, {L, L, o, o}}, // light up and right
        {0x2515, {L, H, o, o}}, // up light and right heavy
        {0x2516, {H, L, o, o}}, // up heavy and right light
        {0x2517, {H, H, o, o}}, // heavy up and right
        {0x2518, {L, o, o, L}}, // light up and left
        {0x2519, {L, o, o, H}}, // up light and left heavy
        {0x251A, {H, o, o, L}}, // up heavy and left light
        {0x251B, {H, o, o, H}}, // heavy up and left
        {0x251C, {L, L, L, o}}, // light vertical and right
        {0x251D, {L, H, L, o}}, // vertical light and right heavy
        {0x251E, {H, L, L, o}}, // up heavy and right down light
        {0x251F, {L, L, H, o}}, // down heavy and right up light
        {0x2520, {H, L, H, o}}, // vertical heavy and right light
        {0x2521, {H, H, L, o}}, // down light and right up heavy
        {0x2522, {L, H, H, o}}, // up light and right down heavy
        {0x2523, {H, H, H, o}}, // heavy vertical and right
        {0x2524, {L, o, L, L}}, // light vertical and left
        {0x2525, {L, o, L, H}}, // vertical light and left heavy
        {0x2526, {H, o, L, L}}, // up heavy and left down light
        {0x2527, {L, o, H, L}}, // down heavy and left up light
        {0x2528, {H, o, H, L}}, // vertical heavy and left light
        {0x2529, {H, o, L, H}}, // down light and left up heavy
        {0x252A, {L, o, H, H}}, // up light and left down heavy
        {0x252B, {H, o, H, H}}, // heavy vertical and left
        {0x252C, {o, L, L, L}}, // light down and horizontal
        {0x252D, {o, L, L, H}}, // left heavy and right down light
        {0x252E, {o, H, L, L}}, // right heavy and left down light
        {0x252F, {o, H, L, H}}, // down light and horizontal heavy
        {0x2530, {o, L, H, L}}, // down heavy and horizontal light
        {0x2531, {o, L, H, H}}, // right light and left down heavy
        {0x2532, {o, H, H, L}}, // left light and right down heavy
        {0x2533, {o, H, H, H}}, // heavy down and horizontal
        {0x2534, {L, L, o, L}}, // light up and horizontal
        {0x2535, {L, L, o, H}}, // left heavy and right up light
        {0x2536, {L, H, o, L}}, // right heavy and left up light
        {0x2537, {L, H, o, H}}, // up light and horizontal heavy
        {0x2538, {H, L, o, L}}, // up heavy and horizontal light
        {0x2539, {H, L, o, H}}, // right light and left up heavy
        {0x253A, {H, H, o, L}}, // left light and right up heavy
        {0x253B, {H, H, o, H}}, // heavy up and horizontal
        {0x253C, {L, L, L, L}}, // light vertical and horizontal
        {0x253D, {L, L, L, H}}, // left heavy and right vertical light
        {0x253E, {L, H, L, L}}, // right heavy and left vertical light
        {0x253F, {L, H, L, H}}, // vertical light and horizontal heavy
        {0x2540, {H, L, L, L}}, // up heavy and down horizontal light
        {0x2541, {L, L, H, L}}, // down heavy and up horizontal light
        {0x2542, {H, L, H, L}}, // vertical heavy and horizontal light
        {0x2543, {H, L, L, H}}, // left up heavy and right down light
        {0x2544, {H, H, L, L}}, // right up heavy and left down light
        {0x2545, {L, L, H, H}}, // left down heavy and right up light
        {0x2546, {L, H, H, L}}, // right down heavy and left up light
        {0x2547, {H, H, L, H}}, // down light and up horizontal heavy
        {0x2548, {L, H, H, H}}, // up light and down horizontal heavy
        {0x2549, {H, L, H, H}}, // right light and left vertical heavy
        {0x254A, {H, H, H, L}}, // left light and right vertical heavy
        {0x254B, {H, H, H, H}}, // heavy vertical and horizontal
        {0x2550, {o, D, o, D}}, // double horizontal
        {0x2551, {D, o, D, o}}, // double vertical
        {0x2552, {o, D, L, o}}, // down single and right double
        {0x2553, {o, L, D, o}}, // down double and right single
        {0x2554, {o, D, D, o}}, // double down and right
        {0x2555, {o, o, L, D}}, // down single and left double
        {0x2556, {o, o, D, L}}, // down double and left single
        {0x2557, {o, o, D, D}}, // double down and left
        {0x2558, {L, D, o, o}}, // up single and right double
        {0x2559, {D, L, o, o}}, // up double and right single
        {0x255A, {D, D, o, o}}, // double up and right
        {0x255B, {L, o, o, D}}, // up single and left double
        {0x255C, {D, o, o, L}}, // up double and left single
        {0x255D, {D, o, o, D}}, // double up and left
        {0x255E, {L, D, L, o}}, // vertical single and right double
        {0x255F, {D, L, D, o}}, // vertical double and right single
        {0x2560, {D, D, D, o}}, // double vertical and right
        {0x2561, {L, o, L, D}}, // vertical single and left double
        {0x2562, {D, o, D, L}}, // vertical double and left single
        {0x2563, {D, o, D, D}}, // double vertical and left
        {0x2564, {o, D, L, D}}, // down single and horizontal double
        {0x2565, {o, L, D, L}}, // down double and horizontal single
        {0x2566, {o, D, D, D}}, // double down and horizontal
        {0x2567, {L, D, o, D}}, // up single and horizontal double
        {0x2568, {D, L, o, L}}, // up double and horizontal single
        {0x2569, {D, D, o, D}}, // double up and horizontal
        {0x256A, {L, D, L, D}}, // vertical single and horizontal double
        {0x256B, {D, L, D, L}}, // vertical double and horizontal single
        {0x256C, {D, D, D, D}}, // double vertical and horizontal
        {0x2574, {o, o, o, L}}, // light left
        {0x2575, {L, o, o, o}}, // light up
        {0x2576, {o, L, o, o}}, // light right
        {0x2577, {o, o, L, o}}, // light down
        {0x2578, {o, o, o, H}}, // heavy left
        {0x2579, {H, o, o, o}}, // heavy up
        {0x257A, {o, H, o, o}}, // heavy right
        {0x257B, {o, o, H, o}}, // heavy down
        {0x257C, {o, H, o, L}}, // light left and heavy right
        {0x257D, {L, o, H, o}}, // light up and heavy down
        {0x257E, {o, L, o, H}}, // heavy left and light right
        {0x257F, {H, o, L, o}}, // heavy up and light down
    }};
}();

} // namespace

std::optional<BoxArms> boxDrawingArms(uint32_t codePoint)
{
    if (codePoint < firstBoxDrawing || codePoint > lastBoxDrawing)
        return std::nullopt;
    static const auto table = [] {
        std::array<std::optional<BoxArms>, lastBoxDrawing - firstBoxDrawing + 1> byCode{};
        for (const ArmEntry& entry : lineCharacters)
            byCode[entry.codePoint - firstBoxDrawing] = entry.arms;
        return byCode;
    }();
    return table[codePoint - firstBoxDrawing];
}

namespace {

// Collects the pixel fills of one character, clamped to the cell.
class PixelFills {
public:
    PixelFills(BoxDrawingShape& shape, int width, int height) : shape_(shape), width_(width), height_(height) {}

    void fill(int x0, int x1, int y0, int y1)
    {
        const PixelRect rect{std::clamp(x0, 0, width_), std::clamp(x1, 0, width_), std::clamp(y0, 0, height_),
                             std::clamp(y1, 0, height_)};
        if (!rect.isEmpty())
            shape_.rects.push(rect);
    }

private:
    BoxDrawingShape& shape_;
    int width_;
    int height_;
};

// The light, heavy and double bands across one dimension of the cell (size `extent`, light
// stroke t). Integer division floors: an odd amount of free space leaves its extra pixel
// after the stroke.
struct Bands {
    int light0, light1; // light band [light0, light1)
    int heavy0, heavy1; // heavy band
    int double0;        // outer edge of the first double line [double0, light0)
    int double1;        // outer edge of the second double line [light1, double1)

    Bands(int extent, int t)
    {
        light0 = std::max(extent - t, 0) / 2;
        light1 = std::min(light0 + t, extent);
        heavy0 = std::max(extent - 2 * t, 0) / 2;
        heavy1 = std::min(heavy0 + 2 * t, extent);
        double0 = std::max(light0 - t, 0);
        double1 = std::min(light1 + t, extent);
    }
};

// Where the arms along one axis stop short of (or run through) the crossing, given the arms
// of that axis (a, b: up/down or left/right) and of the other axis (c, d), and the bands
// across the first axis. Returns (end of the first arm, start of the second arm).
std::pair<int, int> armEnds(BoxArm a, BoxArm b, BoxArm c, BoxArm d, const Bands& across)
{
    if (c == BoxArm::heavy || d == BoxArm::heavy)
        return {across.heavy1, across.heavy0};
    if (c == d && a != b) {
        if (c == BoxArm::none)
            return {across.light1, across.light0};
        return {across.light0, across.light1}; // both light or both double
    }
    if (c == BoxArm::double_ || d == BoxArm::double_)
        return {across.double1, across.double0};
    return {across.light1, across.light0};
}

void lineShape(const BoxArms& arms, int t, int width, int height, BoxDrawingShape& shape)
{
    PixelFills fills(shape, width, height);
    const Bands rows(height, t); // horizontal strokes: rows
    const Bands cols(width, t);  // vertical strokes: columns
    const auto [e, b] = armEnds(arms.up, arms.down, arms.left, arms.right, rows);
    const auto [eh, bh] = armEnds(arms.left, arms.right, arms.up, arms.down, cols);
    const bool leftDouble = arms.left == BoxArm::double_;
    const bool rightDouble = arms.right == BoxArm::double_;
    const bool upDouble = arms.up == BoxArm::double_;
    const bool downDouble = arms.down == BoxArm::double_;

    switch (arms.up) {
    case BoxArm::none:
        break;
    case BoxArm::light:
        fills.fill(cols.light0, cols.light1, 0, e);
        break;
    case BoxArm::heavy:
        fills.fill(cols.heavy0, cols.heavy1, 0, e);
        break;
    case BoxArm::double_:
        fills.fill(cols.double0, cols.light0, 0, leftDouble ? rows.light0 : e);
        fills.fill(cols.light1, cols.double1, 0, rightDouble ? rows.light0 : e);
        break;
    }
    switch (arms.right) {
    case BoxArm::none:
        break;
    case BoxArm::light:
        fills.fill(bh, width, rows.light0, rows.light1);
        break;
    case BoxArm::heavy:
        fills.fill(bh, width, rows.heavy0, rows.heavy1);
        break;
    case BoxArm::double_:
        fills.fill(upDouble ? cols.light1 : bh, width, rows.double0, rows.light0);
        fills.fill(downDouble ? cols.light1 : bh, width, rows.light1, rows.double1);
        break;
    }
    switch (arms.down) {
    case BoxArm::none:
        break;
    case BoxArm::light:
        fills.fill(cols.light0, cols.light1, b, height);
        break;
    case BoxArm::heavy:
        fills.fill(cols.heavy0, cols.heavy1, b, height);
        break;
    case BoxArm::double_:
        fills.fill(cols.double0, cols.light0, leftDouble ? rows.light1 : b, height);
        fills.fill(cols.light1, cols.double1, rightDouble ? rows.light1 : b, height);
        break;
    }
    switch (arms.left) {
    case BoxArm::none:
        break;
    case BoxArm::light:
        fills.fill(0, eh, rows.light0, rows.light1);
        break;
    case BoxArm::heavy:
        fills.fill(0, eh, rows.heavy0, rows.heavy1);
        break;
    case BoxArm::double_:
        fills.fill(0, upDouble ? cols.light0 : eh, rows.double0, rows.light0);
        fills.fill(0, downDouble ? cols.light0 : eh, rows.light1, rows.double1);
        break;
    }
}

struct DashPattern {
    bool horizontal;
    int count;
    bool heavy;
    enum class Gap : uint8_t { atLeastFour, light, heavy } gapCap;
};

std::optional<DashPattern> dashPattern(uint32_t codePoint)
{
    using Gap = DashPattern::Gap;
    switch (codePoint) {
    case 0x2504: return DashPattern{true, 3, false, Gap::atLeastFour};
    case 0x2505: return DashPattern{true, 3, true, Gap::atLeastFour};
    case 0x2506: return DashPattern{false, 3, false, Gap::atLeastFour};
    case 0x2507: return DashPattern{false, 3, true, Gap::atLeastFour};
    case 0x2508: return DashPattern{true, 4, false, Gap::atLeastFour};
    case 0x2509: return DashPattern{true, 4, true, Gap::atLeastFour};
    case 0x250A: return DashPattern{false, 4, false, Gap::atLeastFour};
    case 0x250B: return DashPattern{false, 4, true, Gap::atLeastFour};
    case 0x254C: return DashPattern{true, 2, false, Gap::light};
    case 0x254D: return DashPattern{true, 2, true, Gap::heavy};
    case 0x254E: return DashPattern{false, 2, false, Gap::heavy};
    case 0x254F: return DashPattern{false, 2, true, Gap::heavy};
    default: return std::nullopt;
    }
}

void dashShape(const DashPattern& pattern, int thickness, int t, int width, int height, BoxDrawingShape& shape)
{
    PixelFills fills(shape, width, height);
    const int length = pattern.horizontal ? width : height;
    const int across = pattern.horizontal ? height : width;
    auto place = [&](int along0, int along1, int stroke) {
        const int offset = std::max(across - stroke, 0) / 2;
        if (pattern.horizontal)
            fills.fill(along0, along1, offset, offset + stroke);
        else
            fills.fill(offset, offset + stroke, along0, along1);
    };

    // Too short for the dashes and their gaps: one solid light line.
    if (length < 2 * pattern.count) {
        place(0, length, std::max(thickness, 1));
        return;
    }
    const int stroke = pattern.heavy ? 2 * t : t;
    int gapCap = 0;
    switch (pattern.gapCap) {
    case DashPattern::Gap::atLeastFour:
        gapCap = std::max(t, 4);
        break;
    case DashPattern::Gap::light:
        gapCap = t;
        break;
    case DashPattern::Gap::heavy:
        gapCap = 2 * t;
        break;
    }
    const int gap = std::min(length / (2 * pattern.count), gapCap);
    const int total = length - pattern.count * gap;
    const int dash = total / pattern.count;
    int remainder = total % pattern.count;
    int position = pattern.horizontal ? gap / 2 : 0;
    for (int i = 0; i < pattern.count; ++i) {
        int dashLength = dash;
        if (remainder > 0) {
            ++dashLength;
            --remainder;
        }
        place(position, position + dashLength, stroke);
        position += dashLength + gap;
    }
}

void roundedCornerShape(uint32_t codePoint, int t, int width, int height, BoxDrawingShape& shape)
{
    PixelFills fills(shape, width, height);
    const bool up = codePoint == 0x256F || codePoint == 0x2570;
    const bool left = codePoint == 0x256E || codePoint == 0x256F;
    const int stroke = std::max(t, 1);
    const int yTop = std::max(height - stroke, 0) / 2;
    const int xLeft = std::max(width - stroke, 0) / 2;
    const double half = stroke * 0.5;
    const double cy = yTop + half;
    const double cx = xLeft + half;
    const double m = std::min(width, height);
    const double radius = std::min(m * 0.3, std::max(m * 0.5 - half, 0.0));

    auto clampTo = [](double v, int hi) { return std::min(std::max(static_cast<int>(v), 0), hi); };
    if (up)
        fills.fill(xLeft, xLeft + stroke, 0, clampTo(std::ceil(cy - radius), height));
    else
        fills.fill(xLeft, xLeft + stroke, clampTo(std::floor(cy + radius), height), height);
    if (left)
        fills.fill(0, clampTo(std::ceil(cx - radius), width), yTop, yTop + stroke);
    else
        fills.fill(clampTo(std::floor(cx + radius), width), width, yTop, yTop + stroke);

    BoxDrawingShape::QuarterRing ring;
    ring.centerX = left ? cx - radius : cx + radius;
    ring.centerY = up ? cy - radius : cy + radius;
    ring.outerRadius = radius + half;
    ring.innerRadius = std::max(radius - half, 0.0);
    // The quadrant on the far side of the centre from the arms' free ends.
    ring.clipX0 = left ? ring.centerX : 0.0;
    ring.clipX1 = left ? width : ring.centerX;
    ring.clipY0 = up ? ring.centerY : 0.0;
    ring.clipY1 = up ? height : ring.centerY;
    shape.ring = ring;
}

void diagonalShape(uint32_t codePoint, int t, int unit, int width, int height, BoxDrawingShape& shape)
{
    const double w = width;
    const double h = height;
    const double ex = 0.5 * std::min(w / h, 1.0);
    const double ey = 0.5 * std::min(h / w, 1.0);
    const double strokeWidth = t >= 2 ? std::max(unit, t + 1) : unit;
    if (codePoint == 0x2571 || codePoint == 0x2573) // lower left to upper right
        shape.strokes.push({-ex, h + ey, w + ex, -ey, strokeWidth});
    if (codePoint == 0x2572 || codePoint == 0x2573) // upper left to lower right
        shape.strokes.push({-ex, -ey, w + ex, h + ey, strokeWidth});
}

} // namespace

BoxDrawingShape boxDrawingShape(uint32_t codePoint, int thickness, int pixelWidth, int pixelHeight, int unit)
{
    BoxDrawingShape shape;
    if (codePoint < firstBoxDrawing || codePoint > lastBoxDrawing || pixelWidth < 1 || pixelHeight < 1)
        return shape;
    const int u = std::max(unit, 1);
    const int t = boxLightStroke(thickness, u);

    if (const auto arms = boxDrawingArms(codePoint))
        lineShape(*arms, t, pixelWidth, pixelHeight, shape);
    else if (const auto dashes = dashPattern(codePoint))
        dashShape(*dashes, thickness, t, pixelWidth, pixelHeight, shape);
    else if (codePoint >= 0x256D && codePoint <= 0x2570)
        roundedCornerShape(codePoint, t, pixelWidth, pixelHeight, shape);
    else if (codePoint >= 0x2571 && codePoint <= 0x2573)
        diagonalShape(codePoint, t, u, pixelWidth, pixelHeight, shape);
    return shape;
}

int boxDrawingThickness(double scale, double underlineThickness)
{
    const int unit = static_cast<int>(std::round(scale));
    const int scaled = static_cast<int>(std::round(scale * underlineThickness * 1.35));
    return std::max({scaled, unit, 1});
}

int boxDrawingPixels(double points, double scale)
{
    const double pixels = std::round(points * scale);
    if (!(pixels >= 1.0))
        return 1;
    return pixels > 1'000'000.0 ? 1'000'000 : static_cast<int>(pixels);
}

BoxDrawingCell boxDrawingCell(const BoxDrawingRenderItem& item, const CellGrid& grid, double scale)
{
    const int cellPixelWidth = boxDrawingPixels(grid.cellWidth, scale);
    const int cellPixelHeight = boxDrawingPixels(grid.cellHeight, scale);
    BoxDrawingCell cell;
    cell.pixelWidth = item.columnWidth * cellPixelWidth;
    cell.pixelHeight = cellPixelHeight;
    cell.rect.x = (std::round(grid.originX * scale) + item.column * cellPixelWidth) / scale;
    cell.rect.y = std::round(grid.rowTop * scale) / scale;
    cell.rect.width = cell.pixelWidth / scale;
    cell.rect.height = cellPixelHeight / scale;
    return cell;
}

PointRect pixelRectToPoints(const PixelRect& rect, const PointRect& cell, double scale)
{
    return {cell.x + rect.x0 / scale, cell.y + rect.y0 / scale, (rect.x1 - rect.x0) / scale,
            (rect.y1 - rect.y0) / scale};
}

} // namespace corvantix

// What a GPU frame's build reads of the terminal view: the values whose change makes every
// cached row stale, the image store's stamp, the virtual placements of the screen shown, and
// the view's report of changed lines, which a build takes once.
#include "gpu/qt/MetalDrawDataBuild.h"

#include "emulator/Terminal.h"
#include "model/Buffer.h"
#include "platform/ManualMainQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace corvantix {
namespace {

// 80 x 24 cells of 8 x 17 points in a 640 x 408 view, with scrollback to scroll into.
struct DrawnView {
    DrawnView()
    {
        TerminalOptions options = TerminalOptions::defaultOptions();
        options.scrollback = 100;
        view = std::make_unique<TerminalView>(QRect(), std::nullopt, options, nullptr, &queue);
        view->cellDimension = CellDimension{8, 17};
        view->resize(640, 408);
        view->resizeGrid(80, 24);
        for (int i = 0; i < 40; ++i)
            view->feedText("line\r\n");
    }
    ManualMainQueue queue;
    std::unique_ptr<TerminalView> view;
};

TEST(MetalDrawDataInput, AViewChangeMovesItsFieldOfTheSignature)
{
    using Signature = const CacheSignature&;
    struct Case {
        const char* name;
        void (*change)(TerminalView&);
        bool (*moved)(Signature before, Signature after);
    };
    const Case cases[] = {
        {"scrolled to the top", [](TerminalView& v) { v.scrollTo(0); },
         [](Signature b, Signature a) { return b.yDisp > 0 && a.yDisp == 0; }},
        {"alternate screen", [](TerminalView& v) { v.feedText("\x1b[?1049h"); },
         [](Signature b, Signature a) { return !b.isAltBuffer && a.isAltBuffer; }},
        {"grid resized", [](TerminalView& v) { v.resizeGrid(70, 20); },
         [](Signature, Signature a) { return a.cols == 70 && a.rows == 20; }},
        {"cell size", [](TerminalView& v) { v.cellDimension = CellDimension{9, 18}; },
         [](Signature, Signature a) { return a.cellWidth == 9 && a.cellHeight == 18; }},
        {"view bounds", [](TerminalView& v) { v.resize(600, 400); },
         [](Signature, Signature a) { return a.viewWidth == 600 && a.viewHeight == 400; }},
        {"bidi host policy", [](TerminalView& v) { v.setBidiHostPolicy(BidiHostPolicy::legacyLeftToRight); },
         [](Signature, Signature a) { return a.bidiHostPolicy == BidiHostPolicy::legacyLeftToRight; }},
        {"font weight", [](TerminalView& v) { v.fontSet.normal.setBold(!v.fontSet.normal.bold()); },
         [](Signature b, Signature a) { return b.fontName != a.fontName; }},
        {"font size", [](TerminalView& v) { v.fontSet.normal.setPointSizeF(v.fontSet.normal.pointSizeF() + 3); },
         [](Signature b, Signature a) { return a.fontSize == b.fontSize + 3; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DrawnView drawn;
        const CacheSignature before = metalCacheSignature(*drawn.view, 1.0);
        ASSERT_EQ(before, metalCacheSignature(*drawn.view, 1.0)) << "an unchanged view signs the same";
        c.change(*drawn.view);
        EXPECT_TRUE(c.moved(before, metalCacheSignature(*drawn.view, 1.0)));
    }
}

TEST(MetalDrawDataInput, TheStoreStampTellsAReSentImage)
{
    KittyGraphicsState store;
    store.imagesById[1].storeStamp = 4;
    store.imagesById[2].storeStamp = 9;
    const KittyCacheStamp stamp = kittyCacheStamp(store);
    EXPECT_EQ(stamp.latestStoreStamp, 9u);
    // Image 1 sent again under its id: counts and counters stay, the stamp moves.
    store.imagesById[1].storeStamp = 10;
    const KittyCacheStamp resent = kittyCacheStamp(store);
    EXPECT_EQ(resent.imagesCount, stamp.imagesCount);
    EXPECT_EQ(resent.nextImageId, stamp.nextImageId);
    EXPECT_NE(resent, stamp);
}

TEST(MetalDrawDataInput, VirtualPlacementsOfTheShownScreenByImage)
{
    KittyGraphicsState store;
    auto place = [&](std::uint32_t image, std::uint32_t placement, bool isVirtual, bool alternate) {
        KittyPlacementRecord record;
        record.imageId = image;
        record.placementId = placement;
        record.isVirtual = isVirtual;
        record.isAlternateBuffer = alternate;
        store.placementsByKey[{image, placement}] = record;
    };
    place(1, 2, true, false);
    place(1, 1, true, false);
    place(1, 3, false, false); // shown in the grid, not through placeholders
    place(2, 1, true, true);   // belongs to the other screen
    place(3, 4, true, false);

    const VirtualPlacementIndex normal = virtualPlacementIndex(store, false);
    ASSERT_EQ(normal.size(), 2u);
    ASSERT_EQ(normal.at(1).size(), 2u);
    EXPECT_EQ(normal.at(1)[0].placementId, 1u) << "in the store's order";
    EXPECT_EQ(normal.at(1)[1].placementId, 2u);
    EXPECT_EQ(normal.at(3).size(), 1u);
    const VirtualPlacementIndex alternate = virtualPlacementIndex(store, true);
    ASSERT_EQ(alternate.size(), 1u);
    EXPECT_EQ(alternate.at(2)[0].placementId, 1u);
}

// Several updates can come before a build takes the report: it widens to hold them all.
TEST(MetalDrawDataInput, TheDirtyReportWidensUntilABuildTakesItOnce)
{
    DrawnView drawn;
    TerminalView& view = *drawn.view;
    QWidget surface;
    view.attachMetalView(&surface);
    view.updateDirtyRows(false);
    view.takeMetalDirtyRange();
    const int yDisp = view.terminal->buffer().yDisp();

    view.feedText("\x1b[3;1Hx\x1b[5;1H"); // the cursor leaves row 2 behind
    view.updateDirtyRows(false);
    view.feedText("\x1b[8;1Hy");
    view.updateDirtyRows(false);
    const auto range = view.takeMetalDirtyRange();
    ASSERT_TRUE(range.has_value());
    EXPECT_LE(range->first, yDisp + 2);
    EXPECT_GE(range->second, yDisp + 7);
    EXPECT_FALSE(view.takeMetalDirtyRange()) << "taken once";
    view.detachMetalView();
}

} // namespace
} // namespace corvantix

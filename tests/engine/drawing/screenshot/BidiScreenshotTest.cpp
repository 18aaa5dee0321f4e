// Right-to-left text drawn by the view on a private Xvfb server: a Hebrew line, an Arabic line
// with joined letters and a lam-alef ligature, and a Latin line holding Hebrew, compared with
// a reference image; and the first letter of a right-to-left line drawn at the right edge.
#include "view/qt/TerminalView.h"

#include "ReferenceImage.h"
#include "engine/view/qt/ViewTestSupport.h"

#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QImage>
#include <QWindow>

#include <cstdio>

namespace corvantix {
namespace {

constexpr int bidiCols = 32;
constexpr int bidiRows = 4;

class BidiScreenshotTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* family : {"Noto Sans Hebrew", "Noto Sans Arabic"}) {
            if (!QFontDatabase::families().contains(QString::fromLatin1(family)))
                GTEST_FAIL() << "the font \"" << family << "\" is missing; install the Debian package fonts-noto-core";
        }
        // Hebrew and Arabic come from the named faces rather than whatever the fallback finds.
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Noto Sans Hebrew"),
                          QStringLiteral("Noto Sans Arabic")});
        font.setPixelSize(14);
        view = std::make_unique<TerminalView>(QRect(), font, TerminalOptions::defaultOptions());
        ASSERT_TRUE(view->cellDimension);
        cw = static_cast<int>(view->cellDimension->width);
        ch = static_cast<int>(view->cellDimension->height);
        view->resize(bidiCols * cw + static_cast<int>(view->scrollerWidth()), bidiRows * ch);
        view->setCaretViewTracksFocus(false);
        view->show();
        ASSERT_TRUE(testing::waitUntil([&] { return view->windowHandle() && view->windowHandle()->isExposed(); }));
        ASSERT_EQ(view->terminal->cols(), bidiCols);
        view->feedText("\x1b[?25l"                                      // no caret in the picture
                       "\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD\r\n" // shalom olam
                       "\u0645\u0631\u062D\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645\r\n"
                       "mixed \u05D0\u05D1\u05D2 (123) text");
        image = grab();
    }
    QImage grab()
    {
        view->updateDisplayNow();
        QCoreApplication::processEvents();
        return view->grab(QRect(0, 0, bidiCols * cw, bidiRows * ch)).toImage().convertToFormat(QImage::Format_RGB32);
    }
    QRect cell(int col, int row) const { return QRect(col * cw, row * ch, cw, ch); }
    bool blank(const QImage& picture, const QRect& area) const
    {
        const QRgb background = picture.pixel(area.topLeft());
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (picture.pixel(x, y) != background)
                    return false;
        return true;
    }
    std::unique_ptr<TerminalView> view;
    QImage image;
    int cw = 0;
    int ch = 0;
};

TEST_F(BidiScreenshotTest, FirstHebrewLetterIsAtTheRightEdge)
{
    // In stored order the same letter is drawn in the first column.
    view->setBidiHostPolicy(BidiHostPolicy::legacyLeftToRight);
    const QImage stored = grab();
    ASSERT_FALSE(blank(stored, cell(0, 0)));
    EXPECT_EQ(image.copy(cell(bidiCols - 1, 0)), stored.copy(cell(0, 0)));
    // Laid out, the left of the row is the blank tail.
    EXPECT_TRUE(blank(image, QRect(0, 0, 10 * cw, ch)));
    EXPECT_FALSE(blank(stored, QRect(0, 0, 9 * cw, ch)));
}

TEST_F(BidiScreenshotTest, MatchesTheReferenceImage)
{
    EXPECT_TRUE(testing::matchesReference(image, QStringLiteral(HALVOREN_SCREENSHOT_DIR), QStringLiteral("bidi-view")));
}

} // namespace
} // namespace corvantix

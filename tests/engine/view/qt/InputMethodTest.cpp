// The input method's side of the view: pre-edit text shown at the caret and never sent,
// commits and pastes as bytes, the ranges the input method asks about, and the overlay.
#include "ViewTestSupport.h"

#include "emulator/EscapeSequences.h"
#include "view/MarkedText.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QInputMethodEvent>
#include <QInputMethodQueryEvent>
#include <QTextCharFormat>

#include <cmath>
#include <string>
#include <vector>

namespace corvantix {
namespace {

struct ComposingView : testing::ViewFixture {
    // One event from the input method: a commit and/or pre-edit text with its cursor.
    void inputMethod(const QString& commit, const QString& preedit = {}, int cursor = -1)
    {
        QList<QInputMethodEvent::Attribute> attributes;
        if (cursor >= 0)
            attributes.append({QInputMethodEvent::Cursor, cursor, 1});
        QTextCharFormat underlined;
        underlined.setFontUnderline(true);
        if (!preedit.isEmpty())
            attributes.append({QInputMethodEvent::TextFormat, 0, static_cast<int>(preedit.size()), underlined});
        QInputMethodEvent event(preedit, attributes);
        event.setCommitString(commit);
        QCoreApplication::sendEvent(&view, &event);
    }

    QWidget* overlay() const { return view.findChild<QWidget*>(QStringLiteral("markedTextOverlay")); }
};

TEST(InputMethod, PreeditIsShownAndNotSentThenTheCommitIsSent)
{
    ComposingView c;
    c.inputMethod({}, QStringLiteral("e"));
    c.inputMethod({}, QStringLiteral("\u00e9"), 1);
    EXPECT_TRUE(c.view.hasMarkedText());
    EXPECT_TRUE(c.view.keyboard->kittyIsComposing);
    EXPECT_EQ(c.view.markedRange(), (TextRange{0, 1}));
    EXPECT_EQ(c.view.markedSelectedRange(), (TextRange{1, 0}));
    ASSERT_NE(c.overlay(), nullptr);
    EXPECT_TRUE(c.delegate.sends.empty());

    c.inputMethod(QStringLiteral("\u00e9"));
    EXPECT_EQ(c.delegate.sends, (std::vector<std::string>{"\xc3\xa9"}));
    EXPECT_FALSE(c.view.hasMarkedText());
    EXPECT_FALSE(c.view.keyboard->kittyIsComposing);
    EXPECT_EQ(c.view.markedRange(), TextRange{});
    EXPECT_EQ(c.overlay(), nullptr);

    // A commit and the next pre-edit in one event.
    c.inputMethod({}, QStringLiteral("ni"));
    c.inputMethod(QStringLiteral("\u4f60"), QStringLiteral("h"));
    EXPECT_EQ(c.delegate.sends.back(), "\xe4\xbd\xa0");
    EXPECT_TRUE(c.view.hasMarkedText());
    EXPECT_NE(c.overlay(), nullptr);

    // An empty event cancels the composition and sends nothing.
    c.delegate.sends.clear();
    c.inputMethod({});
    EXPECT_FALSE(c.view.hasMarkedText());
    EXPECT_FALSE(c.view.keyboard->kittyIsComposing);
    EXPECT_EQ(c.overlay(), nullptr);
    EXPECT_TRUE(c.delegate.sends.empty());
}

TEST(InputMethod, EmptyMarkedTextKeepsTheCompositionOpenWithoutOverlay)
{
    ComposingView c;
    c.view.setMarkedText(QStringLiteral("x"), {1, 0});
    c.view.setMarkedText(QString(), {0, 0});
    EXPECT_TRUE(c.view.keyboard->kittyIsComposing);
    EXPECT_FALSE(c.view.hasMarkedText());
    EXPECT_EQ(c.overlay(), nullptr);
    c.view.unmarkText();
    EXPECT_FALSE(c.view.keyboard->kittyIsComposing);
    EXPECT_EQ(c.view.markedSelectedRange(), TextRange{});
}

TEST(InputMethod, CommitDoesNotReuseTheLastKey)
{
    // The input method answers on its own time: the key the view last saw is not the key
    // of the commit, so its code must not be reported with the committed character.
    ComposingView c;
    c.feed("\x1b[>8u");
    KeyInput lastKey;
    lastKey.textIgnoringModifiers = "q";
    c.view.keyboard->pendingKittyKeyEvent = PendingKittyKeyEvent{lastKey, KittyKeyboardEventType::press};
    c.inputMethod(QStringLiteral("\u00e9"));
    EXPECT_EQ(c.delegate.sent, "\xc3\xa9");
    EXPECT_FALSE(c.view.keyboard->pendingKittyKeyEvent);
}

TEST(InputMethod, PasteIsSentUnchangedOrBracketed)
{
    ComposingView c;
    c.view.insertText("a\nb", true);
    EXPECT_EQ(c.delegate.sends, (std::vector<std::string>{"a\nb"}));

    c.feed("\x1b[?2004h");
    c.view.insertText("a\nb", true);
    EXPECT_EQ(c.delegate.sends, (std::vector<std::string>{"\x1b[200~", "a\nb", "\x1b[201~"}));

    // An empty clipboard still sends both markers.
    c.delegate.sends.clear();
    c.view.insertText("", true);
    EXPECT_EQ(c.delegate.sends, (std::vector<std::string>{"\x1b[200~", "", "\x1b[201~"}));

}

TEST(InputMethod, PastedTextCannotEndTheBracketedPaste)
{
    struct Case {
        std::string pasted;
        std::string sent;
    };
    const std::vector<Case> cases = {
        {"x\x1b[201~rm -rf ~\n", "xrm -rf ~\n"},
        {"\x1b[200~nested\x1b[201~", "nested"},
        {"\x1b[20\x1b[201~1~tail", "tail"}, // the pieces join into a marker once one is removed
        {"\x1b[2 \x1b[A\x1b", "\x1b[2 \x1b[A\x1b"}, // other escapes stay
    };
    for (const Case& k : cases) {
        ComposingView c;
        c.feed("\x1b[?2004h");
        c.view.insertText(k.pasted, true);
        ASSERT_EQ(c.delegate.sends.size(), 3u);
        EXPECT_EQ(c.delegate.sends[1], k.sent);
    }
    // Without bracketed paste mode there are no markers to protect: bytes go out unchanged.
    ComposingView c;
    c.view.insertText("x\x1b[201~y", true);
    EXPECT_EQ(c.delegate.sent, "x\x1b[201~y");
}

// The host may replace the markers: the next paste is framed by the new ones, and the new ones
// are what the pasted text loses.
TEST(InputMethod, PasteSendsTheMarkersTheHostSet)
{
    const std::vector<std::uint8_t> defaultStart = EscapeSequences::bracketedPasteStart();
    const std::vector<std::uint8_t> defaultEnd = EscapeSequences::bracketedPasteEnd();
    const auto bytes = [](std::string_view text) {
        return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    };
    EscapeSequences::setBracketedPasteStart(bytes("\x1b[7200~"));
    EscapeSequences::setBracketedPasteEnd(bytes("\x1b[7201~"));
    ComposingView c;
    c.feed("\x1b[?2004h");
    c.view.insertText("a\x1b[7201~b\x1b[201~c", true);
    EscapeSequences::setBracketedPasteStart(defaultStart);
    EscapeSequences::setBracketedPasteEnd(defaultEnd);
    EXPECT_EQ(c.delegate.sends, (std::vector<std::string>{"\x1b[7200~", "ab\x1b[201~c", "\x1b[7201~"}));
    c.delegate.sends.clear();
    c.view.insertText("x", true);
    EXPECT_EQ(c.delegate.sends, (std::vector<std::string>{"\x1b[200~", "x", "\x1b[201~"}));
}

TEST(InputMethod, PasteUnderKittyFlags)
{
    ComposingView bracketed;
    bracketed.feed("\x1b[>8u\x1b[?2004h");
    bracketed.view.setMarkedText(QStringLiteral("k"), {1, 0});
    bracketed.view.insertText("ab", true);
    EXPECT_EQ(bracketed.delegate.sends, (std::vector<std::string>{"\x1b[200~", "ab", "\x1b[201~"}));
    EXPECT_FALSE(bracketed.view.hasMarkedText());

    ComposingView plain;
    plain.feed("\x1b[>8u");
    plain.view.insertText("ab", true);
    EXPECT_EQ(plain.delegate.sent, "ab");
}

TEST(InputMethod, MarkedTextPieces)
{
    ComposingView c;
    EXPECT_FALSE(c.view.attributedSubstringForProposedRange({0, 1}));
    c.view.setMarkedText(QStringLiteral("\u304b\u306a"), {1, 0});
    EXPECT_EQ(c.view.markedRange(), (TextRange{0, 2}));

    struct Case {
        TextRange asked;
        std::optional<TextRange> actual;
        QString piece;
    };
    const std::vector<Case> cases = {
        {{1, 5}, TextRange{1, 1}, QStringLiteral("\u306a")},
        {{2, 1}, std::nullopt, {}},
        {{0, 0}, std::nullopt, {}},
        {{TextRange::notFound, 1}, std::nullopt, {}},
        {{-1, 2}, std::nullopt, {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.asked.location);
        const auto piece = c.view.attributedSubstringForProposedRange(k.asked);
        ASSERT_EQ(piece.has_value(), k.actual.has_value());
        if (piece) {
            EXPECT_EQ(piece->first, *k.actual);
            EXPECT_EQ(piece->second, k.piece);
        }
    }
}

TEST(InputMethod, SelectedRangeIsTheSelectionOrTheCursor)
{
    ComposingView c;
    const int cols = c.view.terminal->cols();
    c.feed("\x1b[3;6H"); // column 5, row 2
    EXPECT_EQ(c.view.selectedRange(), (TextRange{2 * cols + 5, 0}));

    c.view.selection->active_ = true;
    c.view.selection->start = Position{10, 1};
    c.view.selection->end = Position{2, 0};
    EXPECT_EQ(c.view.selectedRange(), (TextRange{2, cols + 8}));
    // An empty selection counts as none.
    c.view.selection->end = c.view.selection->start;
    EXPECT_EQ(c.view.selectedRange(), (TextRange{2 * cols + 5, 0}));
    // On the classic 80 columns, row 2 column 5 is 165.
    EXPECT_EQ(selectedRangeFor(std::nullopt, CellPoint{5, 2}, 80), (TextRange{165, 0}));
}

TEST(InputMethod, QueriesDescribeTheCaretAndOfferNoText)
{
    ComposingView c;
    c.feed("\x1b[2;4H");
    c.view.updateCaretView();
    QInputMethodQueryEvent query(Qt::ImEnabled | Qt::ImCursorRectangle | Qt::ImSurroundingText |
                                 Qt::ImCursorPosition | Qt::ImFont);
    QCoreApplication::sendEvent(&c.view, &query);
    EXPECT_TRUE(query.value(Qt::ImEnabled).toBool());
    EXPECT_EQ(query.value(Qt::ImCursorRectangle).toRectF().toRect(), c.view.caretFrame());
    EXPECT_FALSE(c.view.caretFrame().isEmpty());
    EXPECT_EQ(query.value(Qt::ImSurroundingText).toString(), QString());
    EXPECT_EQ(query.value(Qt::ImCursorPosition).toInt(), 0);
    EXPECT_EQ(query.value(Qt::ImFont).value<QFont>(), c.view.terminalFont());

    TextRange actual;
    EXPECT_EQ(c.view.firstRectForCharacterRange({3, 2}, &actual), QRect()); // not in a window yet
    EXPECT_EQ(actual, (TextRange{3, 2}));
}

// What the overlay itself paints, on a transparent image.
QImage rendered(QWidget& widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// Whether anything was painted at a pixel of the overlay.
bool painted(const QImage& image, int x, int y) { return qAlpha(image.pixel(x, y)) != 0; }

TEST(InputMethod, OverlayStartsAtTheCaretAndWrapsToTheLeftEdge)
{
    ComposingView c;
    const CellDimension cell = *c.view.cellDimension;
    c.feed("\x1b[3;11H"); // column 10, row 2
    c.view.updateCaretView();
    const QRect caret = c.view.caretFrame();
    ASSERT_GT(caret.x(), 8);

    // Three blank cells first, then enough words to wrap.
    QString text = QStringLiteral("   ");
    for (int i = 0; i < 40; ++i)
        text += QStringLiteral("word ");
    c.inputMethod({}, text);
    QWidget* overlay = c.overlay();
    ASSERT_NE(overlay, nullptr);

    EXPECT_EQ(overlay->x(), 4);
    EXPECT_EQ(overlay->y(), caret.y());
    EXPECT_EQ(overlay->width(), static_cast<int>(std::ceil(c.view.width() - c.view.scrollerWidth() - 8)));
    // Whole rows of cells.
    const double rows = std::round(overlay->height() / cell.height);
    EXPECT_GE(rows, 2);
    EXPECT_EQ(overlay->height(), static_cast<int>(std::ceil(rows * cell.height)));

    const QImage image = rendered(*overlay);
    const int indent = caret.x() - 4;
    const int middle = static_cast<int>(cell.height / 2);
    // The first line starts at the caret: nothing left of it, the background behind the
    // leading blanks in the terminal's background colour.
    EXPECT_FALSE(painted(image, indent - 2, middle));
    ASSERT_TRUE(painted(image, indent + 2, middle));
    EXPECT_EQ(image.pixel(indent + 2, middle), c.view.effectiveBackgroundColor().rgb());
    // Later lines start at the overlay's left edge.
    EXPECT_TRUE(painted(image, 1, static_cast<int>(cell.height) + middle));
}

TEST(InputMethod, OverlayBackgroundFollowsReverseVideo)
{
    ComposingView c;
    c.feed("\x1b[?5h");
    c.view.updateCaretView();
    c.inputMethod({}, QStringLiteral("   x"));
    ASSERT_NE(c.overlay(), nullptr);
    const QImage image = rendered(*c.overlay());
    const int indent = std::max(c.view.caretFrame().x() - 4, 0);
    EXPECT_EQ(image.pixel(indent + 2, static_cast<int>(c.view.cellDimension->height / 2)),
              c.view.nativeForegroundColor().rgb());
}

} // namespace
} // namespace corvantix

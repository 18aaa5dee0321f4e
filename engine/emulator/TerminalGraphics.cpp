// The terminal's side of inline images: it hands each APC "G" string to the graphics code
// and lends it the screen, the cursor and the host through KittyGraphicsHost.
#include "emulator/Terminal.h"
#include "graphics/KittyGraphics.h"
#include "graphics/KittyPlaceholder.h"
#include "graphics/SixelDcsHandler.h"

namespace corvantix {

namespace {

struct GraphicsFile;

} // namespace

template <>
struct TerminalFileHelpers<GraphicsFile> {
    // The graphics store keeps its placement request on the terminal while a put runs.
    static std::optional<KittyPlacementContext>& placementContext(Terminal& terminal)
    {
        return terminal.kittyPlacementContext_;
    }
};

namespace {

using GraphicsHelpers = TerminalFileHelpers<GraphicsFile>;

class TerminalGraphicsHost final : public KittyGraphicsHost {
public:
    explicit TerminalGraphicsHost(Terminal& terminal) : terminal_(terminal) {}

    void send(std::span<const std::uint8_t> bytes) override
    {
        terminal_.sendResponse(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    }
    bool sendsEightBitControls() const override { return terminal_.cc().send8bit; }
    std::int64_t imageCacheLimitBytes() const override { return terminal_.options().kittyImageCacheLimitBytes; }
    bool allowsLocalImageMedia() const override { return !terminal_.options().fedByRemoteHost; }

    int cursorX() const override { return terminal_.buffer().x(); }
    int cursorY() const override { return terminal_.buffer().y(); }
    void setCursorX(int x) override { terminal_.buffer().setX(x); }
    void setCursorY(int y) override { terminal_.buffer().setY(y); }
    int yBase() const override { return terminal_.buffer().yBase(); }
    int cols() const override { return terminal_.cols(); }
    int rows() const override { return terminal_.rows(); }
    int maximumLineCount() const override { return terminal_.buffer().lines().maxLength(); }
    bool alternateScreenActive() const override { return terminal_.isCurrentBufferAlternate(); }
    void index() override { terminal_.cmdIndex(); }
    void restrictCursor() override { terminal_.restrictCursor(true); }
    Buffer& normalScreen() override { return terminal_.normalBuffer(); }
    Buffer& alternateScreen() override { return terminal_.altBuffer(); }
    Buffer& activeScreen() override { return terminal_.buffer(); }
    void updateRange(int row) override { terminal_.updateRange(row); }
    bool isKittyPlaceholderCode(std::int32_t code) const override
    {
        const auto found = terminal_.indexToCharMap().find(code);
        return found != terminal_.indexToCharMap().end() && !found->second.empty()
            && found->second.front() == kittyPlaceholderCharacter;
    }

    std::optional<PixelSize> cellSizeInPixels() override
    {
        TerminalDelegate* host = terminal_.delegate();
        if (!host)
            return std::nullopt;
        const auto size = host->cellSizeInPixels(terminal_);
        if (!size)
            return std::nullopt;
        return PixelSize{size->width, size->height};
    }
    std::optional<KittyPlacementContext>& placementContext() override { return GraphicsHelpers::placementContext(terminal_); }
    void createImageFromBitmap(std::vector<std::uint8_t>& rgba, int width, int height) override
    {
        if (TerminalDelegate* host = terminal_.delegate())
            host->createImageFromBitmap(terminal_, rgba, width, height);
    }
    void createImage(std::span<const std::uint8_t> data, ImageSizeRequest width, ImageSizeRequest height,
                     bool preserveAspectRatio) override
    {
        if (TerminalDelegate* host = terminal_.delegate())
            host->createImage(terminal_, data, width, height, preserveAspectRatio);
    }

private:
    Terminal& terminal_;
};

// The Sixel handler as the parser drives it, with the terminal as its host.
class TerminalSixelHandler final : public DcsHandler, private SixelHost {
public:
    explicit TerminalSixelHandler(Terminal& terminal) : terminal_(terminal), sixel_(*this) {}

    void hook(std::span<const std::uint8_t>, std::span<const int>, std::uint8_t) override { sixel_.hook(); }
    void put(std::span<const std::uint8_t> data) override { sixel_.put(data); }
    void unhook() override { sixel_.unhook(); }

private:
    std::optional<std::uint32_t> defaultColorRegister(int number) const override
    {
        if (number < 0 || static_cast<std::size_t>(number) >= terminal_.defaultAnsiColors().size())
            return std::nullopt;
        const Color& color = terminal_.defaultAnsiColors()[static_cast<std::size_t>(number)];
        return static_cast<std::uint32_t>(color.red >> 8) << 24 | static_cast<std::uint32_t>(color.green >> 8) << 16
            | static_cast<std::uint32_t>(color.blue >> 8) << 8 | 0xFF;
    }
    void createImageFromBitmap(std::vector<std::uint8_t>& rgba, int width, int height) override
    {
        if (TerminalDelegate* host = terminal_.delegate())
            host->createImageFromBitmap(terminal_, rgba, width, height);
    }

    Terminal& terminal_; // owns the parser that owns this handler
    SixelDcsHandler sixel_;
};

} // namespace

std::unique_ptr<DcsHandler> Terminal::makeSixelDcsHandler()
{
    return std::make_unique<TerminalSixelHandler>(*this);
}

void Terminal::handleKittyGraphicsCommand(std::span<const std::uint8_t> payload)
{
    TerminalGraphicsHost host(*this);
    KittyGraphics(kittyGraphicsState_, host).handleKittyGraphicsCommand(payload);
}

void Terminal::refreshKittyPlaceholderRows()
{
    if (kittyGraphicsState_.placeholderChanges.empty())
        return;
    TerminalGraphicsHost host(*this);
    KittyGraphics(kittyGraphicsState_, host).refreshKittyPlaceholderRows();
}

void Terminal::dropKittyPlacementsOfScreen(Buffer& screen, bool isAlternate)
{
    TerminalGraphicsHost host(*this);
    KittyGraphics(kittyGraphicsState_, host).dropKittyPlacementsOfScreen(screen, isAlternate);
}

void Terminal::reanchorKittyPlacementsAfterScroll()
{
    TerminalGraphicsHost host(*this);
    KittyGraphics(kittyGraphicsState_, host).reanchorKittyPlacementsAfterScroll();
}

} // namespace corvantix

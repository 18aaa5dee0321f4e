// The terminal's side of inline images: it hands each APC "G" string to the graphics code
// and lends it the screen, the cursor and the host through KittyGraphicsHost.
#include "emulator/Terminal.h"
#include "graphics/KittyGraphics.h"

namespace corvantix {

namespace {

class TerminalGraphicsHost final : public KittyGraphicsHost {
public:
    explicit TerminalGraphicsHost(Terminal& terminal) : terminal_(terminal) {}

    void send(std::span<const std::uint8_t> bytes) override
    {
        terminal_.sendResponse(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    }
    bool sendsEightBitControls() const override { return terminal_.cc.send8bit; }
    std::int64_t imageCacheLimitBytes() const override { return terminal_.options.kittyImageCacheLimitBytes; }

    int cursorX() const override { return terminal_.buffer->x(); }
    int cursorY() const override { return terminal_.buffer->y(); }
    void setCursorX(int x) override { terminal_.buffer->setX(x); }
    void setCursorY(int y) override { terminal_.buffer->setY(y); }
    int yBase() const override { return terminal_.buffer->yBase(); }
    int cols() const override { return terminal_.cols; }
    int rows() const override { return terminal_.rows; }
    int maximumLineCount() const override { return terminal_.buffer->lines().maxLength(); }
    bool alternateScreenActive() const override { return terminal_.isCurrentBufferAlternate(); }
    void index() override { terminal_.cmdIndex(); }
    void restrictCursor() override { terminal_.restrictCursor(true); }

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
    KittyPlacementContext& placementContext() override { return terminal_.kittyPlacementContext; }
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

} // namespace

void Terminal::handleKittyGraphicsCommand(std::span<const std::uint8_t> payload)
{
    TerminalGraphicsHost host(*this);
    KittyGraphics(kittyGraphicsState, host).handleKittyGraphicsCommand(payload);
}

} // namespace corvantix

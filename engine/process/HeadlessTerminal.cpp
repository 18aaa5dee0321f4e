#include "process/HeadlessTerminal.h"

#include "process/PseudoTerminal.h"

#include <utility>

namespace corvantix {

HeadlessTerminal::HeadlessTerminal(MainQueue& queue, const TerminalOptions& options, EndHandler onEnd)
    : queue_(queue)
    , onEnd(std::move(onEnd))
    , terminal_(this, options, &queue)
    , process_(this, queue)
{
}

HeadlessTerminal::~HeadlessTerminal()
{
    lifetime.reset();
    // Nothing the terminal does while it is torn down may reach this half-destroyed host.
    terminal_.setDelegate(nullptr);
}

// ---------------------------------------------------------------- Host input

void HeadlessTerminal::send(std::span<const std::uint8_t> bytes)
{
    // The scan may run after the caller has reused its buffer.
    queue_.post([weak = std::weak_ptr<HeadlessTerminal*>(lifetime),
                 copy = std::vector<std::uint8_t>(bytes.begin(), bytes.end())] {
        if (const auto self = weak.lock())
            (*self)->terminal_.registerUserInput(copy);
    });
    process_.send(bytes);
}

void HeadlessTerminal::sendText(std::string_view text)
{
    send(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void HeadlessTerminal::changeScrollback(std::optional<int> lines)
{
    terminal_.changeHistorySize(lines);
}

// ---------------------------------------------------------------- Images

void HeadlessTerminal::appendImage(Image image)
{
    if (images_.size() >= maximumImages)
        images_.erase(images_.begin(), images_.begin() + static_cast<std::ptrdiff_t>(images_.size() - maximumImages + 1));
    images_.push_back(std::move(image));
}

void HeadlessTerminal::setImages(std::vector<Image> images)
{
    if (images.size() > maximumImages)
        images.erase(images.begin(), images.begin() + static_cast<std::ptrdiff_t>(images.size() - maximumImages));
    images_ = std::move(images);
}

// ---------------------------------------------------------------- LocalProcessDelegate

void HeadlessTerminal::processTerminated(LocalProcess&, std::optional<std::int32_t> exitCode)
{
    if (onEnd)
        onEnd(exitCode);
}

void HeadlessTerminal::dataReceived(std::span<const std::uint8_t> slice)
{
    terminal_.feed(slice);
}

winsize HeadlessTerminal::getWindowSize()
{
    return PseudoTerminalHelpers::makeWinSize(terminal_.rows(), terminal_.cols(), 16, 16);
}

// ---------------------------------------------------------------- TerminalDelegate

void HeadlessTerminal::send(Terminal&, std::span<const std::uint8_t> bytes)
{
    // Replies are the terminal's own bytes, not the user's: no scan for a submitted command,
    // and bounded for a program that never reads them.
    process_.sendReply(bytes);
}

bool HeadlessTerminal::trustsHost(Terminal&)
{
    return true;
}

void HeadlessTerminal::hostCurrentDirectoryUpdated(Terminal& source)
{
    dir_ = source.hostCurrentDirectory();
}

void HeadlessTerminal::createImageFromBitmap(Terminal& source, std::vector<std::uint8_t>& bitmap, int width, int height)
{
    Image image;
    image.col = source.buffer().x();
    image.row = source.buffer().y();
    image.kind = Image::Kind::bitmap;
    image.data = std::move(bitmap);
    image.width = width;
    image.height = height;
    appendImage(std::move(image));
}

void HeadlessTerminal::createImage(Terminal& source, std::span<const std::uint8_t> data, ImageSizeRequest width,
                                   ImageSizeRequest height, bool preserveAspectRatio)
{
    Image image;
    image.col = source.buffer().x();
    image.row = source.buffer().y();
    image.kind = Image::Kind::encoded;
    image.data.assign(data.begin(), data.end());
    image.widthRequest = width;
    image.heightRequest = height;
    image.preserveAspectRatio = preserveAspectRatio;
    appendImage(std::move(image));
}

} // namespace corvantix

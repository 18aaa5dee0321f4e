// A terminal driven by a real child program, without any view: the child's output is fed
// to a Terminal, and the terminal's replies (device status, attributes, ...) go straight
// back to the child. For hosts that want the screen contents or the child's bytes rather
// than a drawing of them: tests, command-line tools, automation.
//
// Everything but `send` runs on the thread of the main queue given at construction; the
// terminal is fed there, so a host reads it there too. The main queue must outlive this
// object.
#pragma once

#include "emulator/Terminal.h"
#include "emulator/TerminalDelegate.h"
#include "emulator/TerminalOptions.h"
#include "graphics/ImageSizeRequest.h"
#include "platform/MainQueue.h"
#include "process/LocalProcess.h"
#include "process/LocalProcessDelegate.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvantix {

// Two interfaces meet here and both name a `send`: send(bytes) is the host's input for the
// child (scanned for a submitted command), send(Terminal&, bytes) the emulator's replies
// (written unscanned). They differ by their parameters, so both keep their names.
class HeadlessTerminal : public TerminalDelegate, public LocalProcessDelegate {
public:
    // An image the terminal handed over: decoded pixels (Sixel, Kitty RGBA) or an encoded
    // file (OSC 1337 inline file, Kitty PNG) with the size the program asked for.
    struct Image {
        enum class Kind : std::uint8_t { bitmap, encoded };

        Kind kind = Kind::bitmap;
        std::vector<std::uint8_t> data; // RGBA rows (bitmap) or the file's bytes (encoded)
        int width = 0;                  // pixels; bitmap only
        int height = 0;                 // pixels; bitmap only
        ImageSizeRequest widthRequest;  // encoded only
        ImageSizeRequest heightRequest; // encoded only
        bool preserveAspectRatio = true; // encoded only
        int col = 0;                    // the cursor's cell when the image arrived
        int row = 0;
    };

    // A program can send images without end; only the newest are kept, so a host that never
    // looks at them does not grow without bound.
    static constexpr std::size_t maximumImages = 64;

    // Called when the child ends, with the raw wait status LocalProcess reports (decode it
    // with WIFEXITED and friends).
    using EndHandler = std::function<void(std::optional<std::int32_t> exitCode)>;

    // Builds the terminal (this object as its delegate) and an idle process (this object as
    // its delegate, output delivered on `queue`). The host starts the child with
    // process().startProcess(...).
    HeadlessTerminal(MainQueue& queue, const TerminalOptions& options, EndHandler onEnd);
    ~HeadlessTerminal() override;
    HeadlessTerminal(const HeadlessTerminal&) = delete;
    HeadlessTerminal& operator=(const HeadlessTerminal&) = delete;

    Terminal& terminal() { return terminal_; }
    const Terminal& terminal() const { return terminal_; }
    LocalProcess& process() { return process_; }
    const LocalProcess& process() const { return process_; }
    MainQueue& queue() const { return queue_; }
    // The last directory the child reported (OSC 7), as the terminal stored it.
    const std::optional<std::string>& dir() const { return dir_; }
    // The images handed over, oldest first; at most `maximumImages`.
    const std::vector<Image>& images() const { return images_; }
    // Replaces the list (a host that consumed the images clears it); the newest
    // `maximumImages` are kept.
    void setImages(std::vector<Image> images);

    // The host's input for the child, from any thread: written at once on the caller's
    // thread; the scan for a submitted command runs later on the queue.
    void send(std::span<const std::uint8_t> bytes);
    // The text's UTF-8 bytes through send.
    void sendText(std::string_view text);
    // History lines of the normal screen (none: no history); marks the first and last rows
    // changed.
    void changeScrollback(std::optional<int> lines);

    // LocalProcessDelegate
    void processTerminated(LocalProcess& source, std::optional<std::int32_t> exitCode) override;
    void dataReceived(std::span<const std::uint8_t> slice) override;
    // The terminal's rows and columns, 16 x 16 pixels, each clamped to its 16-bit field.
    winsize getWindowSize() override;

    // TerminalDelegate: the callbacks with an effect here; the rest keep the interface's
    // defaults (nothing done, none answered, colours stored into the terminal).
    void send(Terminal& source, std::span<const std::uint8_t> bytes) override;
    // This host runs the programs it was asked to run: OSC 7 and DECRQCRA are honoured.
    bool trustsHost(Terminal& source) override;
    void hostCurrentDirectoryUpdated(Terminal& source) override;
    void createImageFromBitmap(Terminal& source, std::vector<std::uint8_t>& bitmap, int width, int height) override;
    void createImage(Terminal& source, std::span<const std::uint8_t> data, ImageSizeRequest width,
                     ImageSizeRequest height, bool preserveAspectRatio) override;

private:
    void appendImage(Image image);

    MainQueue& queue_;
    EndHandler onEnd;
    std::optional<std::string> dir_;
    std::vector<Image> images_;
    // Declared before the process: the process is destroyed first, so no output reaches a
    // terminal that is gone.
    Terminal terminal_;
    LocalProcess process_;
    // Expires with this object: a scan queued by `send` finds it gone.
    std::shared_ptr<HeadlessTerminal*> lifetime = std::make_shared<HeadlessTerminal*>(this);
};

} // namespace corvantix

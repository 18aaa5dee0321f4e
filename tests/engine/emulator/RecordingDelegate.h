// A terminal delegate for tests: records every callback as a line of text, keeps every
// byte sent, and answers the questions a host is asked with values the test sets.
// The colour callbacks record, then behave like the default host (store into the terminal).
#pragma once

#include "emulator/Terminal.h"
#include "emulator/TerminalDelegate.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvantix::test {

class RecordingDelegate : public TerminalDelegate {
public:
    // One entry per callback, e.g. "showCursor", "setTerminalTitle(abc)", "colorChanged(none)",
    // "synchronizedOutputChanged(true)", "send(3)".
    std::vector<std::string> events;
    // Every byte sent, in order, and the bytes of each send call.
    std::string sent;
    std::vector<std::string> sends;
    // Answers.
    bool trusts = true;
    std::optional<CellPixelSize> cellSize;
    std::optional<std::vector<std::uint8_t>> windowCommandAnswer;
    std::optional<std::vector<std::uint8_t>> clipboardContent;
    std::optional<TerminalColors> colors; // none: the terminal's own colours
    // Number of events equal to `event`.
    int count(std::string_view event) const { return static_cast<int>(std::count(events.begin(), events.end(), event)); }
    // Number of events whose name (the text before "(") is `name`.
    int countNamed(std::string_view name) const
    {
        return static_cast<int>(std::count_if(events.begin(), events.end(), [&](const std::string& e) {
            return std::string_view(e).substr(0, e.find('(')) == name;
        }));
    }
    // The events other than sends.
    std::vector<std::string> eventsBesidesSends() const
    {
        std::vector<std::string> result;
        std::copy_if(events.begin(), events.end(), std::back_inserter(result),
                     [](const std::string& e) { return !e.starts_with("send("); });
        return result;
    }
    void clear()
    {
        events.clear();
        sent.clear();
        sends.clear();
    }
    static std::string text(std::span<const std::uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }
    void showCursor(Terminal&) override { events.push_back("showCursor"); }
    void hideCursor(Terminal&) override { events.push_back("hideCursor"); }
    void setTerminalTitle(Terminal&, const std::string& title) override
    {
        events.push_back("setTerminalTitle(" + title + ")");
    }
    void setTerminalIconTitle(Terminal&, const std::string& title) override
    {
        events.push_back("setTerminalIconTitle(" + title + ")");
    }
    std::optional<std::vector<std::uint8_t>> windowCommand(Terminal&, const WindowManipulationCommand& command) override
    {
        events.push_back("windowCommand(" + std::to_string(static_cast<int>(command.kind)) + ","
                         + std::to_string(command.first) + "," + std::to_string(command.second) + ")");
        return windowCommandAnswer;
    }
    void sizeChanged(Terminal&) override { events.push_back("sizeChanged"); }
    void send(Terminal&, std::span<const std::uint8_t> data) override
    {
        events.push_back("send(" + std::to_string(data.size()) + ")");
        sends.push_back(text(data));
        sent += sends.back();
    }
    void scrolled(Terminal&, int yDisp) override { events.push_back("scrolled(" + std::to_string(yDisp) + ")"); }
    void linefeed(Terminal&) override { events.push_back("linefeed"); }
    void bufferActivated(Terminal&) override { events.push_back("bufferActivated"); }
    void synchronizedOutputChanged(Terminal&, bool active) override
    {
        events.push_back(std::string("synchronizedOutputChanged(") + (active ? "true" : "false") + ")");
    }
    void bell(Terminal&) override { events.push_back("bell"); }
    void selectionChanged(Terminal&) override { events.push_back("selectionChanged"); }
    bool trustsHost(Terminal&) override { events.push_back("trustsHost"); return trusts; }
    std::optional<CellPixelSize> cellSizeInPixels(Terminal&) override
    {
        events.push_back("cellSizeInPixels");
        return cellSize;
    }
    void mouseModeChanged(Terminal&) override { events.push_back("mouseModeChanged"); }
    void cursorStyleChanged(Terminal&, CursorStyle style) override
    {
        events.push_back("cursorStyleChanged(" + std::string(rawValue(style)) + ")");
    }
    void hostCurrentDirectoryUpdated(Terminal&) override { events.push_back("hostCurrentDirectoryUpdated"); }
    void hostCurrentDocumentUpdated(Terminal&) override { events.push_back("hostCurrentDocumentUpdated"); }
    void colorChanged(Terminal&, std::optional<int> index) override
    {
        events.push_back("colorChanged(" + (index ? std::to_string(*index) : std::string("none")) + ")");
    }
    void setForegroundColor(Terminal& source, const Color& color) override
    {
        events.push_back("setForegroundColor(" + color.formatXcolor() + ")");
        TerminalDelegate::setForegroundColor(source, color);
    }
    void setBackgroundColor(Terminal& source, const Color& color) override
    {
        events.push_back("setBackgroundColor(" + color.formatXcolor() + ")");
        TerminalDelegate::setBackgroundColor(source, color);
    }
    void setCursorColor(Terminal& source, const std::optional<Color>& color) override
    {
        events.push_back("setCursorColor(" + (color ? color->formatXcolor() : std::string("none")) + ")");
        TerminalDelegate::setCursorColor(source, color);
    }
    TerminalColors getColors(Terminal& source) override
    {
        events.push_back("getColors");
        return colors ? *colors : TerminalDelegate::getColors(source);
    }
    void inlineContentReceived(Terminal&, std::span<const std::uint8_t> content) override
    {
        events.push_back("inlineContentReceived(" + text(content) + ")");
    }
    void clipboardCopy(Terminal&, std::span<const std::uint8_t> content) override
    {
        events.push_back("clipboardCopy(" + text(content) + ")");
    }
    std::optional<std::vector<std::uint8_t>> clipboardRead(Terminal&) override
    {
        events.push_back("clipboardRead");
        return clipboardContent;
    }
    void notify(Terminal&, const std::string& title, const std::string& body) override
    {
        events.push_back("notify(" + title + "," + body + ")");
    }
    void progressReport(Terminal&, const ProgressReport& report) override
    {
        events.push_back("progressReport(" + std::to_string(static_cast<int>(report.state)) + ","
                         + (report.progress ? std::to_string(*report.progress) : std::string("none")) + ")");
    }
    void createImageFromBitmap(Terminal&, std::vector<std::uint8_t>& bytes, int width, int height) override
    {
        events.push_back("createImageFromBitmap(" + std::to_string(bytes.size()) + "," + std::to_string(width) + ","
                         + std::to_string(height) + ")");
    }
    void createImage(Terminal&, std::span<const std::uint8_t> data, ImageSizeRequest width, ImageSizeRequest height,
                     bool preserveAspectRatio) override
    {
        events.push_back("createImage(" + std::to_string(data.size()) + "," + width.description() + ","
                         + height.description() + "," + (preserveAspectRatio ? "true" : "false") + ")");
    }
};

} // namespace corvantix::test

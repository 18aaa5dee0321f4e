// Shared helpers of the widget tests: a recording view delegate, views with a chosen
// backing scale, event-loop waiting and screen text.
#pragma once

#include "view/TerminalViewDelegate.h"
#include "view/qt/LocalProcessTerminalView.h"
#include "view/qt/TerminalView.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <string>
#include <utility>
#include <vector>

namespace corvantix::testing {

inline std::string text(std::span<const std::uint8_t> bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// Runs the event loop until the condition holds or the time is up.
template <typename Condition>
bool waitUntil(Condition condition, int milliseconds = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

// Every line the active screen holds, as shown.
inline std::string screenText(const Terminal& terminal)
{
    std::string out;
    const Buffer& buffer = *terminal.buffer;
    for (int i = 0; i < buffer.lines().count(); ++i)
        out += terminal.lineDisplayText(*buffer.lines()[i]) + "\n";
    return out;
}

class RecordingViewDelegate : public TerminalViewDelegate {
public:
    void sizeChanged(TerminalView&, int newCols, int newRows) override { sizes.emplace_back(newCols, newRows); }
    void titleChanged(TerminalView&, const std::string& title) override { titles.push_back(title); }
    void currentDirectoryChanged(TerminalView&, const std::optional<std::string>& directory) override
    {
        directories.push_back(directory);
    }
    void send(TerminalView&, std::span<const std::uint8_t> data) override { sent += text(data); }
    void scrolled(TerminalView&, double position) override { positions.push_back(position); }
    void requestOpenLink(TerminalView&, const std::string& link, const std::map<std::string, std::string>&) override
    {
        links.push_back(link);
    }
    void bell(TerminalView& source) override
    {
        flashesAtBell.push_back(source.findChildren<QWidget*>(QStringLiteral("visualBell")).size());
    }
    void clipboardCopy(TerminalView&, std::span<const std::uint8_t> content) override { copied.push_back(text(content)); }
    std::optional<std::vector<std::uint8_t>> clipboardRead(TerminalView&) override { return clipboard; }
    void inlineContentReceived(TerminalView&, std::span<const std::uint8_t> content) override
    {
        inlineContent.push_back(text(content));
    }
    void rowsChanged(TerminalView&, int startY, int endY) override { redraws.emplace_back(startY, endY); }

    std::vector<std::pair<int, int>> sizes;
    std::vector<std::string> titles;
    std::vector<std::optional<std::string>> directories;
    std::string sent;
    std::vector<double> positions;
    std::vector<std::string> links;
    std::vector<qsizetype> flashesAtBell; // visual-bell flashes present when the sound was asked for
    std::vector<std::string> copied;
    std::optional<std::vector<std::uint8_t>> clipboard;
    std::vector<std::string> inlineContent;
    std::vector<std::pair<int, int>> redraws;
};

// Keeps every send apart, so that "ESC, then a" is told from "ESC a".
class SendLog : public RecordingViewDelegate {
public:
    void send(TerminalView& source, std::span<const std::uint8_t> data) override
    {
        RecordingViewDelegate::send(source, data);
        sends.push_back(text(data));
    }
    std::vector<std::string> sends;
};

// A view on a display of a chosen backing scale.
template <typename Base>
class Scaled : public Base {
public:
    using Base::Base;
    double backingScaleFactor() const override { return scale; }
    double scale = 1.0;
};

} // namespace corvantix::testing

// Shared helpers of the widget tests: a recording view delegate, one view fixture on a manual
// clock that sends synthesized Qt events, views with a chosen backing scale, event-loop waiting
// and screen text.
#pragma once

#include "platform/ManualMainQueue.h"
#include "view/Pasteboard.h"
#include "view/TerminalViewDelegate.h"
#include "view/qt/LocalProcessTerminalView.h"
#include "view/qt/TerminalView.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QThread>

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace corvantix::testing {

inline std::string text(std::span<const std::uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

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
    const Buffer& buffer = terminal.buffer();
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

// A view on a manual clock, with a delegate that keeps every send apart and in-memory
// clipboards. The clock starts at 0, which reads as "no input yet": it is moved on first.
struct ViewFixture {
    explicit ViewFixture(QRect frame = QRect(0, 0, 640, 400), std::optional<QFont> font = std::nullopt)
        : view(frame, std::move(font), TerminalOptions::defaultOptions(), nullptr, &queue)
    {
        view.terminalDelegate = &delegate;
        view.generalPasteboard = pasteboard;
        view.findPasteboard = findPasteboard;
        queue.advance(std::chrono::seconds(1));
    }
    ~ViewFixture() { view.terminalDelegate = nullptr; }

    // Output of the program; what the view sent before it is forgotten.
    void feed(std::string_view bytes)
    {
        view.feedText(bytes);
        delegate.sent.clear();
        delegate.sends.clear();
    }

    void key(QEvent::Type type, int code, Qt::KeyboardModifiers modifiers = {}, const QString& text = {},
             quint32 scanCode = 0, bool autoRepeat = false, QWidget* target = nullptr)
    {
        QKeyEvent event(type, code, modifiers, scanCode, 0, 0, text, autoRepeat);
        QCoreApplication::sendEvent(target != nullptr ? target : &view, &event);
    }

    // The middle of a cell of the screen.
    QPointF at(double col, double row) const
    {
        return QPointF((col + 0.5) * view.cellDimension->width, (row + 0.5) * view.cellDimension->height);
    }
    void mouse(QEvent::Type type, QPointF point, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers = {})
    {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, point, view.mapToGlobal(point), button, buttons, modifiers);
        event.setTimestamp(time);
        QCoreApplication::sendEvent(&view, &event);
    }
    // A press and release at a cell; a click long after the last one unless `quick`.
    void click(int col, int row, Qt::KeyboardModifiers modifiers = {}, bool quick = false,
               QEvent::Type pressType = QEvent::MouseButtonPress)
    {
        time += quick ? 50 : 5000;
        mouse(pressType, at(col, row), Qt::LeftButton, modifiers);
        mouse(QEvent::MouseButtonRelease, at(col, row), Qt::NoButton, modifiers);
    }
    void drag(QPointF point, Qt::KeyboardModifiers modifiers = {})
    {
        time += 20;
        mouse(QEvent::MouseMove, point, Qt::LeftButton, modifiers);
    }
    std::string selected() const { return view.selection->active() ? view.selection->getSelectedText() : "<none>"; }

    ManualMainQueue queue;
    SendLog delegate;
    std::shared_ptr<MemoryPasteboard> pasteboard = std::make_shared<MemoryPasteboard>();
    std::shared_ptr<MemoryPasteboard> findPasteboard = std::make_shared<MemoryPasteboard>();
    TerminalView view;
    quint64 time = 100000; // of the pointer events
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

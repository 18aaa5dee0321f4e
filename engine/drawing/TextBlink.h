// Blinking text: cells with the blink attribute are drawn only while the view's
// textBlinkVisible flag is set, and a 0.7 s timer flips it while such cells are on screen.
// The timer runs only while the view is in a window, the application is active and the user
// has not asked for reduced motion; whenever it stops, the text is left visible.
//
// Platform-free: the timer is delayed work on the main queue, so tests drive it with a
// manual clock. The view forwards the application's activation and the reduce-motion
// setting, and calls updateTextBlinkTimer on each display pass.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "emulator/Terminal.h"
#include "platform/MainQueue.h"

namespace corvantix {

// The absolute rows from the active buffer's yDisp to the smaller of yDisp + rows and its
// line count that hold a blinking cell among their first `cols` cells (the last cell standing
// in for columns past the line's end).
std::vector<int> rowsWithBlinkingText(const Terminal& terminal, int cols);

class TextBlinkTimer {
public:
    static constexpr std::chrono::milliseconds interval{700};

    // `visible` is the view's textBlinkVisible flag, which this object flips; `queueRedraw`
    // asks the view for one redraw pass. Both must outlive this object.
    TextBlinkTimer(MainQueue& queue, Terminal& terminal, bool& visible, std::function<void()> queueRedraw);
    ~TextBlinkTimer();
    TextBlinkTimer(const TextBlinkTimer&) = delete;
    TextBlinkTimer& operator=(const TextBlinkTimer&) = delete;

    // What gates the timer besides blinking text on screen.
    bool inWindow = true;
    bool applicationActive = true;
    bool reduceMotion = false;

    // The application became active or inactive (its activation notifications).
    void setApplicationActive(bool active);
    // The reduce-motion setting changed.
    void setReduceMotion(bool value);

    // Starts the timer when blinking text is visible and the gates allow it; otherwise stops
    // it and leaves the text visible. Main thread.
    void updateTextBlinkTimer();
    // One period: flips the flag and marks the blinking rows for redraw.
    void textBlinkTick();
    // The view goes away: no timer, text visible.
    void stopTextBlink();

    bool isRunning() const { return token_.has_value(); }

private:
    void schedule();
    void markRows(const std::vector<int>& rows);

    MainQueue& queue_;
    Terminal& terminal_;
    bool& visible_;
    std::function<void()> queueRedraw_;
    std::optional<MainQueue::Token> token_;
};

} // namespace corvantix

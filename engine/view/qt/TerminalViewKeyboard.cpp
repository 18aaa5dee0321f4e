// Key events: adapted to KeyInput and decided by the keyboard handler, which reaches back
// into the view through a small sink.
#include "view/qt/TerminalView.h"

#include "view/qt/QtKeyInput.h"

#include <QKeyEvent>

#include <algorithm>

namespace corvantix {

class TerminalView::KeySink final : public KeyboardInputSink {
public:
    explicit KeySink(TerminalView& view) : view(view) {}

    void sendUserInput(std::span<const std::uint8_t> bytes) override { view.sendUserInput(bytes); }
    void scrollPageUp() override { view.scrollTo(std::max(view.terminal->buffer->yDisp() - view.terminal->rows, 0), true); }
    void scrollPageDown() override { view.scrollDown(view.terminal->rows); }
    void insertText(std::string_view text) override { view.keyboard->insertText(text); }
    void clearSelection() override { view.deactivateSelection(); }

private:
    TerminalView& view;
};

void TerminalView::installKeyboard()
{
    keySink = std::make_unique<KeySink>(*this);
    keyboard = std::make_unique<KeyboardInputHandler>(*terminal, *keySink);
}

void TerminalView::keyPressEvent(QKeyEvent* event)
{
    keyboard->optionAsMetaKey = optionAsMetaKey;
    keyboard->backspaceSendsControlH = backspaceSendsControlH;
    keyboard->handleKeyEvent(keyInputFromQKeyEvent(*event));
    event->accept();
}

void TerminalView::keyReleaseEvent(QKeyEvent* event)
{
    keyboard->optionAsMetaKey = optionAsMetaKey;
    keyboard->backspaceSendsControlH = backspaceSendsControlH;
    keyboard->handleKeyEvent(keyInputFromQKeyEvent(*event));
    event->accept();
}

bool TerminalView::focusNextPrevChild(bool)
{
    return false;
}

} // namespace corvantix

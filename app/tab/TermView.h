// The terminal view of a project tab: the engine's process-backed view, with the child's
// output, the user's input, the bell, the child's end, links, pasted images and dropped files
// routed to the tab that owns it.
//
// The tab owns the view; the view holds its tab weakly. Everything runs on the main thread.
#pragma once

#include "view/qt/LocalProcessTerminalView.h"

#include <QByteArray>
#include <QPointer>

#include <cstdint>
#include <optional>

namespace halvoren {

class MacTab;

class TermView : public corvantix::LocalProcessTerminalView {
    Q_OBJECT

public:
    explicit TermView(const QRect& frame, QWidget* parent = nullptr);

    // Set by the tab right after making the view.
    QPointer<MacTab> owner;
    // The generation of the tab's latest start; the child's end is reported with it.
    std::uint64_t generation = 0;

    using LocalProcessTerminalView::bell;
    using LocalProcessTerminalView::processTerminated;
    using LocalProcessTerminalView::requestOpenLink;
    using LocalProcessTerminalView::send;

    // To the emulator, then to the tab as text (invalid UTF-8, also a character cut between
    // two chunks, becomes U+FFFD; the emulator still gets the raw bytes), with whether the
    // chunk changed the text on the screen and how many lines it scrolled in.
    void dataReceived(std::span<const std::uint8_t> slice) override;
    // To the child; a carriage return or line feed in the bytes tells the tab the user
    // submitted something.
    void send(corvantix::TerminalView& source, std::span<const std::uint8_t> data) override;
    // Reported to the tab on a later turn of the event loop, with the generation of now and
    // the child's wait status.
    void processTerminated(corvantix::LocalProcess& source, std::optional<std::int32_t> exitCode) override;
    // A valid URL with a scheme opens as it is; in a tab of this computer, an absolute path
    // (or one from "~") to an existing file or folder opens as that file, a ":line[:column]"
    // after it cut when needed. Through the engine's opener.
    void requestOpenLink(corvantix::TerminalView& source, const std::string& link,
                         const std::map<std::string, std::string>& params) override;
    // The tab's bell hook replaces the desktop's beep.
    void bell() override;
    // Text on the clipboard is pasted as usual; an image alone becomes PNG bytes for the
    // tab's image hook.
    void paste() override;

    // The clipboard's image encoded as PNG; empty when there is none or it cannot be encoded.
    static QByteArray clipboardImageAsPNG();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Tells the tab when the child's window size changed: its program draws its screen again.
    struct GridWatch final : corvantix::LocalProcessTerminalViewDelegate {
        TermView* view = nullptr;
        void sizeChanged(corvantix::LocalProcessTerminalView& source, int newCols, int newRows) override;
        void titleChanged(corvantix::LocalProcessTerminalView&, const std::string&) override {}
        void currentDirectoryChanged(corvantix::TerminalView&, const std::optional<std::string>&) override {}
        void processTerminated(corvantix::TerminalView&, std::optional<std::int32_t>) override {}
    };
    GridWatch gridWatch;

    // A digest of the text of the live screen's rows (not the scrolled-back view) and of which
    // screen is shown, with the grid it was taken on: equal digests mean the same text.
    struct ScreenDigest {
        std::uint64_t digest = 0;
        int cols = 0;
        int rows = 0;
    };
    // After the last chunk; a resize makes it stale.
    std::optional<ScreenDigest> lastDigest;
    ScreenDigest takeDigest() const;
};

} // namespace halvoren

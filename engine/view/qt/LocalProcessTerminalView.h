// A terminal view bound to a child program on a pseudo-terminal: the child's output is fed
// to the view, the user's bytes and the emulator's replies go to the child, grid changes
// become the pseudo-terminal's window size, and title, directory, size and the child's end
// reach the host through LocalProcessTerminalViewDelegate.
//
// Hosts usually subclass it; send, dataReceived, processTerminated, requestOpenLink,
// getWindowSize, scrolled and rowsChanged are virtual for that. The other delegate answers
// are final: the view's own callbacks reach this class's bodies directly.
//
// Three interfaces meet here with callbacks of the same names (send, sizeChanged, bell, ...):
// the emulator's (first argument a Terminal), the view's (a TerminalView) and the process's.
// Their first arguments tell them apart, so each keeps its name; the using-declarations
// below keep the view's own overloads (send(bytes), bell()) visible beside them.
#pragma once

#include "process/LocalProcess.h"
#include "process/LocalProcessDelegate.h"
#include "view/Pasteboard.h"
#include "view/TerminalViewDelegate.h"
#include "view/qt/TerminalView.h"

#include <QUrl>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace corvantix {

class LocalProcessTerminalView;

class LocalProcessTerminalViewDelegate {
public:
    virtual ~LocalProcessTerminalViewDelegate() = default;

    // The grid changed while the child runs (its window size has been set).
    virtual void sizeChanged(LocalProcessTerminalView& source, int newCols, int newRows) = 0;
    virtual void titleChanged(LocalProcessTerminalView& source, const std::string& title) = 0;
    virtual void currentDirectoryChanged(TerminalView& source, const std::optional<std::string>& directory) = 0;
    // The child ended; the raw wait status (decode with WIFEXITED and friends).
    virtual void processTerminated(TerminalView& source, std::optional<std::int32_t> exitCode) = 0;
};

class LocalProcessTerminalView : public TerminalView, public TerminalViewDelegate, public LocalProcessDelegate {
    Q_OBJECT

public:
    explicit LocalProcessTerminalView(QWidget* parent = nullptr);
    LocalProcessTerminalView(const QRect& frame, const std::optional<QFont>& font, const TerminalOptions& options,
                             QWidget* parent = nullptr, MainQueue* queue = nullptr);
    ~LocalProcessTerminalView() override;

    // The child process; idle until startProcess. Hosts call its send and terminate too.
    std::unique_ptr<LocalProcess> process;
    // The host; not owned (a host that goes away first clears it).
    LocalProcessTerminalViewDelegate* processDelegate = nullptr;
    // The clipboard the program may set and read (OSC 52); the desktop's by default.
    std::shared_ptr<Pasteboard> pasteboard;
    // Opens a resolved link target; the desktop's handler by default (tests replace it).
    std::function<void(const QUrl&)> openUrl;

    // Starts the child unless one runs (same arguments as LocalProcess::startProcess); the
    // pseudo-terminal starts with getWindowSize.
    void startProcess(const std::string& executable, const std::vector<std::string>& args = {},
                      const std::optional<std::vector<std::string>>& environment = std::nullopt,
                      const std::optional<std::string>& execName = std::nullopt,
                      const std::optional<std::string>& currentDirectory = std::nullopt);
    // SIGTERM to the child and detach at once; no processTerminated follows.
    void terminate();
    // A directory for a dump of everything the child writes; none turns it off.
    void setLoggingDirectory(const std::optional<std::string>& directory);

    using TerminalView::bell;
    using TerminalView::send;
    using TerminalView::sizeChanged;

    // TerminalViewDelegate
    void sizeChanged(TerminalView& source, int newCols, int newRows) final;
    void titleChanged(TerminalView& source, const std::string& title) final;
    void currentDirectoryChanged(TerminalView& source, const std::optional<std::string>& directory) final;
    // Every byte for the child: the user's input and the emulator's replies.
    void send(TerminalView& source, std::span<const std::uint8_t> data) override;
    void scrolled(TerminalView& source, double position) override;
    // Opens a URL with a scheme, or an existing file (a "~" is the home folder; a
    // ":line[:column]" suffix is cut when only the file without it exists). Anything else
    // is dropped. The parameters are not used.
    void requestOpenLink(TerminalView& source, const std::string& link,
                         const std::map<std::string, std::string>& params) override;
    // The desktop's beep.
    void bell(TerminalView& source) final;
    void clipboardCopy(TerminalView& source, std::span<const std::uint8_t> content) final;
    std::optional<std::vector<std::uint8_t>> clipboardRead(TerminalView& source) final;
    void inlineContentReceived(TerminalView& source, std::span<const std::uint8_t> content) final;
    void rowsChanged(TerminalView& source, int startY, int endY) override;

    // LocalProcessDelegate
    void processTerminated(LocalProcess& source, std::optional<std::int32_t> exitCode) override;
    void dataReceived(std::span<const std::uint8_t> slice) override;
    // The grid, and its size in device pixels (cell size x cells x backing scale), each
    // field clamped to 0..65535; pixel fields 0 while the cell size is unknown.
    winsize getWindowSize() override;

    // The emulator's clipboard callbacks stay the view's (they forward to the ones above).
    using TerminalView::clipboardCopy;
    using TerminalView::clipboardRead;
    using TerminalView::inlineContentReceived;
    using TerminalView::scrolled;

protected:
    // What requestOpenLink opens for a link's text: the URL, or the file URL of the file it
    // names on this computer; none when nothing fits.
    static std::optional<QUrl> resolvedLinkUrl(const std::string& link);
    // Through openUrl when set, else the desktop's handler.
    void openLinkUrl(const QUrl& url);

private:
    void setup();
};

} // namespace corvantix

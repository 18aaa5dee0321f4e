#include "view/qt/LocalProcessTerminalView.h"

#include "emulator/Terminal.h"
#include "process/PseudoTerminal.h"
#include "view/qt/QtPasteboard.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace corvantix {

LocalProcessTerminalView::LocalProcessTerminalView(QWidget* parent) : TerminalView(parent)
{
    setup();
}

LocalProcessTerminalView::LocalProcessTerminalView(const QRect& frame, const std::optional<QFont>& font,
                                                   const TerminalOptions& options, QWidget* parent,
                                                   MainQueue* queue)
    : TerminalView(frame, font, options, parent, queue)
{
    setup();
}

LocalProcessTerminalView::~LocalProcessTerminalView()
{
    // The child is not signalled; the process object stops reading and reaps it.
    process.reset();
    terminalDelegate = nullptr;
}

void LocalProcessTerminalView::setup()
{
    terminalDelegate = this;
    pasteboard = std::make_shared<QtPasteboard>();
    process = std::make_unique<LocalProcess>(this, mainQueue());
}

void LocalProcessTerminalView::startProcess(const std::string& executable, const std::vector<std::string>& args,
                                            const std::optional<std::vector<std::string>>& environment,
                                            const std::optional<std::string>& execName,
                                            const std::optional<std::string>& currentDirectory)
{
    if (process->running())
        return;
    process->startProcess(executable, args, environment, execName, currentDirectory);
}

void LocalProcessTerminalView::terminate()
{
    process->terminate();
}

void LocalProcessTerminalView::setLoggingDirectory(const std::optional<std::string>& directory)
{
    process->setLoggingDir(directory);
}

// ---------------------------------------------------------------- TerminalViewDelegate

void LocalProcessTerminalView::sizeChanged(TerminalView&, int newCols, int newRows)
{
    if (!process->running())
        return;
    const winsize size = getWindowSize();
    PseudoTerminalHelpers::setWinSize(process->childfd(), size);
    if (processDelegate != nullptr)
        processDelegate->sizeChanged(*this, newCols, newRows);
}

void LocalProcessTerminalView::titleChanged(TerminalView&, const std::string& title)
{
    if (processDelegate != nullptr)
        processDelegate->titleChanged(*this, title);
}

void LocalProcessTerminalView::currentDirectoryChanged(TerminalView& source,
                                                       const std::optional<std::string>& directory)
{
    if (processDelegate != nullptr)
        processDelegate->currentDirectoryChanged(source, directory);
}

void LocalProcessTerminalView::send(TerminalView& source, std::span<const std::uint8_t> data)
{
    if (source.sendingReply())
        process->sendReply(data);
    else
        process->send(data);
}

void LocalProcessTerminalView::scrolled(TerminalView&, double) {}

std::optional<QUrl> LocalProcessTerminalView::resolvedLinkUrl(const std::string& link)
{
    const char* home = std::getenv("HOME");
    const std::optional<LinkTarget> target =
        resolveLinkTarget(link, home != nullptr && *home != '\0' ? std::optional<std::string>(home) : std::nullopt,
                          [](const std::string& path) {
                              std::error_code ignored;
                              return std::filesystem::exists(path, ignored);
                          });
    if (!target)
        return std::nullopt;
    const QString value = QString::fromStdString(target->value);
    const QUrl url = target->kind == LinkTarget::Kind::url ? QUrl(value)
                                                           : QUrl::fromLocalFile(QFileInfo(value).absoluteFilePath());
    if (!url.isValid())
        return std::nullopt;
    return url;
}

void LocalProcessTerminalView::openLinkUrl(const QUrl& url)
{
    if (openUrl)
        openUrl(url);
    else
        QDesktopServices::openUrl(url);
}

void LocalProcessTerminalView::requestOpenLink(TerminalView&, const std::string& link,
                                               const std::map<std::string, std::string>&)
{
    if (const std::optional<QUrl> url = resolvedLinkUrl(link))
        openLinkUrl(*url);
}

void LocalProcessTerminalView::bell(TerminalView&)
{
    QApplication::beep();
}

void LocalProcessTerminalView::clipboardCopy(TerminalView&, std::span<const std::uint8_t> content)
{
    const std::optional<std::string> text = decodeUtf8(content);
    if (!text || !pasteboard)
        return;
    pasteboard->setString(*text);
}

std::optional<std::vector<std::uint8_t>> LocalProcessTerminalView::clipboardRead(TerminalView&)
{
    if (!pasteboard)
        return std::nullopt;
    const std::optional<std::string> text = pasteboard->string();
    if (!text)
        return std::nullopt;
    return std::vector<std::uint8_t>(text->begin(), text->end());
}

void LocalProcessTerminalView::inlineContentReceived(TerminalView&, std::span<const std::uint8_t>) {}

void LocalProcessTerminalView::rowsChanged(TerminalView&, int, int) {}

// ---------------------------------------------------------------- LocalProcessDelegate

void LocalProcessTerminalView::processTerminated(LocalProcess&, std::optional<std::int32_t> exitCode)
{
    if (processDelegate != nullptr)
        processDelegate->processTerminated(*this, exitCode);
}

void LocalProcessTerminalView::dataReceived(std::span<const std::uint8_t> slice)
{
    feedBytes(slice);
}

winsize LocalProcessTerminalView::getWindowSize()
{
    const double scale = backingScaleFactor();
    const int rows = terminal->rows();
    const int cols = terminal->cols();
    const CellDimension cell = cellDimension.value_or(CellDimension{});
    return PseudoTerminalHelpers::makeWinSize(rows, cols, scale * (cell.width * cols), scale * (cell.height * rows));
}

} // namespace corvantix

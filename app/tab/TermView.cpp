#include "tab/TermView.h"

#include "tab/MacTab.h"
#include "platform/DetachedProcess.h"
#include "remote/Shell.h"

#include <QBuffer>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace halvoren {

namespace {

// The local files of a drag or drop, in the order given.
QList<QUrl> fileUrls(const QMimeData* data)
{
    QList<QUrl> files;
    if (data == nullptr || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            files.append(url);
    }
    return files;
}

} // namespace

TermView::TermView(const QRect& frame, QWidget* parent)
    : LocalProcessTerminalView(frame, std::nullopt, corvantix::TerminalOptions::defaultOptions(), parent)
{
    setAcceptDrops(true);
    // Links open through the application's own starter, which gives the opener the signals a
    // program expects; without an opener the tab says so.
    openUrl = [this](const QUrl& url) {
        if (!openOnDesktop(url) && owner && owner->onLinkNotOpened)
            owner->onLinkNotOpened(*owner);
    };
    gridWatch.view = this;
    processDelegate = &gridWatch;
}

void TermView::GridWatch::sizeChanged(corvantix::LocalProcessTerminalView&, int, int)
{
    if (view->owner)
        view->owner->gridResized();
}

void TermView::dataReceived(std::span<const std::uint8_t> slice)
{
    // Once per delivered chunk, not per byte: the digest after the previous chunk stands for
    // the screen before this one unless the grid changed size since.
    const bool sameGrid = lastDigest && lastDigest->cols == terminal->cols() && lastDigest->rows == terminal->rows();
    const ScreenDigest before = sameGrid ? *lastDigest : takeDigest();
    const std::uint64_t scrolledBefore = terminal->scrolledLineCount();
    feedBytes(slice);
    const std::uint64_t scrolled = terminal->scrolledLineCount() - scrolledBefore;
    lastDigest = takeDigest();
    if (!owner)
        return;
    const bool changed =
        lastDigest->digest != before.digest || lastDigest->cols != before.cols || lastDigest->rows != before.rows;
    const QByteArray bytes(reinterpret_cast<const char*>(slice.data()), qsizetype(slice.size()));
    owner->handleOutput(Shell::decode(bytes), changed, scrolled);
}

TermView::ScreenDigest TermView::takeDigest() const
{
    // What the terminal's text extraction reads, a row's cells up to its trimmed length, mixed
    // into a 64-bit FNV-style digest straight from the cells: building each row's text costs
    // ten times more, and this runs for every chunk. An empty cell reads as a space, as in the
    // extracted text; a row end is mixed in so that text moving between rows changes it.
    constexpr std::uint64_t prime = 0x100000001B3ull;
    std::uint64_t digest = 0xCBF29CE484222325ull;
    const auto mix = [&digest](std::uint32_t value) {
        digest ^= value;
        digest *= prime;
    };
    const corvantix::Buffer& screen = terminal->buffer();
    const auto& lines = screen.lines();
    mix(terminal->isCurrentBufferAlternate() ? 1 : 0);
    for (int row = 0; row < screen.rows(); ++row) {
        const int index = screen.yBase() + row;
        const corvantix::BufferLine* line = index >= 0 && index < lines.count() ? lines.peek(index).get() : nullptr;
        const int end = line != nullptr ? std::min(line->getTrimmedLength(), line->dataSize()) : 0;
        for (int col = 0; col < end; ++col) {
            const std::int32_t code = line->packedCell(col).code();
            if (code > corvantix::CharData::firstSyntheticCode) {
                for (const char32_t scalar : terminal->getCharacter(code))
                    mix(static_cast<std::uint32_t>(scalar));
            } else {
                mix(code == 0 ? std::uint32_t(U' ') : static_cast<std::uint32_t>(code));
            }
        }
        mix(std::uint32_t(U'\n'));
    }
    return ScreenDigest{digest, terminal->cols(), terminal->rows()};
}

void TermView::send(corvantix::TerminalView&, std::span<const std::uint8_t> data)
{
    process->send(data);
    const bool submits = std::any_of(data.begin(), data.end(), [](std::uint8_t b) { return b == 13 || b == 10; });
    if (submits && owner && owner->onInput)
        owner->onInput(*owner);
}

void TermView::processTerminated(corvantix::LocalProcess& source, std::optional<std::int32_t> exitCode)
{
    LocalProcessTerminalView::processTerminated(source, exitCode);
    const std::uint64_t ended = generation;
    // The view is the timer's context: a view destroyed meanwhile drops the report.
    QTimer::singleShot(0, this, [this, ended, exitCode] {
        if (owner)
            owner->childExited(ended, exitCode);
    });
}

void TermView::requestOpenLink(corvantix::TerminalView&, const std::string& link, const std::map<std::string, std::string>&)
{
    const QUrl url(QString::fromStdString(link), QUrl::StrictMode);
    if (url.isValid() && !url.scheme().isEmpty()) {
        openLinkUrl(url);
        return;
    }
    // Any other text may name a file, of the tab's host: a server's files are not here. A
    // relative path would be read from this program's folder, not the shell's, so it opens
    // nothing rather than a namesake.
    if (!owner || owner->link || !(link.starts_with('/') || link == "~" || link.starts_with("~/")))
        return;
    if (const std::optional<QUrl> file = resolvedLinkUrl(link); file && file->isLocalFile())
        openLinkUrl(*file);
}

void TermView::bell()
{
    if (owner && owner->onBell)
        owner->onBell(*owner);
}

QByteArray TermView::clipboardImageAsPNG()
{
    const QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr)
        return {};
    const QImage image = clipboard->image();
    if (image.isNull())
        return {};
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return {};
    return png;
}

void TermView::paste()
{
    const bool hasText = generalPasteboard && generalPasteboard->string().has_value();
    if (!hasText) {
        const QByteArray png = clipboardImageAsPNG();
        if (!png.isEmpty()) {
            if (owner && owner->onPasteImage)
                owner->onPasteImage(*owner, png);
            return;
        }
    }
    LocalProcessTerminalView::paste();
}

void TermView::dragEnterEvent(QDragEnterEvent* event)
{
    if (fileUrls(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void TermView::dragMoveEvent(QDragMoveEvent* event)
{
    if (fileUrls(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void TermView::dropEvent(QDropEvent* event)
{
    const QList<QUrl> files = fileUrls(event->mimeData());
    if (files.isEmpty()) {
        event->ignore();
        return;
    }
    if (owner && owner->onDropFiles)
        owner->onDropFiles(*owner, files);
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

} // namespace halvoren

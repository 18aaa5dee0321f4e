// Searching the scrollback: the match is selected and scrolled into view; the find bar and
// the find commands drive it.
#include "view/qt/TerminalView.h"

#include "view/qt/ChildPlacement.h"
#include "view/qt/FindBar.h"

#include <QAction>
#include <QKeySequence>
#include <QLineEdit>

#include <algorithm>

namespace corvantix {

namespace {

constexpr int showFindInterfaceTag = 1;
constexpr int nextMatchTag = 2;
constexpr int previousMatchTag = 3;
constexpr int useSelectionForFindTag = 7;
constexpr int hideFindInterfaceTag = 11;

} // namespace

// ---------------------------------------------------------------- Searching

bool TerminalView::performSearch(const std::string& term, const SearchOptions& options, bool scroll, bool forward)
{
    if (!search || !selection)
        return false;
    if (selection->active()) {
        Position start = selection->start;
        Position end = selection->end;
        if (end.row < start.row || (end.row == start.row && end.col < start.col))
            std::swap(start, end);
        search->lastSelection = SearchSelection{start, end};
    } else {
        search->lastSelection.reset();
    }
    const std::optional<SearchResult> result =
        forward ? search->findNext(term, options) : search->findPrevious(term, options);
    if (!result) {
        if (selection->active()) {
            selection->clearSelection();
            update();
        }
        return false;
    }
    const SearchSelection range = SearchSelection::of(*result, terminal->cols());
    selection->setRange(range.start.col, range.start.row, range.end.col, range.end.row);
    if (scroll)
        scrollRowIntoView(result->row);
    update();
    return true;
}

bool TerminalView::findNext(const std::string& term, const SearchOptions& options, bool scroll)
{
    return performSearch(term, options, scroll, true);
}

bool TerminalView::findPrevious(const std::string& term, const SearchOptions& options, bool scroll)
{
    return performSearch(term, options, scroll, false);
}

void TerminalView::clearSearch()
{
    if (search)
        search->reset();
    if (selection && selection->active()) {
        selection->clearSelection();
        update();
    }
}

std::pair<int, int> TerminalView::searchMatchPosition(const std::string& term, const SearchOptions& options,
                                                      int maxCount)
{
    if (!search)
        return {0, 0};
    const std::vector<SearchResult> results = search->findAll(term, options, maxCount);
    const int count = static_cast<int>(results.size());
    if (!search->lastResult)
        return {0, count};
    for (int i = 0; i < count; ++i) {
        if (results[static_cast<std::size_t>(i)].row == search->lastResult->row
            && results[static_cast<std::size_t>(i)].col == search->lastResult->col)
            return {i + 1, count};
    }
    return {0, count};
}

void TerminalView::scrollRowIntoView(int row)
{
    const int rows = terminal->rows();
    if (rows < 1 || terminal->isCurrentBufferAlternate())
        return;
    const int top = terminal->buffer().yDisp();
    if (row >= top && row <= top + rows - 1)
        return;
    const int lines = terminal->buffer().lines().count();
    scrollTo(std::min(std::max(row - rows / 2, 0), std::max(lines - rows, 0)));
}

// ---------------------------------------------------------------- Find bar

TerminalFindBarView* TerminalView::ensureFindBar()
{
    if (findBar)
        return findBar;
    findBar = new TerminalFindBarView(this);
    findBar->hide();
    // The bar is the view's child: it never outlives it.
    findBar->onSearchChanged = [this](const std::string& term) { findBarTermChanged(term); };
    findBar->onFindNext = [this] { findAgain(true); };
    findBar->onFindPrevious = [this] { findAgain(false); };
    findBar->onClose = [this] { hideFindBar(); };
    findBar->onOptionsChanged = [this](const SearchOptions& options) { handleFindBarOptionsChanged(options); };
    return findBar;
}

void TerminalView::layoutFindBar()
{
    if (!findBar)
        return;
    const int margin = TerminalFindBarView::margin;
    const QSize hint = findBar->sizeHint();
    const int available = std::max(width() - 2 * margin, 0);
    const int barWidth = std::min({std::max(hint.width(), findBar->minimumSizeHint().width()),
                                   TerminalFindBarView::maximumWidth, available});
    placeChild(*findBar, QRect(width() - margin - barWidth, margin, barWidth, hint.height()));
}

void TerminalView::showFindBar(bool useSelection)
{
    TerminalFindBarView* bar = ensureFindBar();
    layoutFindBar();
    bar->show();
    bar->raise();
    std::optional<std::string> term;
    if (useSelection && selection && selection->active()) {
        std::string selected = selection->getSelectedText();
        if (!selected.empty())
            term = std::move(selected);
    }
    if (!term && findPasteboard)
        term = findPasteboard->string();
    if (term) {
        bar->searchField->setText(QString::fromStdString(*term));
        findBarTermChanged(*term);
    }
    bar->searchField->setFocus();
    bar->searchField->selectAll();
}

void TerminalView::hideFindBar()
{
    if (findBar)
        findBar->hide();
    setFocus();
}

void TerminalView::findAgain(bool forward)
{
    std::optional<std::string> term;
    if (findBar && findBar->isVisible())
        term = findBar->term();
    else if (findPasteboard)
        term = findPasteboard->string();
    if (!term || term->empty())
        return;
    if (findPasteboard)
        findPasteboard->setString(*term);
    const SearchOptions options = findBar ? findBar->options() : SearchOptions{};
    if (forward)
        findNext(*term, options, true);
    else
        findPrevious(*term, options, true);
}

void TerminalView::findBarTermChanged(const std::string& term)
{
    findBarTerm = term;
    if (term.empty()) {
        clearSearch();
        return;
    }
    if (findPasteboard)
        findPasteboard->setString(term);
    findNext(term, findBarOptions, true);
}

void TerminalView::handleFindBarOptionsChanged(const SearchOptions& options)
{
    findBarOptions = options;
    if (!findBarTerm.empty())
        findNext(findBarTerm, options, true);
}

void TerminalView::useSelectionForFind()
{
    if (!selection || !selection->active() || !findPasteboard)
        return;
    const std::string text = selection->getSelectedText();
    if (!text.empty())
        findPasteboard->setString(text);
}

void TerminalView::performFindPanelAction(int tag)
{
    switch (tag) {
    case showFindInterfaceTag:
        showFindBar(true);
        break;
    case nextMatchTag:
        findAgain(true);
        break;
    case previousMatchTag:
        findAgain(false);
        break;
    case useSelectionForFindTag:
        useSelectionForFind();
        showFindBar(true);
        break;
    default:
        break;
    }
}

void TerminalView::performTextFinderAction(int tag)
{
    if (tag == hideFindInterfaceTag) {
        hideFindBar();
        return;
    }
    performFindPanelAction(tag);
}

void TerminalView::installFindActions()
{
    auto make = [this](const QString& text, int tag, QKeySequence key) {
        auto* action = new QAction(text, this);
        action->setData(tag);
        if (!key.isEmpty())
            action->setShortcut(key);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(action, &QAction::triggered, this, [this, tag] { performFindPanelAction(tag); });
        addAction(action);
        return action;
    };
    findAction = make(tr("&Find..."), showFindInterfaceTag, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    findNextAction = make(tr("Find &Next"), nextMatchTag, {});
    findPreviousAction = make(tr("Find Pre&vious"), previousMatchTag, {});
    useSelectionForFindAction = make(tr("&Use Selection for Find"), useSelectionForFindTag, {});
}

} // namespace corvantix

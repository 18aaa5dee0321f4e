// The terminal host: a tab's terminal view and its shell outlive every container that shows
// them, whichever container goes first.
#include "WorkspaceFixture.h"
#include "ui/TerminalHost.h"
#include "ui/WorkspaceView.h"

#include <QEvent>

namespace halvoren {
namespace {

using test::PaneWorkspace;
using test::waitUntil;

// Lines of the tab's screen and scroll-back, as shown.
QStringList shownLines(MacTab& tab)
{
    return QString::fromStdString(corvantix::testing::screenText(tab.terminal->getTerminal())).split(u'\n');
}

struct ParentChanges : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() == QEvent::ParentChange ? 1 : 0;
        return false;
    }
};

TEST(TerminalHost, SwitchingAwayAndBackKeepsTheSameShellScreenAndScrollback)
{
    PaneWorkspace w;
    MacUpdate update;
    MacTab& a = w.add(w.local(), QStringLiteral("a"));
    MacTab& b = w.add(w.local(), QStringLiteral("b"));
    WorkspaceView view(w.model, update);
    view.resize(900, 500);
    view.show();
    w.model.activate(a);
    ASSERT_TRUE(w.startWith(a, QStringLiteral("seq 1 300; printf 'do%s\\n' ne")));
    ASSERT_TRUE(waitUntil([&] { return w.output.value(&a).contains(QStringLiteral("done")); }));
    ASSERT_TRUE(waitUntil([&] { return shownLines(a).contains(QStringLiteral("300")); }));
    const pid_t shell = a.terminal->process->shellPid();
    ASSERT_GT(shell, 0);
    const QStringList before = shownLines(a);
    ASSERT_TRUE(before.contains(QStringLiteral("1"))) << "the first lines must be in the scroll-back";

    for (MacTab* next : {&b, &a, &b, &a}) {
        w.model.activate(*next);
        if (next == &b && !b.isLive())
            b.start();
        TerminalHost* host = view.terminalHost();
        ASSERT_NE(host, nullptr);
        EXPECT_EQ(host->tab, next);
        EXPECT_EQ(next->terminal->parentWidget(), host);
        EXPECT_TRUE(waitUntil([&] { return view.focusWidget() == next->terminal; }, 3000));
    }
    ASSERT_TRUE(a.terminal);
    EXPECT_TRUE(a.terminal->process->running());
    EXPECT_EQ(a.terminal->process->shellPid(), shell);
    EXPECT_EQ(shownLines(a), before);
    // The view follows its container below the strip, also after a resize.
    view.resize(700, 420);
    QCoreApplication::processEvents();
    EXPECT_EQ(a.terminal->geometry(), view.terminalHost()->rect().adjusted(0, TerminalHost::topInset, 0, 0));
    EXPECT_EQ(view.terminalHost()->x(), WorkspaceView::terminalLeftInset);
}

TEST(TerminalHost, NewContainerTakesTheViewAndNoContainerTakesItAlongWhenItGoes)
{
    PaneWorkspace w;
    MacTab& tab = w.add(w.local(), QStringLiteral("steal"));
    ParentChanges changes;
    tab.terminal->installEventFilter(&changes);
    auto first = std::make_unique<TerminalHost>(tab);
    auto second = std::make_unique<TerminalHost>(tab);
    EXPECT_EQ(tab.terminal->parentWidget(), second.get());
    EXPECT_TRUE(first->findChildren<TermView*>().isEmpty());
    const int moves = changes.count;
    second->refresh();
    EXPECT_EQ(changes.count, moves) << "a view already in place is left alone";
    first->refresh();
    EXPECT_EQ(tab.terminal->parentWidget(), first.get());
    second->refresh();
    EXPECT_EQ(tab.terminal->parentWidget(), second.get());
    first.reset();
    ASSERT_TRUE(tab.terminal);
    // The container holding the view goes first: the view stays with its tab.
    second.reset();
    ASSERT_TRUE(tab.terminal);
    EXPECT_EQ(tab.terminal->parentWidget(), nullptr);
    TerminalHost third(tab);
    EXPECT_EQ(tab.terminal->parentWidget(), &third);
}

} // namespace
} // namespace halvoren

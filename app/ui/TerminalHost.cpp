#include "ui/TerminalHost.h"

#include "tab/MacTab.h"
#include "style/Palette.h"

#include <QTimer>
#include <QVBoxLayout>

namespace halvoren {

TerminalHost::TerminalHost(MacTab& tab, QWidget* parent)
    : QWidget(parent), tab(&tab)
{
    setObjectName(QStringLiteral("terminalHost"));
    QPalette colours = palette();
    colours.setColor(QPalette::Window, terminalBackground());
    setPalette(colours);
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, topInset, 0, 0);
    layout->setSpacing(0);
    mountTerminal();
}

TerminalHost::~TerminalHost()
{
    if (mounted && mounted->parentWidget() == this) {
        mounted->hide();
        mounted->setParent(nullptr);
    }
}

void TerminalHost::refresh()
{
    if (tab && tab->terminal && tab->terminal->parentWidget() != this)
        mountTerminal();
}

void TerminalHost::mountTerminal()
{
    if (!tab || !tab->terminal)
        return;
    TermView* view = tab->terminal;
    // Taking it out of the old container leaves that one empty; the view keeps its child.
    view->setParent(this);
    layout()->addWidget(view);
    view->show();
    mounted = view;
    // After the current pass, once the view has found its place in the window.
    QTimer::singleShot(0, view, [view = QPointer<TermView>(view)] {
        if (view && view->window() != view)
            view->setFocus(Qt::OtherFocusReason);
    });
}

} // namespace halvoren

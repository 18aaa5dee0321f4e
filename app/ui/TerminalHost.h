// Lends the active tab's terminal view a place on screen. The view belongs to its tab and
// outlives any host: a host only takes it in, pinned to its edges below a 4-point strip, and
// lets the next host take it away again.
#pragma once

#include "tab/MacTab.h"

#include <QPointer>
#include <QWidget>

namespace halvoren {




class TerminalHost : public QWidget {
    Q_OBJECT

public:
    static constexpr int topInset = 4;

    explicit TerminalHost(MacTab& tab, QWidget* parent = nullptr);
    // Hands the terminal view back untouched: Qt would otherwise destroy it with this
    // container, and with it the tab's screen, scroll-back and shell.
    ~TerminalHost() override;

    const QPointer<MacTab> tab;

    // Mounts the tab's terminal again unless it already sits in this container.
    void refresh();

private:
    void mountTerminal();

    QPointer<TermView> mounted;
};

} // namespace halvoren

// The window and menu tests' workspace: the common one, with their shorthands.
#pragma once

#include "app/views/ViewsWorkspace.h"

#include <QCoreApplication>

namespace halvoren::test {

struct EntryWorkspace : ViewsWorkspace {
    MacTab& addTab(const QString& path) { return open(local(), path); }

    qsizetype activeIndex() const { return model.tabs().indexOf(model.activeTab()); }
};

// Lets queued calls and deferred deletions run.
inline void settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

} // namespace halvoren::test

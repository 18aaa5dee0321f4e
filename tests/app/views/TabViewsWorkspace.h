// A model for the tab bar and session picker tests: private preferences, a manual clock and,
// unless the host is real, a fake host that records scripts and has no sessions, with tabs
// running /bin/true.
#pragma once

#include "app/views/ViewsWorkspace.h"
#include "app/workspace/ManualClock.h"

namespace halvoren::test {

struct TabViewsWorkspace : ViewsWorkspace {
    EnvironmentOverride shell;

    explicit TabViewsWorkspace(const QString& preferences = {}, bool realHost = false)
        : ViewsWorkspace(preferences, !realHost)
    {
        model.clock = std::make_shared<ManualClock>();
        if (!realHost)
            shell.set("SHELL", QStringLiteral("/bin/true"));
    }
    MacConnection& server(const QString& id) { return ViewsWorkspace::server(id, u'@' + id); }
    // A tab of the folder at the end of the list, not started.
    MacTab& add(MacConnection& connection, const QString& path) { return open(connection, path); }
    QString tabNames() const
    {
        QStringList names;
        for (const MacTab* tab : model.tabs())
            names << tab->project.name;
        return names.join(u',');
    }
};

} // namespace halvoren::test

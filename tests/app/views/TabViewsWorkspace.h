// A model for the tab bar and session picker tests: private preferences, a manual clock and,
// unless the host is real, a fake host that records scripts and has no sessions, with tabs
// running /bin/true.
#pragma once

#include "model/MacModel.h"

#include "app/support/TempFolder.h"
#include "app/workspace/ManualClock.h"
#include "platform/Notifier.h"
#include "remote/MacTab.h"
#include "remote/SessionNaming.h"

#include <QDBusConnection>

namespace halvoren::test {

struct TabViewsWorkspace {
    TempFolder folder;
    EnvironmentOverride shell;
    PreferenceStore store;
    Prefs prefs{store};
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model{prefs, nullptr, &notifier};
    QStringList scripts;

    explicit TabViewsWorkspace(const QString& preferences = {}, bool realHost = false)
        : store(preferences.isEmpty() ? folder.file(QStringLiteral("preferences.json")) : preferences)
    {
        model.clock = std::make_shared<ManualClock>();
        if (realHost)
            return;
        shell.set("SHELL", QStringLiteral("/bin/true"));
        model.runScript = [this](MacConnection&, QString script, double) -> Task<ShellResult<QString>> {
            scripts << script;
            co_return QString();
        };
    }
    MacConnection& local() { return *model.localConnection(); }
    MacConnection& server(const QString& id)
    {
        MacProfile profile;
        profile.id = id;
        profile.name = u'@' + id;
        auto* connection = new MacConnection(std::make_shared<SSHLink>(profile));
        model.appendConnection(connection);
        return *connection;
    }
    // A tab of the folder at the end of the list, not started.
    MacTab& add(MacConnection& connection, const QString& path)
    {
        MacTab* tab = model.makeTab(connection, MacProject{path.section(u'/', -1), path, tmuxSessionName(path)});
        model.insertTab(tab, model.tabs().size());
        return *tab;
    }
    QString tabNames() const
    {
        QStringList names;
        for (const MacTab* tab : model.tabs())
            names << tab->project.name;
        return names.join(u',');
    }
};

} // namespace halvoren::test

// A workspace model for the tab bar and session picker tests: private preferences, a manual
// clock, and a fake host that records every script and answers the session listing from a
// table. Tabs started by the views run /bin/true as their shell, so nothing real starts.
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
    EnvironmentOverride shell{"SHELL", QStringLiteral("/bin/true")};
    PreferenceStore store{folder.file(QStringLiteral("preferences.json"))};
    Prefs prefs{store};
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    MacModel model{prefs, nullptr, &notifier};
    QStringList scripts;
    // The host's sessions, as the session listing prints them.
    QList<FolderSession> sessions;

    TabViewsWorkspace()
    {
        model.clock = clock;
        model.runScript = [this](MacConnection&, QString script, double) -> Task<ShellResult<QString>> {
            scripts << script;
            QString output;
            if (script.contains(QStringLiteral("list-sessions"))) {
                for (const FolderSession& s : std::as_const(sessions)) {
                    output += s.name + u'|' + s.path + QStringLiteral("|0|") + QString::number(s.attached) + u'|'
                              + QString::number(s.lastActivity.toSecsSinceEpoch()) + u'|' + s.command + u'\n';
                }
            }
            co_return output;
        };
        model.listFolders = [](MacConnection&, QString) -> Task<std::optional<QStringList>> {
            co_return QStringList();
        };
    }

    MacConnection& local() { return *model.localConnection(); }
    MacConnection& server(const QString& id, const QString& name)
    {
        MacProfile profile;
        profile.id = id;
        profile.name = name;
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
    QStringList tabNames() const
    {
        QStringList names;
        for (const MacTab* tab : model.tabs())
            names << tab->project.name;
        return names;
    }
};

} // namespace halvoren::test

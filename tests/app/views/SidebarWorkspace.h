// A workspace model for the sidebar's tests: private preferences, no desktop notifications,
// and a fake host whose scripts and folder listings answer from tables (nothing runs).
#pragma once

#include "model/MacModel.h"

#include "app/support/TempFolder.h"
#include "platform/Notifier.h"
#include "remote/MacTab.h"
#include "remote/SessionNaming.h"

#include <QDBusConnection>

#include <functional>
#include <memory>

namespace halvoren::test {

template <typename T>
Task<T> answered(T value)
{
    co_return value;
}

struct SidebarWorkspace {
    TempFolder folder;
    PreferenceStore store{folder.file(QStringLiteral("preferences.json"))};
    Prefs prefs{store};
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model{prefs, nullptr, &notifier};
    // The host's answer to every script (the session listing among them).
    std::function<ShellResult<QString>(const QString&)> answer = [](const QString&) { return QString(); };

    SidebarWorkspace()
    {
        model.runScript = [this](MacConnection&, QString script, double) { return answered(answer(script)); };
        model.listFolders = [](MacConnection&, QString) { return answered(std::optional<QStringList>(QStringList{})); };
    }

    MacConnection& local() { return *model.localConnection(); }

    MacConnection& server(const QString& id, const QString& name = QStringLiteral("srv"),
                          const QString& root = QStringLiteral("~/projets"))
    {
        MacProfile profile;
        profile.id = id;
        profile.name = name;
        profile.projectsRoot = root;
        auto* connection = new MacConnection(std::make_shared<SSHLink>(profile));
        model.appendConnection(connection);
        return *connection;
    }

    static MacProject project(const QString& path)
    {
        return MacProject{path.section(u'/', -1), path, tmuxSessionName(path)};
    }

    // A tab of the project at the end of the list; never started.
    MacTab& open(MacConnection& connection, const MacProject& shown)
    {
        MacTab* tab = model.makeTab(connection, shown);
        model.insertTab(tab, model.tabs().size());
        return *tab;
    }
};

} // namespace halvoren::test

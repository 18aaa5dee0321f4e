// A workspace model for the sidebar's tests: private preferences, no desktop notifications,
// and a fake host answering every script from `answer` and every folder as empty.
#pragma once

#include "model/MacModel.h"

#include "app/support/TempFolder.h"
#include "platform/Notifier.h"
#include "remote/MacTab.h"
#include "remote/SessionNaming.h"

namespace halvoren::test {

template <typename T>
Task<T> answered(T value) { co_return value; }

struct SidebarWorkspace {
    TempFolder folder;
    PreferenceStore store{folder.file(QStringLiteral("preferences.json"))};
    Prefs prefs{store};
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model{prefs, nullptr, &notifier};
    std::function<ShellResult<QString>(const QString&)> answer = [](const QString&) { return QString(); };

    SidebarWorkspace()
    {
        model.runScript = [this](MacConnection&, QString script, double) { return answered(answer(script)); };
        model.listFolders = [](MacConnection&, QString) { return answered(std::optional<QStringList>(QStringList{})); };
    }
    MacConnection& local() { return *model.localConnection(); }
    static MacProfile profile(const QString& id, const QString& name = {}, const QString& root = {})
    {
        MacProfile made;
        made.id = id;
        made.name = name;
        made.projectsRoot = root;
        return made;
    }
    MacConnection& server(const QString& id, const QString& name = {}, const QString& root = {})
    {
        model.appendConnection(new MacConnection(std::make_shared<SSHLink>(profile(id, name, root))));
        return *model.connections().back();
    }
    static MacProject project(const QString& path) { return {path.section(u'/', -1), path, tmuxSessionName(path)}; }
    // A tab of the project at the end of the list; never started.
    MacTab& open(MacConnection& connection, const MacProject& shown)
    {
        model.insertTab(model.makeTab(connection, shown), model.tabs().size());
        return *model.tabs().back();
    }
};

} // namespace halvoren::test

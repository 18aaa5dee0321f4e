// A workspace model for the views' tests: a private home, preferences, keychain and tmux
// folder, no desktop notifications, and a fake host that records every script, answers it from
// `answer` and lists each folder from `folders` (empty when not named there).
#pragma once

#include "app/support/TempFolder.h"
#include "model/MacModel.h"
#include "platform/Notifier.h"
#include "platform/SecretStore.h"
#include "remote/MacTab.h"
#include "remote/SessionNaming.h"
#include "remote/SSHLink.h"

#include <QDBusConnection>
#include <QHash>

namespace halvoren::test {

template <typename T>
Task<T> answered(T value) { co_return value; }

// With a fake host the home is the workspace's folder and nothing should reach a tmux server;
// if something does, it is a private one.
struct Isolation {
    EnvironmentOverride environment;
    Isolation(const TempFolder& folder, bool fakeHost)
    {
        if (fakeHost) {
            environment.set("HOME", folder.path());
            environment.set("TMUX_TMPDIR", folder.path());
            environment.set("TMUX", std::nullopt);
        }
    }
};

struct ViewsWorkspace {
    TempFolder folder;
    Isolation isolation;
    PreferenceStore store;
    Prefs prefs{store};
    SecretStore keychain{std::make_unique<MemorySecretBackend>()};
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model{prefs, &keychain, &notifier};
    QStringList scripts;
    std::function<ShellResult<QString>(const QString&)> answer = [](const QString&) { return QString(); };
    QHash<QString, QStringList> folders;
    QStringList listed;

    // `preferences`: a file shared with another workspace, to see what survives a restart;
    // without `fakeHost` the model asks this computer's shell and tmux.
    explicit ViewsWorkspace(const QString& preferences = {}, bool fakeHost = true)
        : isolation(folder, fakeHost),
          store(preferences.isEmpty() ? folder.file(QStringLiteral("preferences.json")) : preferences)
    {
        if (!fakeHost)
            return;
        model.runScript = [this](MacConnection&, QString script, double) {
            scripts << script;
            return answered(answer(script));
        };
        model.listFolders = [this](MacConnection&, QString path) {
            listed << path;
            return answered(std::optional<QStringList>(folders.value(path)));
        };
    }
    ~ViewsWorkspace()
    {
        for (MacTab* tab : model.tabs())
            tab->stop();
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
    // A tab of the folder at the end of the list, not started.
    MacTab& open(MacConnection& connection, const MacProject& shown)
    {
        model.insertTab(model.makeTab(connection, shown), model.tabs().size());
        return *model.tabs().back();
    }
    MacTab& open(MacConnection& connection, const QString& path) { return open(connection, project(path)); }
};

} // namespace halvoren::test

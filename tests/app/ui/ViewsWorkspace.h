// The views' tests' workspace: a private home, preferences, keychain and tmux folder, no desktop
// notifications, and a fake host that records every script, answers it from `answer` and lists
// each folder from `folders` (empty when not named there).
#pragma once

#include "app/support/TempFolder.h"
#include "app/support/WorkspaceModel.h"
#include "app/workspace/ManualClock.h"
#include "engine/view/qt/ViewTestSupport.h"
#include "workspace/MacModel.h"
#include "workspace/MacUpdate.h"
#include "settings/ProfileStore.h"
#include "platform/Notifier.h"
#include "platform/SecretStore.h"
#include "tab/MacTab.h"
#include "remote/SessionNaming.h"
#include "remote/SSHLink.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QHash>

#include <gtest/gtest.h>

namespace halvoren::test {

using corvantix::testing::waitUntil;

template <typename T>
Task<T> answered(T value) { co_return value; }

// With a fake host nothing should reach a tmux server; if something does, it is a private one.
struct Isolation {
    EnvironmentOverride environment;
    Isolation(const TempFolder& folder, bool fakeHost)
    {
        if (fakeHost) {
            environment.set("HOME", folder.path());
            environment.set("XDG_CONFIG_HOME", folder.file(QStringLiteral(".config")));
            environment.set("XDG_DATA_HOME", folder.file(QStringLiteral(".local/share")));
            environment.set("XDG_CACHE_HOME", folder.file(QStringLiteral(".cache")));
            environment.set("DBUS_SESSION_BUS_ADDRESS", QStringLiteral("unix:path=") + folder.file(QStringLiteral("no-bus")));
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
    MacUpdate update;
    QStringList scripts;
    std::function<ShellResult<QString>(const QString&)> answer = [](const QString& script) { return test::ranToItsEnd(script); };
    QHash<QString, QStringList> folders;

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
            return answered(std::optional<QStringList>(folders.value(path)));
        };
    }
    ~ViewsWorkspace()
    {
        for (MacTab* tab : model.tabs())
            tab->stop();
    }
    MacConnection& local() { return *model.localConnection(); }
    static MacProfile profile(const QString& id, const QString& host = {}, const QString& user = {}, int port = 22)
    {
        return MacProfile{id, host, host, port, user};
    }
    // As if its silent connection had succeeded.
    MacConnection& connect(const MacProfile& profile)
    {
        model.appendConnection(new MacConnection(std::make_shared<SSHLink>(profile)));
        return *model.connections().back();
    }
    MacConnection& server(const QString& id, const QString& name = {}, const QString& root = {})
    {
        return connect(MacProfile{id, name.isEmpty() ? u'@' + id : name, {}, 22, {}, root});
    }
    static MacProject project(const QString& path) { return {path.section(u'/', -1), path, tmuxSessionName(path)}; }
    // A tab of the folder at the end of the list, not started.
    MacTab& open(MacConnection& connection, const MacProject& shown)
    {
        model.insertTab(model.makeTab(connection, shown), model.tabs().size());
        return *model.tabs().back();
    }
    MacTab& open(MacConnection& connection, const QString& path) { return open(connection, project(path)); }
    qsizetype activeIndex() const { return model.tabs().indexOf(model.activeTab()); }
    QString tabNames() const
    {
        QStringList names;
        for (const MacTab* tab : model.tabs())
            names << tab->project.name;
        return names.join(u',');
    }
    // Reads queue behind earlier writes, so this sees every write made before.
    std::optional<QString> password(const QString& id) { return QCoro::waitFor(keychain.secureRead(ProfileStore::passwordKey(id))); }
    void remember(const QString& id, const QString& value)
    {
        QCoro::waitFor(keychain.secureWrite(ProfileStore::passwordKey(id), value));
    }
};

// The server sheets': every silent connection ends at once in "not connected".
struct ServersWorkspace : ViewsWorkspace {
    ServersWorkspace() { SSHLink::setProgramForTests(QStringLiteral("/bin/false")); }
    ~ServersWorkspace() { SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh")); }
};

// The tab bar's and picker's: a manual clock and, unless the host is real, tabs running /bin/true.
struct TabViewsWorkspace : ViewsWorkspace {
    EnvironmentOverride shell;
    explicit TabViewsWorkspace(const QString& preferences = {}, bool realHost = false)
        : ViewsWorkspace(preferences, !realHost)
    {
        model.clock = std::make_shared<ManualClock>();
        if (!realHost)
            shell.set("SHELL", QStringLiteral("/bin/true"));
    }
};

// The pane's: tabs whose shells are real /bin/sh processes in private folders (no tmux).
struct PaneWorkspace : ViewsWorkspace {
    EnvironmentOverride shell{"SHELL", QStringLiteral("/bin/sh")};
    // Output of each tab's shell since it was last cleared, by tab.
    QHash<MacTab*, QString> output;

    PaneWorkspace() { local().setTmuxAvailable(false); }
    MacTab& add(MacConnection& connection, const QString& name)
    {
        const QString path = folder.file(name);
        QDir().mkpath(path);
        MacTab* tab = &open(connection, project(path));
        tab->onOutput = [this, tab](MacTab&, const QString& text) { output[tab] += text; };
        return *tab;
    }
    // Starts the tab's shell and has it run `command` once it answers; true once the shell
    // printed "ready".
    bool startWith(MacTab& tab, const QString& command)
    {
        tab.start();
        const QString line = QStringLiteral("stty -echo; printf 'rea%s\\n' dy; ") + command + u'\r';
        tab.terminal->send(std::string_view(line.toStdString()));
        return waitUntil([&] { return output.value(&tab).contains(QStringLiteral("ready")); });
    }
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

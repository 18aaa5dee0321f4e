// A workspace model on a private preference file, with no hosts to ask, and tabs whose
// shells are real /bin/sh processes in private folders (no tmux): what the pane's tests
// show, switch and type into.
#pragma once

#include "app/support/TempFolder.h"
#include "engine/view/qt/ViewTestSupport.h"
#include "model/MacModel.h"
#include "model/MacUpdate.h"
#include "platform/Notifier.h"
#include "remote/MacTab.h"
#include "remote/SessionNaming.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <memory>

namespace halvoren::test {

using corvantix::testing::waitUntil;

template <typename T>
Task<T> readyTask(T value) { co_return value; }

struct PaneWorkspace {
    TempFolder folder;
    EnvironmentOverride shell{"SHELL", QStringLiteral("/bin/sh")};
    EnvironmentOverride home{"HOME", folder.path()};
    PreferenceStore store{folder.file(QStringLiteral("preferences.json"))};
    Prefs prefs{store};
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model{prefs, nullptr, &notifier};
    // Output of each tab's shell since it was last cleared, by tab.
    QHash<MacTab*, QString> output;

    PaneWorkspace()
    {
        model.runScript = [](MacConnection&, QString, double) { return readyTask(ShellResult<QString>(QString())); };
        model.listFolders = [](MacConnection&, QString) { return readyTask(std::optional<QStringList>()); };
        model.localConnection()->setTmuxAvailable(false);
    }
    ~PaneWorkspace()
    {
        for (MacTab* tab : model.tabs())
            tab->stop();
    }
    MacConnection& local() { return *model.localConnection(); }
    MacConnection& server(const QString& name)
    {
        MacProfile profile;
        profile.id = QStringLiteral("p-") + name;
        profile.name = name;
        auto* connection = new MacConnection(std::make_shared<SSHLink>(profile));
        model.appendConnection(connection);
        return *connection;
    }
    // A tab of a new folder, in the list but not started.
    MacTab& add(MacConnection& connection, const QString& name)
    {
        const QString path = folder.file(name);
        QDir().mkpath(path);
        MacTab* tab = model.makeTab(connection, MacProject{name, path, tmuxSessionName(path)});
        model.insertTab(tab, model.tabs().size());
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

} // namespace halvoren::test

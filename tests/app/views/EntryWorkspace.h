// A model of its own for the window and menu tests: a private preference file, no bus, a host
// that answers scripts with nothing and lists folders from a table, tabs that start nothing.
#pragma once

#include "model/MacModel.h"

#include "app/support/TempFolder.h"
#include "platform/Notifier.h"
#include "remote/MacTab.h"
#include "remote/SessionNaming.h"

#include <QCoreApplication>
#include <QDBusConnection>

namespace halvoren::test {

template <typename T>
Task<T> readyTask(T value)
{
    co_return value;
}

struct EntryWorkspace {
    TempFolder folder;
    // Nothing here should reach a tmux server; if something does, it is a private one.
    EnvironmentOverride tmuxFolder{"TMUX_TMPDIR", folder.path()};
    EnvironmentOverride tmuxClient{"TMUX", std::nullopt};
    PreferenceStore store{folder.file(QStringLiteral("preferences.json"))};
    Prefs prefs{store};
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model{prefs, nullptr, &notifier};
    QHash<QString, QStringList> folders;
    QStringList listed;

    EntryWorkspace()
    {
        model.runScript = [](MacConnection&, QString, double) { return readyTask(ShellResult<QString>(QString())); };
        model.listFolders = [this](MacConnection&, QString path) {
            listed << path;
            const auto found = folders.constFind(path);
            return readyTask(found == folders.cend() ? std::nullopt : std::optional<QStringList>(*found));
        };
    }

    MacTab& addTab(const QString& path)
    {
        MacTab* tab = model.makeTab(*model.localConnection(),
                                    MacProject{path.section(u'/', -1), path, tmuxSessionName(path)});
        model.insertTab(tab, model.tabs().size());
        return *tab;
    }

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

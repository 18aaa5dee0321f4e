// A workspace model of its own for the entry tests (main window, menus, first-run sheet): a
// private preference file, no notification bus, a host that answers every script with nothing
// and lists folders from a table, and tabs that never start a process.
#pragma once

#include "model/MacModel.h"

#include "app/support/TempFolder.h"
#include "platform/Notifier.h"
#include "remote/MacTab.h"
#include "remote/SessionNaming.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QHash>
#include <QStringList>

#include <optional>

namespace halvoren::test {

template <typename T>
Task<T> readyTask(T value)
{
    co_return value;
}

struct EntryWorkspace {
    TempFolder folder;
    PreferenceStore store{folder.file(QStringLiteral("preferences.json"))};
    Prefs prefs{store};
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model{prefs, nullptr, &notifier};
    // Folders that can be listed, and every folder asked for.
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

    // A local tab of the folder at the end of the list; not started.
    MacTab& addTab(const QString& path)
    {
        MacTab* tab = model.makeTab(*model.localConnection(),
                                    MacProject{path.section(u'/', -1), path, tmuxSessionName(path)});
        model.insertTab(tab, model.tabs().size());
        return *tab;
    }

    // Position of the active tab, or -1.
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

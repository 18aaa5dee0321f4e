// A model for the panel and settings tests: preferences in a private folder, no desktop
// notifications, and a host that lists nothing and answers every script with nothing.
#pragma once

#include "app/support/TempFolder.h"
#include "model/MacModel.h"
#include "platform/Notifier.h"

#include <QDBusConnection>

namespace halvoren::test {

struct PanelsWorkspace {
    TempFolder folder;
    PreferenceStore store{folder.file(QStringLiteral("preferences.json"))};
    Prefs prefs{store};
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model{prefs, nullptr, &notifier};

    PanelsWorkspace()
    {
        model.runScript = [](MacConnection&, QString, double) -> Task<ShellResult<QString>> { co_return QString(); };
        model.listFolders = [](MacConnection&, QString) -> Task<std::optional<QStringList>> { co_return QStringList(); };
    }
};

} // namespace halvoren::test

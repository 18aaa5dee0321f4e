// A workspace model for one test, with preferences of its own in a fresh folder and no
// session bus unless the test gives one; a ClockedModel polls on a clock the test moves.
#pragma once

#include "app/support/TempFolder.h"
#include "app/workspace/ManualClock.h"
#include "platform/Notifier.h"
#include "workspace/MacModel.h"

#include <QDBusConnection>

#include <memory>

namespace halvoren::test {

struct ModelInFolder {
    ModelInFolder() : ModelInFolder(QDBusConnection(QStringLiteral("no-bus"))) {}
    // Notifications go to `bus`.
    explicit ModelInFolder(const QDBusConnection& bus) : notifier(bus) {}

    TempFolder folder;
    PreferenceStore store{folder.file(QStringLiteral("preferences.json"))};
    Prefs prefs{store};
    Notifier notifier;
    MacModel model{prefs, nullptr, &notifier};

    MacConnection& local() { return *model.localConnection(); }
};

struct ClockedModel : ModelInFolder {
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();

    ClockedModel() { model.clock = clock; }
    explicit ClockedModel(const QDBusConnection& bus) : ModelInFolder(bus) { model.clock = clock; }
};

} // namespace halvoren::test

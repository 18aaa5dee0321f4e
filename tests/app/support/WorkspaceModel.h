// A workspace model for one test, with preferences of its own in a fresh folder and no
// session bus; a ClockedModel polls on a clock the test moves.
#pragma once

#include "app/support/TempFolder.h"
#include "app/workspace/ManualClock.h"
#include "platform/Notifier.h"
#include "workspace/MacModel.h"

#include <QDBusConnection>

#include <memory>

namespace halvoren::test {

struct ModelInFolder {
    TempFolder folder;
    PreferenceStore store{folder.file(QStringLiteral("preferences.json"))};
    Prefs prefs{store};
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model{prefs, nullptr, &notifier};

    MacConnection& local() { return *model.localConnection(); }
};

struct ClockedModel : ModelInFolder {
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();

    ClockedModel() { model.clock = clock; }
};

} // namespace halvoren::test

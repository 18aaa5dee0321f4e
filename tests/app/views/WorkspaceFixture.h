// A workspace model on a private preference file, with no hosts to ask, and tabs whose
// shells are real /bin/sh processes in private folders (no tmux): what the pane's tests
// show, switch and type into.
#pragma once

#include "app/views/ViewsWorkspace.h"
#include "engine/view/qt/ViewTestSupport.h"
#include "model/MacUpdate.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <memory>

namespace halvoren::test {

using corvantix::testing::waitUntil;

struct PaneWorkspace : ViewsWorkspace {
    EnvironmentOverride shell{"SHELL", QStringLiteral("/bin/sh")};
    // Output of each tab's shell since it was last cleared, by tab.
    QHash<MacTab*, QString> output;

    PaneWorkspace() { model.localConnection()->setTmuxAvailable(false); }
    MacConnection& server(const QString& name) { return ViewsWorkspace::server(QStringLiteral("p-") + name, name); }
    // A tab of a new folder, in the list but not started.
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

} // namespace halvoren::test

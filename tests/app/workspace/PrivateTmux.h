// One private tmux server for the whole test run: every tmux client started by the tests, or
// by the tabs they open, finds its server in a fresh folder, and the server is stopped at
// the end.
#pragma once

#include "app/support/TempFolder.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace halvoren::test {

class PrivateTmux : public testing::Environment {
public:
    TempFolder folder;
    void SetUp() override
    {
        qputenv("TMUX_TMPDIR", folder.path().toUtf8());
        qunsetenv("TMUX");
    }
    void TearDown() override
    {
        QProcess tmux;
        tmux.start(QStringLiteral("tmux"), {QStringLiteral("kill-server")});
        tmux.waitForFinished();
    }
};

inline testing::Environment* const privateTmux = testing::AddGlobalTestEnvironment(new PrivateTmux);

} // namespace halvoren::test

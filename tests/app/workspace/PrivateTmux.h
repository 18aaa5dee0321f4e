// One private tmux server for the whole test run: every tmux client started by the tests, or
// by the tabs they open, finds its server in a fresh folder, and the server is stopped at
// the end.
#pragma once

#include "app/support/TempFolder.h"

#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <optional>

namespace halvoren::test {

class PrivateTmux : public testing::Environment {
public:
    // Made by the run, not by a process the run started: a death test's child ends with _Exit,
    // which removes nothing, and finds the run's folder in the environment it inherits.
    std::optional<TempFolder> folder;
    void SetUp() override
    {
        const QByteArray inherited = qgetenv(runFolder);
        if (!inherited.isEmpty() && inherited == qgetenv("TMUX_TMPDIR") && QFileInfo(QString::fromUtf8(inherited)).isDir())
            return;
        folder.emplace();
        qputenv("TMUX_TMPDIR", folder->path().toUtf8());
        qputenv(runFolder, folder->path().toUtf8());
        qunsetenv("TMUX");
    }
    void TearDown() override
    {
        if (!folder)
            return;
        QProcess tmux;
        tmux.start(QStringLiteral("tmux"), {QStringLiteral("kill-server")});
        tmux.waitForFinished();
    }

private:
    static constexpr char runFolder[] = "HALVOREN_TEST_TMUX_FOLDER";
};

inline testing::Environment* const privateTmux = testing::AddGlobalTestEnvironment(new PrivateTmux);

} // namespace halvoren::test

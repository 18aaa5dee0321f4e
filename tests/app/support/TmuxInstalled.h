// Whether tmux is installed, as an assertion: the failure names the Debian package to install.
#pragma once

#include <QStandardPaths>

#include <gtest/gtest.h>

namespace halvoren::test {

inline testing::AssertionResult tmuxInstalled()
{
    if (!QStandardPaths::findExecutable(QStringLiteral("tmux")).isEmpty())
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "tmux is missing: install the Debian package tmux";
}

} // namespace halvoren::test

// Puts back the shell our scripts run under when a test that named another one ends.
#pragma once

#include "remote/Shell.h"

namespace halvoren::test {

struct ScriptShellOverride {
    ScriptShellOverride() = default;
    ScriptShellOverride(const ScriptShellOverride&) = delete;
    ScriptShellOverride& operator=(const ScriptShellOverride&) = delete;
    ~ScriptShellOverride() { setScriptShellForTests(previous); }
    QString previous = scriptShell();
};

} // namespace halvoren::test

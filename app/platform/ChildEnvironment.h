// The environment of every program we start: the tabs' shells and ssh, the scripts run through
// the login shell, the one-shot ssh commands, the first-connection terminal and the opener of
// links. It is ours without the variables a tmux the application was started inside gave it:
// with TMUX set, a tmux command of ours would talk to the server it names while the tabs'
// sessions live on the default server of TMUX_TMPDIR, and a tab's tmux client would refuse to
// start inside another.
#pragma once

#include <QProcessEnvironment>
#include <QStringView>

#include <string>
#include <vector>

namespace halvoren {

// Whether a variable of ours goes to the programs we start.
bool passedToChildren(QStringView name);

// Our environment as they get it, each value byte for byte as we have it.
QProcessEnvironment childEnvironment();

// The same as "name=value" entries, for a start of our own (exec, posix_spawn).
std::vector<std::string> childEnvironmentEntries();

} // namespace halvoren

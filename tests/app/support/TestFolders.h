// A test's temporary folders outside the folder of tests/test-env (under /tmp, where socket
// paths stay short) are told to it here: should the test be stopped before it removes them,
// the environment ends the tmux servers whose sockets lie in them and removes them.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace halvoren::test {

inline void noteTestFolder(const std::string& path)
{
    const char* list = std::getenv("HALVOREN_TEST_FOLDERS");
    if (list == nullptr || *list == '\0' || path.empty())
        return;
    // Made by the environment: a run outside it writes nothing anywhere. One short append, so
    // the lines of processes that note at once never mix.
    const int file = ::open(list, O_WRONLY | O_APPEND | O_CLOEXEC);
    if (file < 0)
        return;
    const std::string line = path + '\n';
    [[maybe_unused]] const ssize_t written = ::write(file, line.data(), line.size());
    ::close(file);
}

} // namespace halvoren::test

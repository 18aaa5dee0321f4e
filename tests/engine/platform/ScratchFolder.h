// Shared by the engine tests that touch files and processes: a private folder removed with
// everything in it, reading a whole file, and a wait that polls a condition on this thread.
// The folder is made in the run's temporary folder (TMPDIR, /tmp when it names none), which
// tests/test-env removes however the test ends.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include <stdlib.h>

namespace corvantix {

class ScratchFolder {
public:
    ScratchFolder()
    {
        const char* temporary = std::getenv("TMPDIR");
        std::string pattern = std::string(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp")
                            + "/corvantix-test-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr)
            path = pattern;
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool valid() const { return !path.empty(); }
    std::string file(const std::string& name) const { return (path / name).string(); }

    std::filesystem::path path;
};

inline std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Generous: only reached when something is broken.
inline bool pollUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(60))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace corvantix

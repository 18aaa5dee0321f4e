#include "engine/platform/ScratchFolder.h"

#include <gtest/gtest.h>

#include <optional>

namespace corvantix {
namespace {

// A scratch folder lies in the run's temporary folder, which the test's environment removes
// however the test ends; in /tmp only where TMPDIR names no folder.
TEST(ScratchFolder, LiesInTheRunsTemporaryFolder)
{
    ScratchFolder run;
    ASSERT_TRUE(run.valid());
    // Put back as it was however the test ends.
    struct Restore {
        std::optional<std::string> saved;
        ~Restore()
        {
            if (saved)
                ::setenv("TMPDIR", saved->c_str(), 1);
            else
                ::unsetenv("TMPDIR");
        }
    } restore{std::getenv("TMPDIR") != nullptr ? std::optional<std::string>(std::getenv("TMPDIR")) : std::nullopt};
    const struct {
        std::optional<std::string> tmpdir;
        std::filesystem::path parent;
    } cases[] = {{run.path.string(), run.path}, {"", "/tmp"}, {std::nullopt, "/tmp"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tmpdir.value_or("(unset)"));
        if (c.tmpdir)
            ::setenv("TMPDIR", c.tmpdir->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
        ScratchFolder scratch;
        ASSERT_TRUE(scratch.valid());
        EXPECT_EQ(scratch.path.parent_path(), c.parent);
    }
}

} // namespace
} // namespace corvantix

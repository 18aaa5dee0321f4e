#include "emulator/TerminalOptions.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace corvantix {
namespace {

// Sets or clears the variables the environment list copies, and restores them afterwards.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::map<std::string, std::optional<std::string>> values)
    {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
            apply(name, value);
        }
    }
    ~ScopedEnvironment() { for (const auto& [name, value] : saved_) apply(name, value); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    static void apply(const std::string& name, const std::optional<std::string>& value)
    {
        value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }
    std::map<std::string, std::optional<std::string>> saved_;
};

// The listed variables in order, USER twice; empty values copied, unset ones skipped.
TEST(OptionsEnvironment, CopiesTheListedVariables)
{
    {
        const ScopedEnvironment env({{"LOGNAME", "alice"}, {"USER", "al"}, {"DISPLAY", ":1"}, {"LC_TYPE", "fr_FR.UTF-8"},
                                     {"LC_CTYPE", "de_DE.UTF-8"}, {"HOME", "/home/alice"}, {"LANG", "C"}});
        EXPECT_EQ(getEnvironmentVariables("xterm", false),
                  (std::vector<std::string>{"TERM=xterm", "LANG=en_US.UTF-8", "LOGNAME=alice", "USER=al", "DISPLAY=:1",
                                            "LC_TYPE=fr_FR.UTF-8", "USER=al", "HOME=/home/alice"}));
    }
    const ScopedEnvironment env(
        {{"LOGNAME", std::nullopt}, {"USER", std::nullopt}, {"DISPLAY", ""}, {"LC_TYPE", std::nullopt}, {"HOME", std::nullopt}});
    EXPECT_EQ(getEnvironmentVariables("vt220", true),
              (std::vector<std::string>{"TERM=vt220", "COLORTERM=truecolor", "LANG=en_US.UTF-8", "DISPLAY="}));
}

TEST(OptionsBidi, ParagraphRowLimitIsAtLeastOne)
{
    EXPECT_EQ(TerminalOptions{.maximumBidiParagraphRows = 0}.bidiParagraphRowLimit(), 1);
    EXPECT_EQ(TerminalOptions{.maximumBidiParagraphRows = -5}.bidiParagraphRowLimit(), 1);
    EXPECT_EQ(TerminalOptions{.maximumBidiParagraphRows = 7}.bidiParagraphRowLimit(), 7);
}

} // namespace
} // namespace corvantix

#include "emulator/TerminalOptions.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace corvantix {
namespace {

TEST(OptionsDefaults, EveryFieldHasItsDefault)
{
    const TerminalOptions options;
    EXPECT_EQ(options.cols, 80);
    EXPECT_EQ(options.rows, 25);
    EXPECT_FALSE(options.convertEol);
    EXPECT_EQ(options.termName, "xterm-256color");
    EXPECT_EQ(options.cursorStyle, CursorStyle::blinkBlock);
    EXPECT_FALSE(options.screenReaderMode);
    EXPECT_EQ(options.scrollback, 500);
    EXPECT_EQ(options.tabStopWidth, 8);
    EXPECT_TRUE(options.enableSixelReported);
    EXPECT_EQ(options.kittyImageCacheLimitBytes, 320 * 1024 * 1024);
    EXPECT_EQ(options.ansi256PaletteStrategy, Ansi256PaletteStrategy::base16Lab);
    EXPECT_EQ(options.regionalIndicatorWidth, RegionalIndicatorWidth::wide);
    EXPECT_EQ(options.initialBidiState.supportMode, BidiSupportMode::implicit);
    EXPECT_TRUE(options.initialBidiState.autodetectDirection);
    EXPECT_EQ(options.initialBidiState.fallbackDirection, BidiDirection::leftToRight);
    EXPECT_FALSE(options.initialBidiState.boxMirroring);
    EXPECT_EQ(options.maximumBidiParagraphRows, 500);
    EXPECT_FALSE(options.initialBidiArrowKeySwap);

    EXPECT_EQ(TerminalOptions::defaultOptions(), options);
    EXPECT_EQ(TerminalOptions{.cols = 80}, options); // the designated defaults agree
}

TEST(OptionsDefaults, DesignatedInitialiserTakesEveryField)
{
    const BidiPresentationState bidi{BidiSupportMode::explicit_, false, BidiDirection::rightToLeft, true};
    const TerminalOptions options{.cols = 100,
                                  .rows = 30,
                                  .convertEol = true,
                                  .termName = "vt220",
                                  .cursorStyle = CursorStyle::steadyBar,
                                  .screenReaderMode = true,
                                  .scrollback = 1000,
                                  .tabStopWidth = 4,
                                  .enableSixelReported = false,
                                  .kittyImageCacheLimitBytes = 1024,
                                  .ansi256PaletteStrategy = Ansi256PaletteStrategy::xterm,
                                  .regionalIndicatorWidth = RegionalIndicatorWidth::narrow,
                                  .initialBidiState = bidi,
                                  .maximumBidiParagraphRows = 20,
                                  .initialBidiArrowKeySwap = true};
    EXPECT_EQ(options.cols, 100);
    EXPECT_EQ(options.rows, 30);
    EXPECT_TRUE(options.convertEol);
    EXPECT_EQ(options.termName, "vt220");
    EXPECT_EQ(options.cursorStyle, CursorStyle::steadyBar);
    EXPECT_TRUE(options.screenReaderMode);
    EXPECT_EQ(options.scrollback, 1000);
    EXPECT_EQ(options.tabStopWidth, 4);
    EXPECT_FALSE(options.enableSixelReported);
    EXPECT_EQ(options.kittyImageCacheLimitBytes, 1024);
    EXPECT_EQ(options.ansi256PaletteStrategy, Ansi256PaletteStrategy::xterm);
    EXPECT_EQ(options.regionalIndicatorWidth, RegionalIndicatorWidth::narrow);
    EXPECT_EQ(options.initialBidiState, bidi);
    EXPECT_EQ(options.maximumBidiParagraphRows, 20);
    EXPECT_TRUE(options.initialBidiArrowKeySwap);
}

TEST(OptionsDefaults, BidiParagraphRowLimitIsAtLeastOne)
{
    const auto rowsFor = [](int value) {
        return TerminalOptions{.maximumBidiParagraphRows = value}.bidiParagraphRowLimit();
    };
    EXPECT_EQ(rowsFor(0), 1);
    EXPECT_EQ(rowsFor(-5), 1);
    EXPECT_EQ(rowsFor(1), 1);
    EXPECT_EQ(rowsFor(7), 7);

    // A value assigned afterwards is stored as given and read with the same rule.
    TerminalOptions options;
    options.maximumBidiParagraphRows = 0;
    EXPECT_EQ(options.maximumBidiParagraphRows, 0);
    EXPECT_EQ(options.bidiParagraphRowLimit(), 1);
    // The shared value is not touched by copies.
    EXPECT_EQ(TerminalOptions::defaultOptions().maximumBidiParagraphRows, 500);
}

TEST(OptionsCursorStyle, NamesAndOrdinals)
{
    const struct {
        CursorStyle style;
        const char* raw;
        const char* display;
        int ordinal;
    } cases[] = {
        {CursorStyle::blinkBlock, "blinkBlock", "Blinking Block", 0},
        {CursorStyle::steadyBlock, "steadyBlock", "Steady Block", 1},
        {CursorStyle::blinkUnderline, "blinkUnderline", "Blinking Underline", 2},
        {CursorStyle::steadyUnderline, "steadyUnderline", "Steady Underline", 3},
        {CursorStyle::blinkBar, "blinkBar", "Blinking Bar", 4},
        {CursorStyle::steadyBar, "steadyBar", "Steady Bar", 5},
    };
    ASSERT_EQ(allCursorStyles.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        EXPECT_EQ(allCursorStyles[i], c.style);
        EXPECT_EQ(rawValue(c.style), c.raw);
        EXPECT_EQ(displayName(c.style), c.display);
        EXPECT_EQ(ordinal(c.style), c.ordinal);
        EXPECT_EQ(cursorStyleFromRawValue(c.raw), c.style);
        EXPECT_EQ(cursorStyleFromOrdinal(c.ordinal), c.style);
    }
}

TEST(OptionsCursorStyle, OnlyExactNamesAndOrdinalsParse)
{
    for (const char* text : {"SteadyBar", "steadybar", "steadyBar ", " steadyBar", "Steady Bar", "bar", ""})
        EXPECT_EQ(cursorStyleFromRawValue(text), std::nullopt) << "\"" << text << "\"";
    EXPECT_EQ(cursorStyleFromOrdinal(-1), std::nullopt);
    EXPECT_EQ(cursorStyleFromOrdinal(6), std::nullopt);
}

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
    ~ScopedEnvironment()
    {
        for (const auto& [name, value] : saved_)
            apply(name, value);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    static void apply(const std::string& name, const std::optional<std::string>& value)
    {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST(OptionsEnvironment, EmptyEnvironmentGivesTermAndLang)
{
    const ScopedEnvironment env({{"LOGNAME", std::nullopt},
                                 {"USER", std::nullopt},
                                 {"DISPLAY", std::nullopt},
                                 {"LC_TYPE", std::nullopt},
                                 {"HOME", std::nullopt},
                                 {"LC_CTYPE", "C.UTF-8"}});
    EXPECT_EQ(getEnvironmentVariables(std::nullopt, false),
              (std::vector<std::string>{"TERM=xterm-256color", "LANG=en_US.UTF-8"}));
    EXPECT_EQ(getEnvironmentVariables("vt220", true),
              (std::vector<std::string>{"TERM=vt220", "COLORTERM=truecolor", "LANG=en_US.UTF-8"}));
}

TEST(OptionsEnvironment, CopiesTheListedVariablesInOrderWithUserTwice)
{
    const ScopedEnvironment env({{"LOGNAME", "alice"},
                                 {"USER", "al"},
                                 {"DISPLAY", ":1"},
                                 {"LC_TYPE", "fr_FR.UTF-8"},
                                 {"LC_CTYPE", "de_DE.UTF-8"},
                                 {"HOME", "/home/alice"},
                                 {"LANG", "C"}});
    EXPECT_EQ(getEnvironmentVariables("xterm", false),
              (std::vector<std::string>{"TERM=xterm", "LANG=en_US.UTF-8", "LOGNAME=alice", "USER=al",
                                        "DISPLAY=:1", "LC_TYPE=fr_FR.UTF-8", "USER=al",
                                        "HOME=/home/alice"}));
}

TEST(OptionsEnvironment, EmptyValuesAreStillCopied)
{
    const ScopedEnvironment env({{"LOGNAME", std::nullopt},
                                 {"USER", std::nullopt},
                                 {"DISPLAY", ""},
                                 {"LC_TYPE", std::nullopt},
                                 {"HOME", std::nullopt}});
    EXPECT_EQ(getEnvironmentVariables(std::nullopt, false),
              (std::vector<std::string>{"TERM=xterm-256color", "LANG=en_US.UTF-8", "DISPLAY="}));
}

} // namespace
} // namespace corvantix

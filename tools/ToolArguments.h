// The command line of every tool and benchmark, read one way: options first, each known by
// name, then the operands. `--help` (or `-h`) prints the usage on standard output and ends
// with status 0; an unknown option, a missing value or a value its option refuses prints what
// is wrong, then the usage, on standard error and ends with status 2. Nothing here needs a
// display, so a windowed tool reads its arguments before it opens one.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace corvantix {

struct ToolUsage {
    std::string_view program; // the name that starts every message
    std::string_view text;    // "usage: ..." and a line per option, ending with a newline
};

// A flag takes no value (`take` gets an empty one); any other option takes the next word,
// which `take` may refuse by answering false.
struct ToolOption {
    std::string_view name;
    bool takesValue = false;
    std::function<bool(std::string_view value)> take;
};

// The words after the options. `separated`: "--" ended the options, which a tool that runs
// a command asks for so that the command's own options are never read as the tool's.
struct ToolOperands {
    std::vector<std::string_view> words;
    bool separated = false;
};

// A whole decimal number in 1 ... maximum.
inline std::optional<int> parseCount(std::string_view text, int maximum)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > maximum)
        return std::nullopt;
    return value;
}

// The `take` of an option whose value is a count in 1 ... maximum, kept in `into`.
inline std::function<bool(std::string_view)> takeCount(int& into, int maximum)
{
    return [&into, maximum](std::string_view value) {
        const std::optional<int> count = parseCount(value, maximum);
        into = count.value_or(into);
        return count.has_value();
    };
}

// The `take` of a flag that sets `into`.
inline std::function<bool(std::string_view)> takeFlag(bool& into)
{
    return [&into](std::string_view) { return into = true; };
}

// Ends the tool with status 2: "PROGRAM: reason", then the usage, on standard error.
[[noreturn]] inline void refuseArguments(const ToolUsage& usage, std::string_view reason)
{
    std::fprintf(stderr, "%.*s: %.*s\n%.*s", static_cast<int>(usage.program.size()), usage.program.data(),
                 static_cast<int>(reason.size()), reason.data(), static_cast<int>(usage.text.size()),
                 usage.text.data());
    std::exit(2);
}

inline ToolOperands readToolArguments(int argc, char** argv, const ToolUsage& usage,
                                      std::span<const ToolOption> options)
{
    ToolOperands operands;
    int index = 1;
    for (; index < argc; ++index) {
        const std::string_view word = argv[index];
        if (word == "--") {
            operands.separated = true;
            ++index;
            break;
        }
        if (word == "--help" || word == "-h") {
            std::fwrite(usage.text.data(), 1, usage.text.size(), stdout);
            std::exit(std::fflush(stdout) == 0 ? 0 : 1);
        }
        // A lone "-" is an operand, as it is for every command that reads files.
        if (word.size() < 2 || word.front() != '-')
            break;
        const auto option = std::find_if(options.begin(), options.end(),
                                         [word](const ToolOption& known) { return known.name == word; });
        if (option == options.end())
            refuseArguments(usage, "unknown option " + std::string(word));
        std::string_view value;
        if (option->takesValue) {
            if (index + 1 >= argc)
                refuseArguments(usage, std::string(word) + " needs a value");
            value = argv[++index];
        }
        if (!option->take(value))
            refuseArguments(usage, "bad value for " + std::string(word) + ": " + std::string(value));
    }
    operands.words.assign(argv + index, argv + argc);
    return operands;
}

} // namespace corvantix

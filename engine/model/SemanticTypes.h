// Data types of semantic prompts (OSC 133): what a cell belongs to, the marks that lines
// keep where prompts start, the input state of a screen and the click-to-move settings.
// Plain values only; the behaviour lives with the buffer and the terminal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/Position.h"

namespace corvantix {

// Raw values "i", "r", "c", "s" on the wire; stored as 0..3.
enum class SemanticPromptKind : uint8_t { initial, right, continuation, secondary };

inline std::string toString(SemanticPromptKind kind)
{
    switch (kind) {
    case SemanticPromptKind::initial: return "initial";
    case SemanticPromptKind::right: return "right";
    case SemanticPromptKind::continuation: return "continuation";
    case SemanticPromptKind::secondary: return "secondary";
    }
    return "initial";
}

// The OSC 133 option letter of a kind ("i", "r", "c", "s").
constexpr char semanticPromptKindRawValue(SemanticPromptKind kind)
{
    constexpr char letters[] = {'i', 'r', 'c', 's'};
    return letters[static_cast<uint8_t>(kind) & 3];
}

constexpr std::optional<SemanticPromptKind> semanticPromptKindFromRawValue(char raw)
{
    switch (raw) {
    case 'i': return SemanticPromptKind::initial;
    case 'r': return SemanticPromptKind::right;
    case 'c': return SemanticPromptKind::continuation;
    case 's': return SemanticPromptKind::secondary;
    default: return std::nullopt;
    }
}

// prompt(kind), none, input or output. Stored in one byte: the prompt kinds as 0..3, none 4,
// input 5, output 6.
class SemanticContent {
public:
    enum class Case : uint8_t { prompt, none, input, output };

    constexpr SemanticContent() = default;

    static constexpr SemanticContent prompt(SemanticPromptKind kind) { return SemanticContent(static_cast<uint8_t>(kind)); }
    static constexpr SemanticContent none() { return SemanticContent(4); }
    static constexpr SemanticContent input() { return SemanticContent(5); }
    static constexpr SemanticContent output() { return SemanticContent(6); }

    constexpr Case kind() const
    {
        if (rawValue_ < 4)
            return Case::prompt;
        return rawValue_ == 5 ? Case::input : rawValue_ == 6 ? Case::output : Case::none;
    }
    constexpr bool isPrompt() const { return rawValue_ < 4; }
    // The prompt kind when this is prompt(kind).
    constexpr std::optional<SemanticPromptKind> promptKind() const
    {
        if (rawValue_ < 4)
            return static_cast<SemanticPromptKind>(rawValue_);
        return std::nullopt;
    }
    constexpr uint8_t rawValue() const { return rawValue_; }

    // The value a cell stores (CharData::semanticContentCode): 0 none, 1..4 the prompt
    // kinds, 5 input, 6 output.
    constexpr uint8_t cellCode() const
    {
        if (rawValue_ < 4)
            return static_cast<uint8_t>(rawValue_ + 1);
        return rawValue_ == 4 ? 0 : rawValue_;
    }
    // Decodes a cell's code; 7 and above decode as none.
    static constexpr SemanticContent fromCellCode(uint8_t code)
    {
        if (code >= 1 && code <= 4)
            return SemanticContent(static_cast<uint8_t>(code - 1));
        if (code == 5 || code == 6)
            return SemanticContent(code);
        return none();
    }

    // "prompt(initial)", "none", "input" or "output".
    std::string description() const
    {
        switch (kind()) {
        case Case::prompt: return "prompt(" + toString(static_cast<SemanticPromptKind>(rawValue_)) + ")";
        case Case::input: return "input";
        case Case::output: return "output";
        case Case::none: break;
        }
        return "none";
    }

    friend constexpr bool operator==(const SemanticContent&, const SemanticContent&) = default;

private:
    constexpr explicit SemanticContent(uint8_t raw) : rawValue_(raw) {}
    uint8_t rawValue_ = 4;
};

enum class SemanticInputState : uint8_t { idle, prompt, armed, submitted };

inline std::string toString(SemanticInputState state)
{
    switch (state) {
    case SemanticInputState::idle: return "idle";
    case SemanticInputState::prompt: return "prompt";
    case SemanticInputState::armed: return "armed";
    case SemanticInputState::submitted: return "submitted";
    }
    return "idle";
}

enum class SemanticPromptCursorClickMode : uint8_t { line, multiple, conservativeVertical, smartVertical };

inline std::string toString(SemanticPromptCursorClickMode mode)
{
    switch (mode) {
    case SemanticPromptCursorClickMode::line: return "line";
    case SemanticPromptCursorClickMode::multiple: return "multiple";
    case SemanticPromptCursorClickMode::conservativeVertical: return "conservativeVertical";
    case SemanticPromptCursorClickMode::smartVertical: return "smartVertical";
    }
    return "line";
}

// cursorKeys(strategy), none, clickEventsAbsolute, clickEventsRelative. Stored as 0..3 for the
// four cursor-key strategies, then 4, 5, 6.
class SemanticPromptClickMode {
public:
    enum class Case : uint8_t { cursorKeys, none, clickEventsAbsolute, clickEventsRelative };

    constexpr SemanticPromptClickMode() = default;

    static constexpr SemanticPromptClickMode cursorKeys(SemanticPromptCursorClickMode mode)
    {
        return SemanticPromptClickMode(static_cast<uint8_t>(mode));
    }
    static constexpr SemanticPromptClickMode none() { return SemanticPromptClickMode(4); }
    static constexpr SemanticPromptClickMode clickEventsAbsolute() { return SemanticPromptClickMode(5); }
    static constexpr SemanticPromptClickMode clickEventsRelative() { return SemanticPromptClickMode(6); }

    constexpr Case kind() const
    {
        if (rawValue_ < 4)
            return Case::cursorKeys;
        return rawValue_ == 5 ? Case::clickEventsAbsolute : rawValue_ == 6 ? Case::clickEventsRelative : Case::none;
    }
    constexpr std::optional<SemanticPromptCursorClickMode> cursorClickMode() const
    {
        if (rawValue_ < 4)
            return static_cast<SemanticPromptCursorClickMode>(rawValue_);
        return std::nullopt;
    }
    constexpr uint8_t rawValue() const { return rawValue_; }

    // "cursorKeys(line)", "none", "clickEventsAbsolute" or "clickEventsRelative".
    std::string description() const
    {
        switch (kind()) {
        case Case::cursorKeys: return "cursorKeys(" + toString(static_cast<SemanticPromptCursorClickMode>(rawValue_)) + ")";
        case Case::clickEventsAbsolute: return "clickEventsAbsolute";
        case Case::clickEventsRelative: return "clickEventsRelative";
        case Case::none: break;
        }
        return "none";
    }

    friend constexpr bool operator==(const SemanticPromptClickMode&, const SemanticPromptClickMode&) = default;

private:
    constexpr explicit SemanticPromptClickMode(uint8_t raw) : rawValue_(raw) {}
    uint8_t rawValue_ = 4;
};

// Modifier keys of a click, filled by the view; the terminal only compares whole sets.
struct SemanticPromptClickModifiers {
    uint8_t rawValue = 0;

    friend constexpr bool operator==(const SemanticPromptClickModifiers&, const SemanticPromptClickModifiers&) = default;
};

// requireModifier(modifiers), disabled or enabled.
struct SemanticPromptClickBehavior {
    enum class Case : uint8_t { requireModifier, disabled, enabled };

    Case kind = Case::enabled;
    SemanticPromptClickModifiers modifiers; // meaningful for requireModifier only

    static constexpr SemanticPromptClickBehavior requireModifier(SemanticPromptClickModifiers m) { return {Case::requireModifier, m}; }
    static constexpr SemanticPromptClickBehavior disabled() { return {Case::disabled, {}}; }
    static constexpr SemanticPromptClickBehavior enabled() { return {Case::enabled, {}}; }

    friend constexpr bool operator==(const SemanticPromptClickBehavior& a, const SemanticPromptClickBehavior& b)
    {
        return a.kind == b.kind && (a.kind != Case::requireModifier || a.modifiers == b.modifiers);
    }
};

// Taken by the view when the mouse button goes down.
struct SemanticPromptPointerSnapshot {
    bool selectionWasActive = false;
    bool didDrag = false;
    int clickCount = 0;
    bool pressWasSemanticEligible = false;

    friend constexpr bool operator==(const SemanticPromptPointerSnapshot&, const SemanticPromptPointerSnapshot&) = default;
};

// A prompt of this kind started at this column, in this command group (0 = no group).
struct SemanticMark {
    SemanticPromptKind kind = SemanticPromptKind::initial;
    int column = 0;
    uint64_t group = 0;

    friend constexpr bool operator==(const SemanticMark&, const SemanticMark&) = default;
};

struct SemanticPromptAnchor {
    Position position;
    SemanticPromptKind kind = SemanticPromptKind::initial;

    friend constexpr bool operator==(const SemanticPromptAnchor&, const SemanticPromptAnchor&) = default;
};

} // namespace corvantix

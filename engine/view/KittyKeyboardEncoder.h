// The key encoder: one key event in, the bytes for the child out. With progressive
// enhancement flags set it speaks the Kitty keyboard protocol (the flags a program pushes
// with CSI > flags u); with flags 0 it produces the classic xterm forms, so that every key
// of the view goes through `encodeKittyKeyEvent`.
//
// The encoder is pure: it reads the event, the flags and the three mode bits of the
// context, and keeps no state. No result means the event produces nothing here; the caller
// decides what happens next.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvantix {

// Functional keys in protocol order (the position is the case's number).
enum class KittyFunctionalKey : std::uint8_t {
    escape, enter, tab, backspace, insert,
    delete_, // "delete" is a keyword
    up, down, left, right, home, end, pageUp, pageDown,
    f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, f17, f18,
    f19, f20, f21, f22, f23, f24, f25, f26, f27, f28, f29, f30, f31, f32, f33, f34, f35,
    menu, capsLock, scrollLock, numLock, printScreen, pause,
    keypad0, keypad1, keypad2, keypad3, keypad4, keypad5, keypad6, keypad7, keypad8, keypad9,
    keypadDecimal, keypadDivide, keypadMultiply, keypadSubtract, keypadAdd, keypadEnter,
    keypadEqual, keypadSeparator, keypadLeft, keypadRight, keypadUp, keypadDown,
    keypadPageUp, keypadPageDown, keypadHome, keypadEnd, keypadInsert, keypadDelete, keypadBegin,
    mediaPlay, mediaPause, mediaPlayPause, mediaReverse, mediaStop, mediaFastForward,
    mediaRewind, mediaTrackNext, mediaTrackPrevious, mediaRecord, volumeDown, volumeUp, volumeMute,
    leftShift, leftControl, leftAlt, leftSuper, leftHyper, leftMeta,
    rightShift, rightControl, rightAlt, rightSuper, rightHyper, rightMeta,
    isoLevel3Shift, isoLevel5Shift,
};

inline constexpr int kittyFunctionalKeyCount = 111;

// How a functional key is written: CSI code u, CSI number ~, or a final letter.
enum class KittyKeyForm : std::uint8_t { csiU, tilde, letter };

struct KittyFunctionalKeyInfo {
    KittyKeyForm form;
    std::uint32_t code; // the protocol's number, or the letter's character code
};

// The form and code of a functional key (one constant table indexed by the case).
const KittyFunctionalKeyInfo& kittyFunctionalKeyInfo(KittyFunctionalKey key);

inline bool isKittyModifierKey(KittyFunctionalKey key)
{
    return key >= KittyFunctionalKey::leftShift;
}

inline bool isKittyKeypadKey(KittyFunctionalKey key)
{
    return key >= KittyFunctionalKey::keypad0 && key <= KittyFunctionalKey::keypadBegin;
}

// A key: a Unicode scalar, a functional key, or none (text inserted without a key).
struct KittyKey {
    enum class Kind : std::uint8_t { unicode, functional, none };

    Kind kind = Kind::none;
    char32_t scalar = 0;
    KittyFunctionalKey functionalKey = KittyFunctionalKey::escape;

    static KittyKey unicode(char32_t scalar) { return {Kind::unicode, scalar, KittyFunctionalKey::escape}; }
    static KittyKey functional(KittyFunctionalKey key) { return {Kind::functional, 0, key}; }
    static KittyKey none() { return {}; }

    bool isFunctional(KittyFunctionalKey key) const { return kind == Kind::functional && functionalKey == key; }

    friend bool operator==(const KittyKey&, const KittyKey&) = default;
};

struct KittyKeyboardModifiers {
    static constexpr std::uint8_t shift = 1;
    static constexpr std::uint8_t alt = 2;
    static constexpr std::uint8_t ctrl = 4;
    static constexpr std::uint8_t super = 8;
    static constexpr std::uint8_t hyper = 16;
    static constexpr std::uint8_t meta = 32;
    static constexpr std::uint8_t capsLock = 64;
    static constexpr std::uint8_t numLock = 128;
    static constexpr std::uint8_t locks = capsLock | numLock;

    std::uint8_t rawValue = 0;

    bool contains(std::uint8_t bits) const { return (rawValue & bits) != 0; }

    friend bool operator==(const KittyKeyboardModifiers&, const KittyKeyboardModifiers&) = default;
};

struct KittyKeyboardFlags {
    static constexpr std::uint32_t disambiguate = 1;
    static constexpr std::uint32_t reportEventTypes = 2;
    static constexpr std::uint32_t reportAlternateKeys = 4;
    static constexpr std::uint32_t reportAllKeysAsEscapeCodes = 8;
    static constexpr std::uint32_t reportAssociatedText = 16;

    std::uint32_t rawValue = 0;

    bool contains(std::uint32_t bits) const { return (rawValue & bits) == bits; }
    bool isEmpty() const { return rawValue == 0; }
};

enum class KittyKeyboardEventType : std::uint8_t { press = 0, repeatPress = 1, release = 2 };

struct KittyKeyEvent {
    KittyKey key;
    KittyKeyboardModifiers modifiers;
    KittyKeyboardEventType eventType = KittyKeyboardEventType::press;
    std::optional<std::string> text;      // associated text, UTF-8
    std::optional<char32_t> shiftedKey;   // the key's character with Shift
    std::optional<char32_t> baseLayoutKey; // the key's character on the US layout
    bool composing = false;               // an input-method composition is open
};

// The mode bits the encoder reads besides the flags.
struct KittyKeyboardContext {
    bool applicationCursor = false;
    bool applicationKeypad = false;
    bool backspaceSendsControlH = false;
};

using KeyBytes = std::vector<std::uint8_t>;

std::optional<KeyBytes> encodeKittyKeyEvent(const KittyKeyEvent& event, KittyKeyboardFlags flags,
                                            const KittyKeyboardContext& context);

// The steps of the encoder, offered for the legacy encoder and for tests.
std::optional<KeyBytes> encodeDisambiguated(const KittyKeyEvent& event, KittyKeyboardFlags flags,
                                            const KittyKeyboardContext& context, bool disambiguate);
KeyBytes buildCsiU(const KittyKeyEvent& event, std::uint32_t code, bool includeText, KittyKeyboardFlags flags);

// UTF-8 helpers of the key paths. Malformed sequences are skipped.
std::u32string decodeUtf8Scalars(std::string_view utf8);
std::optional<char32_t> firstUtf8Scalar(std::string_view utf8);
// Appends nothing for a surrogate or a value past U+10FFFF.
void appendUtf8(KeyBytes& bytes, char32_t scalar);

// The character of a key on the US layout, by its position (a Linux input event code);
// none for a position outside the 48 keys of the table.
std::optional<char32_t> kittyBaseLayoutKey(int physicalKey);

} // namespace corvantix

#include "view/KittyKeyboardEncoder.h"

#include "view/LegacyKeyEncoder.h"

#include <unicode/utf8.h>

#include <array>
#include <string_view>

namespace corvantix {

namespace {

using Flags = KittyKeyboardFlags;
using Mods = KittyKeyboardModifiers;
using Key = KittyFunctionalKey;

constexpr std::uint8_t ESC = 0x1b;

constexpr std::array<KittyFunctionalKeyInfo, kittyFunctionalKeyCount> makeFunctionalKeyTable()
{
    std::array<KittyFunctionalKeyInfo, kittyFunctionalKeyCount> table{};
    auto set = [&table](Key key, KittyKeyForm form, std::uint32_t code) {
        table[static_cast<std::size_t>(key)] = {form, code};
    };
    // Runs of keys with consecutive protocol codes.
    auto setRun = [&set](Key first, Key last, std::uint32_t firstCode) {
        for (auto k = static_cast<int>(first); k <= static_cast<int>(last); ++k)
            set(static_cast<Key>(k), KittyKeyForm::csiU, firstCode + static_cast<std::uint32_t>(k - static_cast<int>(first)));
    };
    using F = KittyKeyForm;
    set(Key::escape, F::csiU, 27);
    set(Key::enter, F::csiU, 13);
    set(Key::tab, F::csiU, 9);
    set(Key::backspace, F::csiU, 127);
    set(Key::insert, F::tilde, 2);
    set(Key::delete_, F::tilde, 3);
    set(Key::up, F::letter, 'A');
    set(Key::down, F::letter, 'B');
    set(Key::left, F::letter, 'D');
    set(Key::right, F::letter, 'C');
    set(Key::home, F::letter, 'H');
    set(Key::end, F::letter, 'F');
    set(Key::pageUp, F::tilde, 5);
    set(Key::pageDown, F::tilde, 6);
    set(Key::f1, F::letter, 'P');
    set(Key::f2, F::letter, 'Q');
    set(Key::f3, F::tilde, 13);
    set(Key::f4, F::letter, 'S');
    constexpr std::array<std::uint32_t, 8> f5to12 = {15, 17, 18, 19, 20, 21, 23, 24};
    for (std::size_t i = 0; i < f5to12.size(); ++i)
        set(static_cast<Key>(static_cast<int>(Key::f5) + static_cast<int>(i)), F::tilde, f5to12[i]);
    setRun(Key::f13, Key::f35, 57376);
    set(Key::menu, F::csiU, 57363);
    setRun(Key::capsLock, Key::pause, 57358);
    setRun(Key::keypad0, Key::keypadBegin, 57399);
    setRun(Key::mediaPlay, Key::volumeMute, 57428);
    setRun(Key::leftShift, Key::isoLevel5Shift, 57441);
    return table;
}

constexpr auto functionalKeyTable = makeFunctionalKeyTable();

static_assert(functionalKeyTable[static_cast<std::size_t>(Key::f35)].code == 57398);
static_assert(functionalKeyTable[static_cast<std::size_t>(Key::keypad5)].code == 57404);
static_assert(functionalKeyTable[static_cast<std::size_t>(Key::isoLevel5Shift)].code == 57454);

bool isControlCharacter(char32_t scalar)
{
    return scalar <= 0x1f || (scalar >= 0x7f && scalar <= 0x9f);
}

bool textHasControlCharacter(std::string_view text)
{
    for (char32_t scalar : decodeUtf8Scalars(text)) {
        if (isControlCharacter(scalar))
            return true;
    }
    return false;
}

void appendDecimal(KeyBytes& bytes, std::uint32_t value)
{
    const std::string digits = std::to_string(value);
    bytes.insert(bytes.end(), digits.begin(), digits.end());
}

void appendText(KeyBytes& bytes, std::string_view text)
{
    bytes.insert(bytes.end(), text.begin(), text.end());
}

KeyBytes textBytes(std::string_view text)
{
    return KeyBytes(text.begin(), text.end());
}

bool eventTypeShown(const KittyKeyEvent& event, KittyKeyboardFlags flags)
{
    return flags.contains(Flags::reportEventTypes) && event.eventType != KittyKeyboardEventType::press;
}

// ";" m [":" e] after a number, when there is something to show.
void appendModifierField(KeyBytes& bytes, const KittyKeyEvent& event, KittyKeyboardFlags flags)
{
    const bool showType = eventTypeShown(event, flags);
    if (event.modifiers.rawValue == 0 && !showType)
        return;
    bytes.push_back(';');
    appendDecimal(bytes, event.modifiers.rawValue + 1u);
    if (showType) {
        bytes.push_back(':');
        appendDecimal(bytes, static_cast<std::uint32_t>(event.eventType) + 1u);
    }
}

// CSI code [";" m [":" e]] "~".
KeyBytes tildeForm(const KittyKeyEvent& event, std::uint32_t code, KittyKeyboardFlags flags)
{
    KeyBytes bytes{ESC, '['};
    appendDecimal(bytes, code);
    appendModifierField(bytes, event, flags);
    bytes.push_back('~');
    return bytes;
}

// CSI "1;" m [":" e] letter, or CSI letter when there is nothing to show.
KeyBytes letterForm(const KittyKeyEvent& event, std::uint32_t letter, KittyKeyboardFlags flags)
{
    KeyBytes bytes{ESC, '['};
    if (event.modifiers.rawValue != 0 || eventTypeShown(event, flags)) {
        bytes.push_back('1');
        appendModifierField(bytes, event, flags);
    }
    bytes.push_back(static_cast<std::uint8_t>(letter));
    return bytes;
}

bool isCursorLetterKey(Key key)
{
    return key >= Key::up && key <= Key::end;
}

bool isEnterTabOrBackspace(Key key)
{
    return key == Key::enter || key == Key::tab || key == Key::backspace;
}

// Everything as escape codes (reportAllKeysAsEscapeCodes set).
KeyBytes encodeAllAsEscapeCodes(const KittyKeyEvent& event, KittyKeyboardFlags flags, bool includeText)
{
    if (event.key.kind != KittyKey::Kind::functional) {
        const std::uint32_t code = event.key.kind == KittyKey::Kind::unicode ? event.key.scalar : 0;
        return buildCsiU(event, code, includeText, flags);
    }
    const Key key = event.key.functionalKey;
    const KittyFunctionalKeyInfo& info = kittyFunctionalKeyInfo(key);
    if (key == Key::escape)
        return buildCsiU(event, info.code, false, flags);
    switch (info.form) {
    case KittyKeyForm::letter:
        return letterForm(event, info.code, flags);
    case KittyKeyForm::tilde:
        return tildeForm(event, info.code, flags);
    case KittyKeyForm::csiU:
        break;
    }
    return buildCsiU(event, info.code, includeText, flags);
}

} // namespace

std::u32string decodeUtf8Scalars(std::string_view utf8)
{
    std::u32string scalars;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(utf8.data());
    const auto length = static_cast<std::int32_t>(utf8.size());
    std::int32_t index = 0;
    while (index < length) {
        UChar32 scalar = 0;
        U8_NEXT(bytes, index, length, scalar);
        if (scalar >= 0) // malformed sequences are skipped
            scalars.push_back(static_cast<char32_t>(scalar));
    }
    return scalars;
}

std::optional<char32_t> firstUtf8Scalar(std::string_view utf8)
{
    if (utf8.empty())
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(utf8.data());
    std::int32_t index = 0;
    UChar32 scalar = 0;
    U8_NEXT(bytes, index, static_cast<std::int32_t>(utf8.size()), scalar);
    if (scalar < 0)
        return std::nullopt;
    return static_cast<char32_t>(scalar);
}

void appendUtf8(KeyBytes& bytes, char32_t scalar)
{
    if (scalar > 0x10ffff || (scalar >= 0xd800 && scalar <= 0xdfff))
        return;
    std::uint8_t buffer[U8_MAX_LENGTH];
    std::int32_t length = 0;
    U8_APPEND_UNSAFE(buffer, length, static_cast<UChar32>(scalar));
    bytes.insert(bytes.end(), buffer, buffer + length);
}

const KittyFunctionalKeyInfo& kittyFunctionalKeyInfo(KittyFunctionalKey key)
{
    return functionalKeyTable[static_cast<std::size_t>(key)];
}

KeyBytes buildCsiU(const KittyKeyEvent& event, std::uint32_t code, bool includeText, KittyKeyboardFlags flags)
{
    // Modifiers; the lock bits are dropped without flags.
    std::uint32_t mods = event.modifiers.rawValue;
    if (flags.isEmpty())
        mods &= ~static_cast<std::uint32_t>(Mods::locks);
    const bool showType = eventTypeShown(event, flags);

    // Text codes: the scalars of the text that are not control characters.
    std::u32string textCodes;
    if (includeText && event.text) {
        for (char32_t scalar : decodeUtf8Scalars(*event.text)) {
            if (!isControlCharacter(scalar))
                textCodes.push_back(scalar);
        }
    }

    // CSI and the code.
    KeyBytes bytes{ESC, '['};
    appendDecimal(bytes, code);

    // Alternate keys.
    if (flags.contains(Flags::reportAlternateKeys)) {
        bool shiftedWritten = false;
        if (event.modifiers.contains(Mods::shift) && event.shiftedKey) {
            bytes.push_back(':');
            appendDecimal(bytes, *event.shiftedKey);
            shiftedWritten = true;
        }
        if (event.baseLayoutKey) {
            appendText(bytes, shiftedWritten ? ":" : "::");
            appendDecimal(bytes, *event.baseLayoutKey);
        }
    }

    // Modifiers and event type.
    const bool modifierFieldWritten = mods != 0 || showType;
    if (modifierFieldWritten) {
        bytes.push_back(';');
        appendDecimal(bytes, mods + 1);
        if (showType) {
            bytes.push_back(':');
            appendDecimal(bytes, static_cast<std::uint32_t>(event.eventType) + 1u);
        }
    }

    // Text codes.
    if (!textCodes.empty()) {
        appendText(bytes, modifierFieldWritten ? ";" : ";;");
        for (std::size_t i = 0; i < textCodes.size(); ++i) {
            if (i > 0)
                bytes.push_back(':');
            appendDecimal(bytes, textCodes[i]);
        }
    }

    // The final byte.
    bytes.push_back('u');
    return bytes;
}

std::optional<KeyBytes> encodeDisambiguated(const KittyKeyEvent& event, KittyKeyboardFlags flags,
                                            const KittyKeyboardContext& context, bool disambiguate)
{
    switch (event.key.kind) {
    case KittyKey::Kind::unicode:
        if (!disambiguate) {
            if (auto legacy = encodeLegacyTextKey(event))
                return legacy;
        }
        return buildCsiU(event, event.key.scalar, false, flags);
    case KittyKey::Kind::none:
        return buildCsiU(event, 0, false, flags);
    case KittyKey::Kind::functional:
        break;
    }

    if (flags.isEmpty())
        return encodeLegacyFunctionalKey(event, context);

    const Key key = event.key.functionalKey;
    const KittyFunctionalKeyInfo& info = kittyFunctionalKeyInfo(key);
    const bool shown = event.modifiers.rawValue != 0 || eventTypeShown(event, flags);

    if (key == Key::escape) {
        if (!disambiguate)
            return encodeLegacyControlKey(event, context);
        return buildCsiU(event, info.code, false, flags);
    }
    if (isEnterTabOrBackspace(key)) {
        if (disambiguate && shown)
            return buildCsiU(event, info.code, false, flags);
        return encodeLegacyControlKey(event, context);
    }
    switch (info.form) {
    case KittyKeyForm::tilde:
        return tildeForm(event, info.code, flags);
    case KittyKeyForm::csiU:
        return buildCsiU(event, info.code, false, flags);
    case KittyKeyForm::letter:
        break;
    }
    if (!disambiguate && !shown) {
        const bool ss3 = (isCursorLetterKey(key) && context.applicationCursor) || key == Key::f1 || key == Key::f2 ||
                         key == Key::f4;
        if (ss3)
            return KeyBytes{ESC, 'O', static_cast<std::uint8_t>(info.code)};
        return KeyBytes{ESC, '[', static_cast<std::uint8_t>(info.code)};
    }
    return letterForm(event, info.code, flags);
}

std::optional<KeyBytes> encodeKittyKeyEvent(const KittyKeyEvent& event, KittyKeyboardFlags flags,
                                            const KittyKeyboardContext& context)
{
    const bool D = flags.contains(Flags::disambiguate);
    const bool E = flags.contains(Flags::reportEventTypes);
    const bool R = flags.contains(Flags::reportAllKeysAsEscapeCodes);
    const bool T = flags.contains(Flags::reportAssociatedText);
    const bool isRelease = event.eventType == KittyKeyboardEventType::release;
    const bool isModifierKey = event.key.kind == KittyKey::Kind::functional && isKittyModifierKey(event.key.functionalKey);

    // Whether associated text goes along; which releases produce nothing.
    bool includeText = false;
    if (R && T && !isRelease) {
        includeText = !event.modifiers.contains(Mods::alt | Mods::ctrl | Mods::super | Mods::hyper | Mods::meta);
    } else {
        if (isRelease && !E)
            return std::nullopt;
        if (isRelease && !R && event.key.kind == KittyKey::Kind::functional &&
            isEnterTabOrBackspace(event.key.functionalKey))
            return std::nullopt;
    }

    // An open composition keeps everything but the modifier keys under R.
    if (event.composing) {
        if (!(isModifierKey && R))
            return std::nullopt;
    } else if (!R && isModifierKey) {
        return std::nullopt;
    }

    // A key with text.
    if (event.text && !event.text->empty()) {
        const std::string& text = *event.text;
        const bool isEnter = event.key.isFunctional(Key::enter);
        if ((isEnter || event.key.isFunctional(Key::backspace)) && !textHasControlCharacter(text)) {
            if (!isEnter)
                return std::nullopt;
            return textBytes(text);
        }
        if (R) {
            // Text committed without a key (an input method's result) is the text itself
            // unless the program asked for associated text: a bare CSI 0 u would lose it.
            if (event.key.kind == KittyKey::Kind::none && !T && !isRelease)
                return textBytes(text);
            return encodeAllAsEscapeCodes(event, flags, includeText);
        }
        if (event.key.kind == KittyKey::Kind::functional)
            return encodeDisambiguated(event, flags, context, D);
        if (event.modifiers.contains(Mods::alt | Mods::ctrl) && D)
            return encodeDisambiguated(event, flags, context, true);
        if (isRelease)
            return std::nullopt;
        return textBytes(text);
    }

    // No text.
    if (!R)
        return encodeDisambiguated(event, flags, context, D);

    // Under R every key is an escape code.
    return encodeAllAsEscapeCodes(event, flags, includeText);
}

std::optional<char32_t> kittyBaseLayoutKey(int physicalKey)
{
    // Linux input event codes of the US layout's character keys.
    struct Entry {
        int code;
        char32_t character;
    };
    static constexpr std::array<Entry, 48> table = {{
        {2, '1'},   {3, '2'},   {4, '3'},   {5, '4'},   {6, '5'},   {7, '6'},   {8, '7'},  {9, '8'},
        {10, '9'},  {11, '0'},  {12, '-'},  {13, '='},  {16, 'q'},  {17, 'w'},  {18, 'e'}, {19, 'r'},
        {20, 't'},  {21, 'y'},  {22, 'u'},  {23, 'i'},  {24, 'o'},  {25, 'p'},  {26, '['}, {27, ']'},
        {30, 'a'},  {31, 's'},  {32, 'd'},  {33, 'f'},  {34, 'g'},  {35, 'h'},  {36, 'j'}, {37, 'k'},
        {38, 'l'},  {39, ';'},  {40, '\''}, {41, '`'},  {43, '\\'}, {44, 'z'},  {45, 'x'}, {46, 'c'},
        {47, 'v'},  {48, 'b'},  {49, 'n'},  {50, 'm'},  {51, ','},  {52, '.'},  {53, '/'}, {57, ' '},
    }};
    for (const Entry& entry : table) {
        if (entry.code == physicalKey)
            return entry.character;
    }
    return std::nullopt;
}

} // namespace corvantix

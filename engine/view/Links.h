// Links under the pointer, apart from the widget: which link a click opens in each highlight
// mode, what the hover highlight covers, the parameters of an OSC 8 link, and what a link's
// text points at (a URL, or a file, possibly named with a line and column suffix).
#pragma once

#include "drawing/LinkHighlightMode.h"
#include "emulator/Terminal.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvantix {

// A link to open and the parameters it was written with (OSC 8 "key=value" pairs).
struct LinkParameters {
    std::string link;
    std::map<std::string, std::string> params;

    friend bool operator==(const LinkParameters&, const LinkParameters&) = default;
};

// An OSC 8 payload as stored: "params;URI". The link is everything after the first ";"
// (a URI may hold ";" itself); the parameters are ":"-separated "key=value" pairs, later
// keys replacing earlier ones, malformed pairs ignored. None without a ";".
std::optional<LinkParameters> parseLinkParameters(std::string_view payload);

// The text of the OSC 8 payload of a cell (the right half of a wide character reads the
// wide character's).
std::optional<std::string> linkPayloadAt(const Terminal& terminal, int col, int row);

// The rows and columns the hover highlight covers at a cell: none when the mode does not
// highlight on hover, the modifier is required and up, or no link is there. OSC 8 links
// are tried first, then links found in the text.
std::optional<std::vector<RowRange>> hoverLinkRanges(const Terminal& terminal, LinkHighlightMode mode,
                                                     bool modifierHeld, int col, int row);

// The link a click at a cell (absolute row) opens. In the hover modes only the highlighted
// link opens (its rows and columns must equal `highlight`), with the modifier held in
// hoverWithModifier; in the always modes only OSC 8 links open, with the modifier held in
// alwaysWithModifier.
std::optional<LinkParameters> linkAt(const Terminal& terminal, LinkHighlightMode mode,
                                     const std::optional<std::vector<RowRange>>& highlight, int col, int row,
                                     bool commandHeld);

// What a link's text points at.
struct LinkTarget {
    enum class Kind { url, file };
    Kind kind = Kind::url;
    std::string value; // the URL as written, or the file's path

    friend bool operator==(const LinkTarget&, const LinkTarget&) = default;
};

// A text with a URL scheme is a URL. Otherwise it names a file: a leading "~" stands for
// `home`; the file must exist, else a ":line" or ":line:column" suffix is cut and the path
// before it must exist. None when nothing fits.
std::optional<LinkTarget> resolveLinkTarget(std::string_view link, const std::optional<std::string>& home,
                                            const std::function<bool(const std::string&)>& fileExists);

} // namespace corvantix

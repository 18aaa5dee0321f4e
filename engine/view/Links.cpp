#include "view/Links.h"

#include "model/TinyAtom.h"

#include <cctype>

namespace corvantix {

namespace {

std::vector<std::string_view> split(std::string_view text, char separator, bool keepEmpty)
{
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        const std::string_view piece = text.substr(start, end == std::string_view::npos ? end : end - start);
        if (keepEmpty || !piece.empty())
            pieces.push_back(piece);
        if (end == std::string_view::npos)
            return pieces;
        start = end + 1;
    }
}

bool hasUrlScheme(std::string_view text)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(text[0])))
        return false;
    for (const char c : text.substr(0, colon)) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return true;
}

// The text without a trailing ":digits"; none when it has no such end.
std::optional<std::string_view> withoutNumberSuffix(std::string_view text)
{
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[text.size() - 1 - digits])))
        ++digits;
    if (digits == 0 || digits == text.size() || text[text.size() - 1 - digits] != ':')
        return std::nullopt;
    return text.substr(0, text.size() - 1 - digits);
}

// The link at a view cell, with the buffer cell it resolved to: an explicit one first, then
// (when allowed) one found in the text.
struct CellLink {
    Position position;
    LinkMatch match;
};

std::optional<CellLink> linkMatchAt(const Terminal& terminal, int col, int row, bool implicitAllowed)
{
    const Buffer& screen = terminal.buffer();
    const std::optional<Position> position =
        terminal.resolveLinkPosition(col, row, LinkLookupLocation::Kind::buffer, screen);
    if (!position)
        return std::nullopt;
    std::optional<LinkMatch> match = terminal.explicitLinkMatch(position->col, position->row, screen);
    if (!match && implicitAllowed)
        match = terminal.implicitLinkMatch(position->col, position->row, screen);
    if (!match)
        return std::nullopt;
    return CellLink{*position, std::move(*match)};
}

} // namespace

std::optional<LinkParameters> parseLinkParameters(std::string_view payload)
{
    const std::size_t separator = payload.find(';');
    if (separator == std::string_view::npos)
        return std::nullopt;
    LinkParameters result;
    result.link = std::string(payload.substr(separator + 1));
    for (const std::string_view pair : split(payload.substr(0, separator), ':', false)) {
        const std::vector<std::string_view> parts = split(pair, '=', false);
        if (parts.size() == 2)
            result.params[std::string(parts[0])] = std::string(parts[1]);
    }
    return result;
}

std::optional<std::string> linkPayloadAt(const Terminal& terminal, int col, int row)
{
    const std::optional<std::uint16_t> code = terminal.payloadCodeAt(col, row, terminal.buffer());
    if (!code)
        return std::nullopt;
    return TinyAtom::lookup(*code);
}

std::optional<std::vector<RowRange>> hoverLinkRanges(const Terminal& terminal, LinkHighlightMode mode,
                                                     bool modifierHeld, int col, int row)
{
    if (mode == LinkHighlightMode::always || mode == LinkHighlightMode::alwaysWithModifier)
        return std::nullopt;
    if (mode == LinkHighlightMode::hoverWithModifier && !modifierHeld)
        return std::nullopt;
    std::optional<CellLink> found = linkMatchAt(terminal, col, row, true);
    if (!found)
        return std::nullopt;
    return std::move(found->match.rowRanges);
}

std::optional<LinkParameters> linkAt(const Terminal& terminal, LinkHighlightMode mode,
                                     const std::optional<std::vector<RowRange>>& highlight, int col, int row,
                                     bool commandHeld)
{
    const bool implicitAllowed = (mode == LinkHighlightMode::hover
                                  || (mode == LinkHighlightMode::hoverWithModifier && commandHeld))
        && highlight.has_value();
    std::optional<CellLink> found = linkMatchAt(terminal, col, row, implicitAllowed);
    if (!found)
        return std::nullopt;
    const Position& position = found->position;
    LinkMatch& match = found->match;

    bool open = false;
    switch (mode) {
    case LinkHighlightMode::hover:
        open = highlight && match.rowRanges == *highlight;
        break;
    case LinkHighlightMode::hoverWithModifier:
        open = commandHeld && highlight && match.rowRanges == *highlight;
        break;
    case LinkHighlightMode::always:
        open = match.isExplicit;
        break;
    case LinkHighlightMode::alwaysWithModifier:
        open = match.isExplicit && commandHeld;
        break;
    }
    if (!open)
        return std::nullopt;
    if (match.isExplicit) {
        if (const std::optional<std::string> payload = linkPayloadAt(terminal, position.col, position.row)) {
            if (std::optional<LinkParameters> parsed = parseLinkParameters(*payload))
                return parsed;
        }
    }
    return LinkParameters{std::move(match.text), {}};
}

std::optional<LinkTarget> resolveLinkTarget(std::string_view link, const std::optional<std::string>& home,
                                            const std::function<bool(const std::string&)>& fileExists)
{
    if (hasUrlScheme(link))
        return LinkTarget{LinkTarget::Kind::url, std::string(link)};
    std::string path(link);
    if (home && (link == "~" || link.starts_with("~/")))
        path = *home + std::string(link.substr(1));
    if (path.empty())
        return std::nullopt;
    if (fileExists(path))
        return LinkTarget{LinkTarget::Kind::file, path};
    // "file:12" or "file:12:3": the same match as ":[0-9]+(?::[0-9]+)?$" at its leftmost.
    std::optional<std::string_view> cut = withoutNumberSuffix(path);
    if (!cut)
        return std::nullopt;
    if (const std::optional<std::string_view> shorter = withoutNumberSuffix(*cut))
        cut = shorter;
    const std::string shortened(*cut);
    if (!shortened.empty() && fileExists(shortened))
        return LinkTarget{LinkTarget::Kind::file, shortened};
    return std::nullopt;
}

} // namespace corvantix

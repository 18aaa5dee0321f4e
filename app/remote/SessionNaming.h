// The tmux session of a project folder is named from the folder's path alone, so the same
// folder lands in the same session for every client applying the same rule.
#pragma once

#include <QString>

namespace halvoren {

// Every session of ours begins with this; sessions without it are never touched.
inline constexpr char sessionNamePrefix[] = "kq-";

// Trimmed of white space and line breaks at both ends, runs of "/" made one, trailing "/"
// removed (a lone "/" stays).
QString normalizeProjectPath(const QString& path);

// 64-bit FNV-1a of the UTF-8 bytes, as 16 lower-case hexadecimal digits.
QString fnv1aHex(const QString& text);

// "kq-" + the last path component with ".", ":", "/" and white space made "_" + "-" + the
// hash of the whole normalised path. The characters tmux would rewrite in a stored name (a
// backslash, control and unassigned characters, "$" before a letter, "_" or "{") are made "_"
// too, so the name tmux keeps is this one; every other name is unchanged.
QString tmuxSessionName(const QString& path);

} // namespace halvoren

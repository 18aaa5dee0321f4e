// The tmux session of a project folder is named from the folder's path alone, so the same
// folder lands in the same session for every client applying the same rule.
#pragma once

#include <QString>

#include <limits>

namespace halvoren {

// Every session of ours begins with this; sessions without it are never touched.
inline constexpr char sessionNamePrefix[] = "kq-";

// The longest folder name and path a Linux file system allows, in UTF-8 bytes.
inline constexpr qsizetype maximumFolderNameBytes = 255;
inline constexpr qsizetype maximumFolderPathBytes = 4096;

// The longest names our own folders give, built from their parts, so every folder keeps its
// tab: the prefix, a label as long as a folder name (each character made "_" takes one byte,
// never more than it had), "-", the hash and the "-n" of a numbered session; a tab name is a
// folder name with its " (n)". The numbers are counted in an int.
inline constexpr qsizetype sessionHashDigits = 16;
inline constexpr qsizetype maximumSessionNumberDigits = std::numeric_limits<int>::digits10 + 1;
inline constexpr qsizetype maximumSessionNameBytes = qsizetype(sizeof sessionNamePrefix - 1) + maximumFolderNameBytes
                                                   + 1 + sessionHashDigits + 1 + maximumSessionNumberDigits;
inline constexpr qsizetype maximumTabNameBytes = maximumFolderNameBytes + 2 + maximumSessionNumberDigits + 1;

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

// The per-host file "~/.halvoren/shared.json": the favourite and hidden projects that every
// client of the host shares.
#pragma once

#include "remote/HostText.h"

#include <QByteArrayView>
#include <QHash>
#include <QString>

#include <optional>
#include <set>

namespace halvoren {

using NameSet = std::set<QString, CodePointLess>;

struct SharedPrefs {
    NameSet favorites;
    NameSet hidden;

    bool operator==(const SharedPrefs&) const = default;
};

inline constexpr char sharedStatePath[] = "~/.halvoren/shared.json";

// Nothing for blank text, invalid JSON or a value that is not an object; a member that is
// missing or not an array is an empty set, and elements that are not strings are skipped.
// Names of any length are kept: every client writes the file back whole, so a name left out
// here would be erased for all of them. The file's size is what bounds them.
std::optional<SharedPrefs> parseSharedPrefs(QStringView text);

// {"favorites":[…],"hidden":[…],"version":1}: compact, sorted, "/" written "\/".
QString encodeSharedPrefs(const NameSet& favorites, const NameSet& hidden);
// The size in UTF-8 bytes of what encodeSharedPrefs writes for the two sets.
qsizetype encodedSharedPrefsBytes(const NameSet& favorites, const NameSet& hidden);

// What POSIX `cksum` prints for these bytes read from its standard input: "<crc> <bytes>".
// A write works it out before sending the file, so the host can tell that what it received
// is whole before installing it.
QString cksumLine(QByteArrayView bytes);

// Puts the names wanted (true) into the set and takes the others out; whether that changed it.
bool applyPendingNames(NameSet& names, const QHash<QString, bool>& pending);
// Drops the pending names the set already is as they want it; whether any went.
bool dropSatisfiedNames(QHash<QString, bool>& pending, const NameSet& names);

} // namespace halvoren

// What a host records about its open tabs, read with one script per host and sync: a row per
// tmux session with our options, a marker line, then the shared-state file.
#pragma once

#include "remote/SessionNaming.h"
#include "remote/SharedPrefs.h"

#include <QList>
#include <QStringList>
#include <QString>

#include <optional>
#include <set>

namespace halvoren {

// Order of a tab whose "@hv_order" is missing or not an integer: after every numbered one.
inline constexpr qint64 unsetHostOrder = 1073741824;

inline constexpr char sharedMarker[] = "@@HV_SHARED@@";
// Printed by the listing in place of a shared-state file larger than maximumSharedStateBytes.
inline constexpr char sharedTooLargeMarker[] = "@@HV_SHARED_TOO_LARGE@@";
// Printed in place of a shared-state path that is there but cannot be read as a file: a
// folder, a pipe (which would block the listing), a file without read permission.
inline constexpr char sharedUnreadableMarker[] = "@@HV_SHARED_UNREADABLE@@";

// What a host may give, in UTF-8 bytes: a project name as long as a folder name, session and
// tab names as long as any folder of ours gives, a path as long as the system allows, and a
// shared-state file far larger than thousands of names (its bytes as stored: one of exactly
// this size is read). Favourite and hidden names are bounded by the file alone.
inline constexpr qsizetype maximumHostNameBytes = maximumFolderNameBytes;
inline constexpr qsizetype maximumHostSessionBytes = maximumSessionNameBytes;
inline constexpr qsizetype maximumHostTabNameBytes = maximumTabNameBytes;
inline constexpr qsizetype maximumHostPathBytes = maximumFolderPathBytes;
inline constexpr qsizetype maximumSharedStateBytes = 1 << 20;

// Sessions a listing keeps besides those the client asks to keep (its tabs, saved tabs and
// known folders). The others serve only to tell which session names are taken and that the
// host has sessions at all: a few thousand is more than any workspace shows, and costs well
// under a megabyte, while a host may list millions within the output cap.
inline constexpr qsizetype maximumListedSessions = 5000;

// The problems a listing may report, each shown once per connection.
QString hostNameTooLongMessage(qsizetype limit = maximumHostNameBytes);
QString hostPathTooLongMessage();
// A host's file is "du serveur", ours "de cet ordinateur".
QString sharedStateTooLargeMessage(bool thisComputer = false);
QString sharedStateUnreadableMessage(bool thisComputer = false);
QString hostSessionsCappedMessage(qsizetype dropped);

struct HostTab {
    QString session;
    qint64 order = unsetHostOrder;
    QString name;
    QString path;
    std::optional<QString> parent;

    bool operator==(const HostTab&) const = default;
};

struct ServerState {
    // Set by any row, kept or not.
    bool synced = false;
    // The sessions kept (see parseServerState), open or not, of any prefix.
    std::set<QString, CodePointLess> sessions;
    QList<HostTab> open;
    std::optional<SharedPrefs> shared;
    // The shared-state file was refused for its size (`shared` is then absent): it must be
    // neither adopted nor replaced, while the rows still count.
    bool sharedTooLarge = false;
    // The same for a file that is there but could not be read: not a file, no permission,
    // or not a JSON object. Only a missing or blank file is ours to write.
    bool sharedUnreadable = false;
    // Values refused and left out, as the messages to show.
    QStringList problems;
    // The sessions whose rows were refused, as `refusedSessionKey`s (a refused name may be
    // long, and a host may print many), sorted: a tab of ours among them cannot be followed.
    QList<quint64> refusedSessions;

    bool operator==(const ServerState&) const = default;
};

QString listingScript();

// Reads any text in one pass; rows it cannot read are skipped. Rows end at line feeds only: a
// row cut short by a line feed inside a value takes the following lines back, with their line
// feeds, so any other character of a value stays as the host stored it. A session name longer
// than maximumHostSessionBytes skips its row, a tab name longer than maximumHostTabNameBytes
// reads as the session name, and a row whose path is longer than maximumHostPathBytes is not
// an open tab; each is noted in `problems`, and the refused rows in `refusedSessions`.
//
// The sessions named in `keep` are always kept; of the others at most maximumListedSessions:
// open rows first, the tabs a client would open first (lowest orders, rows without a path
// last), then numbered sessions of a kept one ("<kept>-<n>"), then other "kq-" sessions, then
// the rest, each in listing order. Those dropped are noted in `problems` with their count.
ServerState parseServerState(const QString& output, const QStringList& keep = {});

// How a refused session is remembered.
quint64 refusedSessionKey(QStringView session);
bool isRefusedSession(const ServerState& state, const QString& session);

// Output without the marker line is no listing at all (the script did not run to its end,
// or something else answered): nothing, which callers tell from an empty host.
std::optional<ServerState> parseListingOutput(const QString& output, const QStringList& keep = {});

} // namespace halvoren

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

// The listing's marker lines. Each run of the listing adds a fresh nonce of its own to every
// marker (see newListingNonce): no folder, session or favourite can hold a marker of a run
// that has not started yet, so whatever a host stores stays data.
inline constexpr char sharedMarker[] = "@@HV_SHARED@@";
// Printed by the listing in place of a shared-state file larger than maximumSharedStateBytes.
inline constexpr char sharedTooLargeMarker[] = "@@HV_SHARED_TOO_LARGE@@";
// Printed in place of a shared-state path that is there but cannot be read as a file: a
// folder, a pipe (which would block the listing), a file without read permission.
inline constexpr char sharedUnreadableMarker[] = "@@HV_SHARED_UNREADABLE@@";
// Begins the line, right after the shared marker line, that gives the file's checksum (what
// the host's `cksum` prints for its bytes, taken before they are read): the checksum a write
// of the file expects. There is no such line when there is no file to read.
inline constexpr char sharedSumMarker[] = "@@HV_SUM@@";
// A write of the file answers with one of these: written, with the checksum of what it
// installed; or changed (the host's file is not the one expected), followed by the file as
// the listing prints it after its marker line.
inline constexpr char sharedWrittenMarker[] = "@@HV_WRITTEN@@";
inline constexpr char sharedChangedMarker[] = "@@HV_CHANGED@@";
// Ends the rows when they reached maximumListedRowBytes: the rows after it were not printed.
// The row filter then exits with rowsCutStatus; any other status but 0 is a filter that did
// not run (127: no awk on the host's path) or failed, which the listing prints after
// rowsFailedMarker, on a line of its own.
inline constexpr char rowsCutMarker[] = "@@HV_CUT@@";
inline constexpr int rowsCutStatus = 3;
inline constexpr char rowsFailedMarker[] = "@@HV_ROWS_FAILED@@";
// Only after cut rows: the open rows alone, asked of tmux again, then the end marker when
// tmux answered them whole.
inline constexpr char openRowsMarker[] = "@@HV_OPEN@@";
inline constexpr char openRowsEndMarker[] = "@@HV_END@@";

// What the listing prints at most, in bytes: every row, then (when those were cut) the open
// rows again. With the shared-state file both stay well below the output any run may give
// (Shell::maximumOutputBytes), so a host with millions of sessions still answers.
inline constexpr qsizetype maximumListedRowBytes = qsizetype{16} << 20;
inline constexpr qsizetype maximumListedOpenRowBytes = qsizetype{8} << 20;

// A name, path or parent of a row is read up to this many UTF-8 bytes: far beyond any file
// system's name or path, while the listing stays bounded. A row with a longer session name
// or path is left out (see parseServerState); a longer tab name reads as the session name.
inline constexpr qsizetype maximumHostValueBytes = qsizetype{64} << 10;
// Favourite and hidden names are bounded by the shared-state file alone, whose bytes as
// stored are read up to exactly maximumSharedStateBytes.
inline constexpr qsizetype maximumSharedStateBytes = 1 << 20;

// Sessions a listing keeps besides those the client asks to keep (its tabs, saved tabs and
// known folders). The others serve only to tell which session names are taken and that the
// host has sessions at all: a few thousand is more than any workspace shows, and costs well
// under a megabyte, while a host may list millions within the output cap.
inline constexpr qsizetype maximumListedSessions = 5000;

// Whose listing a message speaks of: messages call this computer "cet ordinateur" and a
// server "le serveur".
enum class HostKind { thisComputer, server };
// "Cet ordinateur" or "Le serveur", to begin a sentence.
QString hostSubject(HostKind host);

// The problems a listing may report, each shown once per connection.
QString hostSessionTooLongMessage(HostKind host = HostKind::thisComputer);
QString hostTabNameTooLongMessage(HostKind host = HostKind::thisComputer);
QString hostPathTooLongMessage(HostKind host = HostKind::thisComputer);
// A host's file is "du serveur", ours "de cet ordinateur".
QString sharedStateTooLargeMessage(HostKind host = HostKind::thisComputer);
QString sharedStateUnreadableMessage(HostKind host = HostKind::thisComputer);
// A change that would take the file past maximumSharedStateBytes is kept here, until the
// application quits.
QString sharedStateFullMessage(HostKind host = HostKind::thisComputer);
QString hostSessionsCappedMessage(qsizetype dropped, HostKind host = HostKind::thisComputer);
// The row filter did not run or failed with `status`: no row was read.
QString hostRowsFailedMessage(int status, HostKind host = HostKind::thisComputer);

struct HostTab {
    QString session;
    qint64 order = unsetHostOrder;
    QString name;
    QString path;
    std::optional<QString> parent;
    // When tmux made the session, in seconds since 1970; none when the row did not say. A
    // session killed and made again under the same name is another row.
    std::optional<qint64> created;

    bool operator==(const HostTab&) const = default;
};

struct ServerState {
    // Set by any row, kept or not.
    bool synced = false;
    // The sessions kept (see parseServerState), open or not, of any prefix.
    std::set<QString, CodePointLess> sessions;
    QList<HostTab> open;
    std::optional<SharedPrefs> shared;
    // The checksum of the shared-state file as read; none when there was no file to read.
    std::optional<QString> sharedSum;
    // The shared-state file was refused for its size (`shared` is then absent): it must be
    // neither adopted nor replaced, while the rows still count.
    bool sharedTooLarge = false;
    // The same for a file that is there but could not be read: not a file, no permission,
    // or not a JSON object. Only a missing or blank file is ours to write.
    bool sharedUnreadable = false;
    // Values left out, as the messages to show.
    QStringList problems;
    // The sessions whose rows were left out for a value too long to read, as
    // `refusedSessionKey`s (such a name may be long, and a host may print many), sorted: a tab
    // of ours among them is neither followed nor closed.
    QList<quint64> refusedSessions;
    // The rows were cut at maximumListedRowBytes: `sessions` is only part of the host's.
    bool rowsCut = false;
    // The open rows are only part of the host's too (cut rows, and tmux did not give the
    // open ones whole): a tab of ours missing from `open` may still be open on the host.
    bool openIncomplete = false;
    // The row filter's status when it did not run or failed: no row was read, so the state
    // tells nothing of the host's sessions and tabs (only its shared state counts).
    std::optional<int> rowsFailed;

    bool operator==(const ServerState&) const = default;
};

// A fresh nonce for one run of the listing: 32 random hexadecimal digits.
QString newListingNonce();

// The listing script of a run whose markers carry `nonce` (the empty nonce gives the bare
// markers). It asks tmux for every row, cut at maximumListedRowBytes; when they were cut, for
// the open rows again; then prints the shared-state file.
QString listingScript(const QString& nonce = QString());

// Reads any text in one pass; rows it cannot read are skipped. Only the markers of the run
// whose nonce is given count, each a whole line. A row ends with the session's creation time,
// or without it (seven fields), and is read the same. Rows end at line feeds only: a row cut
// short by a line feed inside a value takes the following lines back, with their line feeds, so
// any other character of a value stays as the host stored it. A session name or a path longer
// than maximumHostValueBytes leaves its row out (noted in `refusedSessions`), a longer tab
// name reads as the session name and a longer parent as none; each is noted in `problems`,
// worded for `host`.
//
// Rows cut by the listing still give every open row when tmux printed those whole after
// them; the state then takes its open tabs from there, and says what it misses otherwise.
//
// The sessions named in `keep` are always kept; of the others at most maximumListedSessions:
// open rows first, the tabs a client would open first (lowest orders, rows without a path
// last), then numbered sessions of a kept one ("<kept>-<n>"), then other "kq-" sessions, then
// the rest, each in listing order. Those dropped are noted in `problems` with their count.
ServerState parseServerState(const QString& output, const QStringList& keep = {}, const QString& nonce = QString(),
                             HostKind host = HostKind::thisComputer);

// How a refused session is remembered.
quint64 refusedSessionKey(QStringView session);
bool isRefusedSession(const ServerState& state, const QString& session);

// The Base64 text of the file goes to the host in pieces of this many characters, each the
// argument of its own `printf`: far below the 128 KiB a program's argument may take.
inline constexpr qsizetype sharedPayloadPieceChars = qsizetype{32} << 10;

// A script that installs the file holding the two sets on the host, only over the file whose
// checksum is `expectedSum` (none: only where there is no file). It answers with the markers
// of `nonce`: written, or changed with the file as it is now, in which case it installed
// nothing. A step that fails (the folder cannot be made or written, the file received is not
// the one sent, the rename fails) ends the script with status 1, the reason on standard
// error, and nothing installed.
QString uploadSharedPrefsScript(const NameSet& favorites, const NameSet& hidden, const std::optional<QString>& expectedSum,
                                const QString& nonce = QString());

struct SharedWriteAnswer {
    // None: the script printed no answer of its own, so nothing is known to be written.
    enum class Kind { none, written, changed };
    Kind kind = Kind::none;
    // Written: the checksum of the file installed.
    QString sum;
    // Changed: the host's file as read by the write (its shared-state fields only).
    ServerState found;
};
// Reads the answer of the upload script run with `nonce` from what it printed.
SharedWriteAnswer parseSharedWriteAnswer(const QString& output, const QString& nonce = QString(),
                                         HostKind host = HostKind::thisComputer);

// The open rows in the host's order: by order, then by session name (code points).
void sortHostTabs(QList<HostTab>& tabs);

// A script that prints one session's row as the listing prints it, nothing when the session
// is not there.
QString sessionRowScript(const QString& session);
// The session's open row in what that script printed; none when it printed no such row, or
// the session is not tagged open.
std::optional<HostTab> parseSessionRow(const QString& output, const QString& session);

// Output without the shared marker line of the run is no listing at all (the script did not
// run to its end, or something else answered): nothing, which callers tell from an empty host.
std::optional<ServerState> parseListingOutput(const QString& output, const QStringList& keep = {},
                                              const QString& nonce = QString(), HostKind host = HostKind::thisComputer);

} // namespace halvoren

// What a host records about its open tabs, read with one script per host and sync: a row per
// tmux session with our options, a marker line, then the shared-state file.
#pragma once

#include "remote/SharedPrefs.h"

#include <QList>
#include <QString>

#include <optional>
#include <set>

namespace halvoren {

// Order of a tab whose "@hv_order" is missing or not an integer: after every numbered one.
inline constexpr qint64 unsetHostOrder = 1073741824;

inline constexpr char sharedMarker[] = "@@HV_SHARED@@";

struct HostTab {
    QString session;
    qint64 order = unsetHostOrder;
    QString name;
    QString path;
    std::optional<QString> parent;

    bool operator==(const HostTab&) const = default;
};

struct ServerState {
    bool synced = false;
    std::set<QString, CodePointLess> sessions;
    QList<HostTab> open;
    std::optional<SharedPrefs> shared;

    bool operator==(const ServerState&) const = default;
};

QString listingScript();

// Reads any text; rows it cannot read are skipped.
ServerState parseServerState(const QString& output);

// Output without the marker line is no listing at all (the script did not run to its end,
// or something else answered): nothing, which callers tell from an empty host.
std::optional<ServerState> parseListingOutput(const QString& output);

} // namespace halvoren

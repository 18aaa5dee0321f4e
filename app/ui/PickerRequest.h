// A request for the session picker: a project folder, the connection it lives on and the tmux
// sessions already running in it.
#pragma once

#include "tab/MacProject.h"
#include "remote/FolderSessions.h"

#include <QList>
#include <QMetaType>
#include <QString>

namespace halvoren {

struct PickerRequest {
    MacProject project;
    QString connId;
    QList<FolderSession> sessions;

    // The connection id and the path with nothing between: two requests for one folder match.
    QString id() const { return connId + project.path; }
};

} // namespace halvoren

Q_DECLARE_METATYPE(halvoren::PickerRequest)

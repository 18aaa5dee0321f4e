// A project: a folder on a host and the tmux session that belongs to it. Two projects are the
// same when all three fields are; the session name alone identifies it to the host.
#pragma once

#include <QHashFunctions>
#include <QString>

namespace halvoren {

struct MacProject {
    // Folder name as shown (an extra session of a project adds " (N)").
    QString name;
    // Absolute path of the folder on the host.
    QString path;
    // tmuxSessionName of the path.
    QString session;

    friend bool operator==(const MacProject&, const MacProject&) = default;
};

inline size_t qHash(const MacProject& project, size_t seed = 0)
{
    return qHashMulti(seed, project.name, project.path, project.session);
}

} // namespace halvoren

// Runs tmux from a test against whatever server its surroundings name (the run's private one):
// a command's standard output, and a session option's value.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace halvoren::test {

// Its standard output, trimmed; empty when tmux fails.
inline QString tmux(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("tmux"), arguments);
    process.waitForFinished();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The value of a session's option, empty when unset. "-u": values hold names of any script,
// read as UTF-8 whatever the locale.
inline QString tmuxOption(const QString& session, const QString& name)
{
    return tmux({QStringLiteral("-u"), QStringLiteral("show-options"), QStringLiteral("-qv"), QStringLiteral("-t"),
                 u'=' + session + u':', name});
}

} // namespace halvoren::test

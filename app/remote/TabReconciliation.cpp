#include "remote/TabReconciliation.h"

#include "remote/ShellQuote.h"
#include "remote/TmuxCommands.h"

#include <QSet>

namespace halvoren {

ReconcilePlan reconcileTabs(const QList<LocalTab>& local, const QList<HostTab>& host, const QDateTime& now)
{
    QSet<QString> hostSessions;
    for (const HostTab& tab : host)
        hostSessions.insert(tab.session);
    QSet<QString> localSessions;
    for (const LocalTab& tab : local)
        localSessions.insert(tab.session);

    // A tab opened in the future by this clock is young too.
    auto young = [&now](const LocalTab& tab) {
        return tab.openedAt && tab.openedAt->msecsTo(now) < youngTabMilliseconds;
    };

    ReconcilePlan plan;
    for (const LocalTab& tab : local) {
        if (hostSessions.contains(tab.session)) {
            if (!tab.live)
                plan.toRestart << tab.session;
        } else if (!young(tab)) {
            plan.toClose << tab.session;
        }
    }
    for (const HostTab& tab : host) {
        if (!localSessions.contains(tab.session))
            plan.toOpen << tab;
        plan.order << tab.session;
    }
    const QSet<QString> closing(plan.toClose.begin(), plan.toClose.end());
    for (const LocalTab& tab : local) {
        if (!hostSessions.contains(tab.session) && !closing.contains(tab.session))
            plan.order << tab.session;
    }
    return plan;
}

QString tmuxSessionScript(const QString& session, const QString& name, const QString& path, qint64 order)
{
    const QString target = tmuxOptionTarget(session);
    // The values are cleaned as the tag command does: a line break or tab would split the
    // host's listing row and drop the tab on every client.
    return tmuxNewSessionCommand(session, path) + QStringLiteral(" 2>/dev/null\n") +
           QStringLiteral("tmux set -t ") + target + QStringLiteral(" @hv_open 1\n") +
           QStringLiteral("tmux set -t ") + target + QStringLiteral(" @hv_order ") + QString::number(order) +
           QStringLiteral("\n") +
           QStringLiteral("tmux set -t ") + target + QStringLiteral(" @hv_name ") +
           tmuxValue(cleanOptionValue(name)) + QStringLiteral("\n") +
           QStringLiteral("tmux set -t ") + target + QStringLiteral(" @hv_path ") +
           tmuxValue(cleanOptionValue(path)) + QStringLiteral("\n");
}

QString tmuxReorderScript(const QStringList& sessions)
{
    QStringList lines;
    for (qsizetype k = 0; k < sessions.size(); ++k) {
        lines << QStringLiteral("tmux set -t ") + tmuxOptionTarget(sessions.at(k)) + QStringLiteral(" @hv_order ") +
                     QString::number(k + 1) + QStringLiteral(" 2>/dev/null");
    }
    return lines.join(u'\n') + u'\n';
}

} // namespace halvoren

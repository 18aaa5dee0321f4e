#include "remote/TabReconciliation.h"

#include "remote/HostText.h"
#include "remote/ShellQuote.h"
#include "remote/TmuxCommands.h"

#include <QSet>

namespace halvoren {

namespace {

// The seeding script's own variables: a session of its tabs stands, and tmux failed to make one.
constexpr char seedReachedVariable[] = "hv_seed_reached";
constexpr char seedFailedVariable[] = "hv_seed_failed";

} // namespace

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

QString tmuxSeedScript(const QString& session, const QString& name, const QString& path, qint64 order,
                       const QString& token)
{
    // tmux would make a missing folder's session in its own working folder, silently: the
    // folder is entered first, in a subshell, as a tab's start enters it.
    const QString quoted = shellQuote(path);
    const QString report = QStringLiteral("echo ") + QLatin1String(seededMarker) + token + u'-';
    const QString at = u'-' + QString::number(order);
    // It also keeps, for the closing line, whether a session stands and whether tmux failed.
    const QString reached = QStringLiteral("; ") + QLatin1String(seedReachedVariable) + QStringLiteral("=1");
    const QString made = QStringLiteral("if tmux has-session -t ") + tmuxSessionTarget(session) +
                         QStringLiteral(" 2>/dev/null; then ") + report + QStringLiteral("present") + at + reached +
                         QStringLiteral("; elif (cd -- ") + quoted + QStringLiteral(") 2>/dev/null; then if ") +
                         tmuxNewSessionCommand(session, path) + QStringLiteral(" 2>/dev/null; then ") + report +
                         QStringLiteral("made") + at + reached + QStringLiteral("; else ") +
                         QLatin1String(seedFailedVariable) + QStringLiteral("=1; ") + report +
                         QStringLiteral("failed") + at + QStringLiteral("; fi; elif [ -d ") + quoted +
                         QStringLiteral(" ]; then ") + report + QString::number(folderInaccessibleStatus) + at +
                         QStringLiteral("; else ") + report + QString::number(folderMissingStatus) + at +
                         QStringLiteral("; fi\n");
    const QString plain = tmuxSessionScript(session, name, path, order);
    return made + plain.mid(plain.indexOf(u'\n') + 1);
}

QString tmuxSeedOpening()
{
    return QLatin1String(seedReachedVariable) + QStringLiteral("=; ") + QLatin1String(seedFailedVariable) +
           QStringLiteral("=\n");
}

QString tmuxSeedClosing()
{
    return QStringLiteral("if [ -n \"$") + QLatin1String(seedReachedVariable) + QStringLiteral("\" ] || [ -z \"$") +
           QLatin1String(seedFailedVariable) + QStringLiteral("\" ]; then tmux set -g @hv_sync 1; fi\n");
}

SeedReport parseSeedReport(const QString& output, const QString& token)
{
    SeedReport report;
    const QString head = QLatin1String(seededMarker) + token + u'-';
    for (QStringView line : QStringView(output).split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (!line.startsWith(head))
            continue;
        const QStringView rest = line.sliced(head.size());
        const qsizetype dash = rest.indexOf(u'-');
        if (dash <= 0)
            continue;
        const std::optional<qint64> order = parseStrictInteger(rest.sliced(dash + 1).toString());
        if (!order)
            continue;
        const QStringView what = rest.first(dash);
        if (what == u"made")
            report.made << *order;
        else if (what == u"present")
            report.present << *order;
        else if (what == u"failed")
            report.failed << *order;
        else if (what == QString::number(folderMissingStatus))
            report.refused << std::pair{*order, folderMissingStatus};
        else if (what == QString::number(folderInaccessibleStatus))
            report.refused << std::pair{*order, folderInaccessibleStatus};
    }
    return report;
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

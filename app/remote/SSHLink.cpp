#include "remote/SSHLink.h"

#include "remote/ShellQuote.h"
#include "remote/TmuxCommands.h"

#include <QCollator>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>

#include <sys/stat.h>
#include <unistd.h>

namespace halvoren {

namespace {

// A public key is one short line; anything larger is not one.
constexpr qint64 maximumKeyFileSize = 64 * 1024;

// A refused command is tried again only with at least this much of its time-out left: less
// would be a login that may not even finish.
constexpr double minimumAttemptSeconds = 1.0;

QString& programPath()
{
    static QString path = QStringLiteral("/usr/bin/ssh");
    return path;
}

QString directoryPart(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0)
        return QStringLiteral(".");
    if (slash == 0)
        return QStringLiteral("/");
    return path.left(slash);
}

} // namespace

SSHLink::SSHLink(MacProfile profile) : linkProfile(std::move(profile)) {}

QString SSHLink::program()
{
    return programPath();
}

void SSHLink::setProgramForTests(const QString& path)
{
    programPath() = path;
}

QString SSHLink::controlPath() const
{
    return controlFolder() + QStringLiteral("/") + controlSocketName(linkProfile);
}

QStringList SSHLink::controlArgs() const
{
    return {
        QStringLiteral("-o"), QStringLiteral("ControlMaster=auto"),
        QStringLiteral("-o"), QStringLiteral("ControlPath=") + controlPath(),
        QStringLiteral("-o"), QStringLiteral("ControlPersist=600"),
        QStringLiteral("-o"), QStringLiteral("ServerAliveInterval=15"),
        QStringLiteral("-o"), QStringLiteral("ServerAliveCountMax=3"),
    };
}

QStringList SSHLink::interactiveArgs() const
{
    return controlArgs() + QStringList{
        QStringLiteral("-tt"),
        QStringLiteral("-p"), QString::number(linkProfile.port),
        QStringLiteral("-o"), QStringLiteral("StrictHostKeyChecking=accept-new"),
        QStringLiteral("-o"), QStringLiteral("ConnectTimeout=12"),
    };
}

QStringList SSHLink::directInteractiveArgs() const
{
    return QStringList{QStringLiteral("-o"), QStringLiteral("ControlPath=none")} + interactiveArgs();
}

QStringList SSHLink::batchArgs() const
{
    return controlArgs() + QStringList{
        QStringLiteral("-p"), QString::number(linkProfile.port),
        QStringLiteral("-o"), QStringLiteral("BatchMode=yes"),
        QStringLiteral("-o"), QStringLiteral("StrictHostKeyChecking=accept-new"),
        QStringLiteral("-o"), QStringLiteral("ConnectTimeout=12"),
    };
}

QString SSHLink::destination() const
{
    if (linkProfile.username.isEmpty())
        return linkProfile.host;
    return linkProfile.username + u'@' + linkProfile.host;
}

// Arguments of awaited calls are named locals: g++ 12 mishandles some temporaries that live
// across a suspension.
Task<ShellResult<QString>> SSHLink::runMarked(QString sent, std::optional<QByteArray> input, double timeoutSeconds,
                                              QString marker)
{
    // ssh would take such a destination for an option (and run what it names).
    if (!isUsableProfile(linkProfile))
        co_return ShellError{QStringLiteral("Adresse du serveur invalide : l'hôte ou l'utilisateur est refusé.")};
    const QString executable = program();
    // Kept by the run even if the link goes meanwhile.
    const std::shared_ptr<SharedSessions> book = sessions;
    // In flight also while it waits to be tried again.
    const Shell::RunInFlight inFlight;
    QElapsedTimer elapsed;
    elapsed.start();
    std::chrono::milliseconds pause = firstRefusalPause;
    for (;;) {
        QStringList arguments = batchArgs();
        arguments << destination() << sent;
        const double left = timeoutSeconds - double(elapsed.elapsed()) / 1000.0;
        std::optional<QByteArray> attemptInput = input;
        ShellResult<Shell::Output> run;
        bool refused = false;
        {
            SharedSessions::CommandRun running(book);
            run = co_await Shell::run(executable, std::move(arguments), std::move(attemptInput), left);
            refused = run && sharedConnectionNote(run.value().standardError).refused;
            if (refused)
                running.refused();
        }
        if (!run)
            co_return run.error();
        Shell::Output& output = run.value();
        // 255 is ssh's own failure: the fresh login failed (a server that takes only
        // passwords), so the command never ran. Refused with any other status, ssh logged in
        // afresh and the command ran all the same (with a key).
        if (refused && output.status == 255) {
            const qint64 nextTry = elapsed.elapsed() + pause.count();
            if (double(nextTry) / 1000.0 + minimumAttemptSeconds > timeoutSeconds)
                co_return ShellError{sharedConnectionRefusedMessage(), true};
            Task<> pausing = Shell::pauseBetweenRuns(pause);
            co_await std::move(pausing);
            pause = std::min(pause * 2, longestRefusalPause);
            continue;
        }
        output.standardError = withoutSharedConnectionLines(output.standardError);
        // Nothing of ours printed and 255: ssh could not connect or log in, and says why.
        if (output.status == 255 && !outputMarkerSeen(output.standardOutput, marker)) {
            const QString message = output.standardError.trimmed();
            co_return ShellError{message.isEmpty() ? sshFailureMessage(output.status) : message};
        }
        co_return markedScriptResult(std::move(output), marker, false);
    }
}

QString SSHLink::remoteCommand(const QString& command, const QString& marker, bool takesInput)
{
    // The account's shell (which reads ~/.zshenv, or ~/.bashrc under sshd) hands the command
    // to the script shell at once, so the functions and aliases of those files change none of
    // it; of all the output, only what lies between the markers is the command's.
    const QString marked = markedScript(command, marker);
    return scriptShellCommand(takesInput ? inputGuardReader() + marked : marked);
}

Task<ShellResult<QString>> SSHLink::runCommand(QString command, std::optional<QByteArray> input, double timeoutSeconds)
{
    // Input is never run: a shell that a login file started in our command's place would read
    // it as commands, and stops at its guard line instead.
    QString marker = newCompletionMarker();
    QString sent = remoteCommand(command, marker, input.has_value());
    if (input)
        input = guardedInput(std::move(*input));
    ShellResult<QString> output = co_await runMarked(std::move(sent), std::move(input), timeoutSeconds, std::move(marker));
    co_return output;
}

Task<ShellResult<QString>> SSHLink::runScript(QString script, double timeoutSeconds)
{
    // The script travels on ssh's standard input, so its length is not bounded by the
    // command line of either computer. Its markers are printed by the script shell the login
    // shell hands over to: only they tell that the login profile let the script run.
    QString marker = newCompletionMarker();
    QString command = scriptCommand(timeoutSeconds, marker);
    std::optional<QByteArray> input = scriptInput(script);
    ShellResult<QString> output = co_await runMarked(std::move(command), std::move(input), timeoutSeconds, std::move(marker));
    co_return output;
}

QString SSHLink::scriptCommand(double timeoutSeconds, const QString& marker)
{
    // Ending ssh here (a time-out, the application quitting) leaves the remote shell running:
    // where the host has `timeout`, the script's whole process group is ended a little after
    // our own limit, so a script blocked on the host (reading a FIFO, say) does not stay.
    const qint64 bound = qint64(std::clamp(std::ceil(timeoutSeconds), 1.0, 86400.0)) + remoteTimeoutMargin;
    const QString login = QStringLiteral("\"$SHELL\" -l -c ") + shellQuote(scriptShellCommand(scriptReaderCommand(marker)));
    return scriptShellCommand(QStringLiteral("if command -v timeout >/dev/null 2>&1; then exec timeout -s KILL ")
                              + QString::number(bound) + u' ' + login + QStringLiteral("; fi\nexec ") + login);
}

Task<bool> SSHLink::fetchRemoteHome()
{
    controlDirectory();
    ShellResult<QString> output = co_await runCommand(QLatin1String(remoteHomeCommand), std::nullopt, 15);
    if (!output)
        co_return false;
    const std::optional<QString> found = remoteHomeFrom(output.value());
    if (!found)
        co_return false;
    home = *found;
    co_return true;
}

std::optional<QString> SSHLink::remoteHomeFrom(QString output)
{
    // The home is taken whole, blanks and line breaks in it included, less the line break
    // printed after it.
    if (!output.endsWith(u'\n'))
        return std::nullopt;
    output.chop(1);
    if (output.trimmed().isEmpty())
        return std::nullopt;
    return output;
}

Task<bool> SSHLink::hasTmux()
{
    ShellResult<bool> found = co_await probeTmux();
    co_return found && found.value();
}

QString SSHLink::tmuxProbeCommand(const QString& marker)
{
    // On one line, as the command that runs it; the login shell hands the question to the
    // script shell, which finds tmux itself, not an alias or function of that name.
    return QStringLiteral("$SHELL -lc ") + shellQuote(scriptShellCommand(markedScript(tmuxProbeScript(), marker)));
}

Task<ShellResult<bool>> SSHLink::probeTmux()
{
    QString marker = newCompletionMarker();
    QString command = tmuxProbeCommand(marker);
    // Without the markers the shell never got to the question: its silence is no answer.
    // What its login profile printed around them is no answer either.
    ShellResult<QString> answer = co_await runMarked(std::move(command), std::nullopt, 25, std::move(marker));
    if (!answer)
        co_return answer.error();
    co_return !answer.value().trimmed().isEmpty();
}

namespace {

// A umask that lets a new file have no permission bit `permissions` lacks, on top of the
// shell's own: "u-x,g-rwx,o-rwx" for 0600. Empty when it lacks none.
QString narrowingUmask(mode_t permissions)
{
    QStringList classes;
    for (const auto& [who, shift] : {std::pair{u'u', 6}, {u'g', 3}, {u'o', 0}}) {
        QString lacking;
        for (const auto& [letter, bit] : {std::pair{u'r', 4}, {u'w', 2}, {u'x', 1}}) {
            if ((permissions >> shift & bit) == 0)
                lacking += letter;
        }
        if (!lacking.isEmpty())
            classes << QString(who) + u'-' + lacking;
    }
    return classes.join(u',');
}

} // namespace

QString SSHLink::uploadCommand(const QString& remotePath, qsizetype size, mode_t permissions)
{
    // The bytes land in a temporary file of the same folder, named after the remote shell's
    // process id (short, so that a target name of the longest size allowed still fits), and
    // replace the target only when all of them arrived: a dropped connection ends cat early
    // without an error.
    // The file is made with the bits it will keep, as cp makes a copy: `permissions` less the
    // shell's umask. cat makes it without execute bits; chmod without a class adds them back
    // within the same umask.
    // The move replaces the target as a rename does. mv would put the file inside a folder of
    // the target's name, or inside the folder a link of that name points to: a folder fails
    // with the message a rename gives, and a link is removed first so that the file takes its
    // place. (mv -T would say so itself, but not every server's mv has it.)
    const QString folder = directoryPart(remotePath);
    const QString temporary = shellQuote(folder + QStringLiteral("/.hv-upload-")) + QStringLiteral("$$");
    const QString target = shellQuote(remotePath);
    const QString umask = narrowingUmask(permissions & 0777);
    QString write = QStringLiteral("cat > ") + temporary;
    if (!umask.isEmpty())
        write = QStringLiteral("umask ") + umask + QStringLiteral(" && ") + write;
    if ((permissions & 0111) != 0)
        write += QStringLiteral(" && chmod +x ") + temporary;
    return QStringLiteral("mkdir -p ") + shellQuote(folder) + QStringLiteral(" && ( ") + write
        + QStringLiteral(" ) && [ $(($(wc -c < ") + temporary + QStringLiteral("))) -eq ") + QString::number(size)
        + QStringLiteral(" ] && if [ -L ") + target + QStringLiteral(" ]; then rm -f ") + target
        + QStringLiteral("; elif [ -d ") + target + QStringLiteral(" ]; then echo 'Is a directory' >&2; false; fi && mv -f ")
        + temporary + u' ' + target + QStringLiteral(" || { rm -f ") + temporary + QStringLiteral("; exit 1; }");
}

Task<ShellResult<bool>> SSHLink::uploadFile(QByteArray data, QString remotePath, mode_t permissions)
{
    const QString command = uploadCommand(remotePath, data.size(), permissions);
    ShellResult<QString> output = co_await runCommand(command, std::move(data), 120);
    if (!output)
        co_return output.error();
    co_return true;
}

QString installKeyFailedMessage()
{
    return QStringLiteral("Aucune clé n'a pu être installée sur ce serveur.");
}

namespace {

// What makes a key line the same key: its type and its base64 body, not its comment.
QString keyIdentity(const QString& line)
{
    return line.section(u' ', 0, 1, QString::SectionSkipEmpty);
}

// The first line of each key: the same key in two files (a copy, or a new comment) is
// installed and counted once.
QStringList distinctKeys(const QStringList& keys)
{
    QStringList distinct;
    QSet<QString> seen;
    for (const QString& key : keys) {
        if (!seen.contains(keyIdentity(key))) {
            seen.insert(keyIdentity(key));
            distinct.append(key);
        }
    }
    return distinct;
}

} // namespace

QString SSHLink::installKeyCommand(const QStringList& keys)
{
    // A key goes on a line of its own: when the file does not end with a line break, one is
    // added first, or the key would be glued to the last one and both would stop working.
    // printf writes the key as it is (echo reads backslashes in some shells). Only the keys
    // the file then holds as whole lines count as installed.
    QString command = QStringLiteral(
        "umask 077 && mkdir -p \"$HOME/.ssh\" && f=\"$HOME/.ssh/authorized_keys\" && touch \"$f\" || exit 1\n"
        "[ ! -s \"$f\" ] || [ -z \"$(tail -c 1 \"$f\")\" ] || printf '\\n' >> \"$f\" || exit 1\n"
        "n=0\n");
    for (const QString& key : distinctKeys(keys)) {
        const QString quoted = shellQuote(key);
        command += QStringLiteral("grep -qxF -- ") + quoted + QStringLiteral(" \"$f\" || printf '%s\\n' ") + quoted
            + QStringLiteral(" >> \"$f\"\n");
        command += QStringLiteral("! grep -qxF -- ") + quoted + QStringLiteral(" \"$f\" || n=$((n+1))\n");
    }
    command += QStringLiteral("echo \"") + QLatin1String(installedKeysPrefix) + QStringLiteral("$n\"\n");
    return command;
}

std::optional<int> SSHLink::installedKeyCount(const QString& output)
{
    // The count is the last line; a login file may have printed before it.
    QStringList lines = output.split(u'\n');
    while (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    if (lines.isEmpty() || !lines.back().startsWith(QLatin1String(installedKeysPrefix)))
        return std::nullopt;
    bool ok = false;
    const int count = lines.back().mid(qsizetype(std::strlen(installedKeysPrefix))).toInt(&ok);
    if (!ok || count < 0)
        return std::nullopt;
    return count;
}

Task<ShellResult<int>> SSHLink::installKey()
{
    QFuture<QStringList> listing = QtConcurrent::run(&localPublicKeys);
    QStringList keys = co_await listing;
    if (keys.isEmpty()) {
        co_return ShellError{QStringLiteral(
            "Aucune clé publique dans ~/.ssh sur cet ordinateur. Crée-en une avec « ssh-keygen ».")};
    }
    // A text with a line break in it can never be one line of the file.
    keys.removeIf([](const QString& key) { return key.contains(u'\n') || key.contains(u'\r') || key.contains(QChar(0)); });
    if (keys.isEmpty())
        co_return ShellError{installKeyFailedMessage()};
    const QString command = installKeyCommand(keys);
    ShellResult<QString> output = co_await runCommand(command, std::nullopt, 25);
    if (!output)
        co_return output.error();
    const std::optional<int> installed = installedKeyCount(output.value());
    if (!installed || *installed == 0)
        co_return ShellError{installKeyFailedMessage()};
    co_return *installed;
}

Task<bool> SSHLink::masterIsLive()
{
    if (!isUsableProfile(linkProfile))
        co_return false;
    QStringList arguments{QStringLiteral("-o"), QStringLiteral("ControlPath=") + controlPath(), QStringLiteral("-O"),
                          QStringLiteral("check"), destination()};
    const QString executable = program();
    ShellResult<Shell::Output> run = co_await Shell::run(executable, std::move(arguments), std::nullopt, 5);
    co_return run && run.value().status == 0;
}

Task<> SSHLink::closeMaster()
{
    QStringList arguments{QStringLiteral("-o"), QStringLiteral("ControlPath=") + controlPath(), QStringLiteral("-O"),
                          QStringLiteral("exit"), destination()};
    if (!isUsableProfile(linkProfile))
        co_return;
    const QString executable = program();
    co_await Shell::run(executable, std::move(arguments), std::nullopt, 5);
}

QStringList localPublicKeys()
{
    const QDir folder(QDir::homePath() + QStringLiteral("/.ssh"));
    QStringList keys;
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name)) {
        if (!name.endsWith(QStringLiteral(".pub")))
            continue;
        QFile file(folder.filePath(name));
        if (QFileInfo(file).size() > maximumKeyFileSize || !file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.read(maximumKeyFileSize);
        QString text = QString::fromUtf8(bytes);
        // Text that is not UTF-8 counts as empty.
        if (text.toUtf8() != bytes)
            continue;
        text = text.trimmed();
        if (text.startsWith(QStringLiteral("ssh-")) || text.startsWith(QStringLiteral("ecdsa-")))
            keys.append(text);
    }
    return keys;
}

QString folderListingCommand(const QString& root)
{
    // The folder is a project's or a root of them, whose files its owner's clones decide:
    // nothing is looked up through PATH, whose relative entries (".", "bin",
    // "node_modules/.bin") would name those files. So the folder is never entered (a zsh user's
    // hook may run at every change of folder), its names come from the shell's own globbing,
    // and they are printed by printf: the shell's own, or a program found at an absolute path
    // (a shell without it, or bash with it disabled), never one a relative entry found. Else
    // mksh's print. echo would rewrite backslashes in some shells. A folder that is not there
    // lists nothing; one that cannot be entered, or a shell with no way to print, fails, so the
    // list shown stays. zsh stops at a pattern that matches nothing: the loop runs in a
    // subshell.
    return QStringLiteral("__hv_r=") + shellQuote(root) + QLatin1String(R"hv(
[ -e "$__hv_r" ] || exit 0
[ -d "$__hv_r" ] && [ -x "$__hv_r" ] || exit 1
__hv_w=$(command -v printf)
case $__hv_w in printf|/*) ;; *) [ "$(command -v print)" = print ] || exit 1; __hv_w= ;; esac
(for __hv_d in "$__hv_r"/*/; do
  [ ! -d "$__hv_d" ] || if [ -n "$__hv_w" ]; then "$__hv_w" '%s\n' "${__hv_d#"$__hv_r"/}"; else print -r -- "${__hv_d#"$__hv_r"/}"; fi
done) 2>/dev/null
true
)hv");
}

QStringList parseFolderListing(const QString& listing)
{
    // Every entry ends with "/": a line without one is a name holding a line break, continued
    // on the next line. Blanks before the name belong to it.
    QStringList names;
    QString pending;
    bool open = false;
    for (const QString& line : listing.split(u'\n')) {
        QString piece = open ? pending + u'\n' + line : line;
        qsizetype end = piece.size();
        while (end > 0 && (piece[end - 1] == u' ' || piece[end - 1] == u'\t' || piece[end - 1] == u'\r'))
            --end;
        if (end == 0 || piece[end - 1] != u'/') {
            pending = piece;
            open = !piece.isEmpty();
            continue;
        }
        open = false;
        piece.truncate(end - 1);
        if (piece.isEmpty() || piece.startsWith(u'.'))
            continue;
        names.append(piece);
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(names.begin(), names.end(),
                     [&collator](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    return names;
}

QString controlSocketName(const MacProfile& profile)
{
    // A master connection serves whatever destination asks on its socket: a profile edited to
    // another host, port or user must not find the one made before the edit. Each field is
    // written with its length, so no two profiles give the same text. The id comes from the
    // stored profile list and may hold anything ("/", "..", ssh's "%"): only hex reaches
    // the path.
    QByteArray fields;
    for (const QByteArray& field : {profile.id.toUtf8(), profile.host.toUtf8(), QByteArray::number(profile.port),
                                    profile.username.toUtf8()}) {
        fields += QByteArray::number(field.size()) + ':' + field;
    }
    const QByteArray digest = QCryptographicHash::hash(fields, QCryptographicHash::Sha256);
    return QStringLiteral("c") + QString::fromLatin1(digest.left(8).toHex());
}

bool controlFolderFits(const QString& folder)
{
    const QByteArray path = QFile::encodeName(folder);
    if (path.size() + 1 + controlSocketNameLength + sshSocketSuffixLength > socketPathLimit)
        return false;
    // ssh reads ControlPath as a configuration word: blanks split it, quotes and backslashes
    // are taken away, "#" starts a comment, "%" and "${" are expanded.
    return std::none_of(path.cbegin(), path.cend(), [](char c) {
        return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f || std::strchr("%$\\\"'#", c) != nullptr;
    });
}

namespace {

// `parent`/`name`, made when missing, when it is a folder of ours that only we may enter,
// inside a folder where nobody else can put another in its place.
std::optional<QString> privateFolder(const QString& parent, const QString& name)
{
    struct stat info {};
    const QByteArray parentPath = QFile::encodeName(parent);
    if (parent.isEmpty() || !parent.startsWith(u'/') || ::lstat(parentPath.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return std::nullopt;
    const bool othersWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (othersWrite ? (info.st_mode & S_ISVTX) == 0 : (info.st_uid != ::geteuid() && info.st_uid != 0))
        return std::nullopt;
    const QString folder = parent + u'/' + name;
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return std::nullopt;
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()
        || (info.st_mode & 07777) != 0700)
        return std::nullopt;
    return folder;
}

// The temporary folder the sockets' folder may go in: TMPDIR, as the system's tools take it,
// where the fresh name made under it (the longest) still leaves room for the sockets.
QString temporaryParent(const QString& freshName)
{
    const QString named = qEnvironmentVariable("TMPDIR");
    if (named.startsWith(u'/')) {
        const QString folder = QDir::cleanPath(named);
        if (controlFolderFits(folder + u'/' + freshName))
            return folder;
    }
    return QStringLiteral("/tmp");
}

// A short folder of the user's own for the sockets, when the home's is too long for them.
QString shortControlFolder()
{
    const QString user = QString::number(::geteuid());
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (controlFolderFits(runtime + QStringLiteral("/halvoren"))) {
        if (const std::optional<QString> folder = privateFolder(runtime, QStringLiteral("halvoren")))
            return *folder;
    }
    const QString name = QStringLiteral("halvoren-") + user;
    const QString parent = temporaryParent(name + QStringLiteral("-XXXXXX"));
    if (const std::optional<QString> folder = privateFolder(parent, name))
        return *folder;
    // The usual name is someone else's: a fresh one, for the rest of this process.
    static std::mutex lock;
    static QString made;
    const std::lock_guard<std::mutex> guard(lock);
    if (made.isEmpty()) {
        QByteArray pattern = QFile::encodeName(parent + u'/' + name + QStringLiteral("-XXXXXX"));
        if (::mkdtemp(pattern.data()) != nullptr)
            made = QFile::decodeName(pattern);
    }
    return made;
}

} // namespace

QString controlFolder()
{
    const QString folder = QDir::homePath() + QStringLiteral("/.halvoren/cm");
    if (controlFolderFits(folder))
        return folder;
    const QString fallback = shortControlFolder();
    // Nowhere better: ssh says why in the terminal.
    return fallback.isEmpty() ? folder : fallback;
}

void controlDirectory()
{
    QDir().mkpath(controlFolder());
}

} // namespace halvoren

#include "tab/MacTab.h"
#include "remote/HostText.h"

#include "settings/ProfileStore.h"
#include "platform/ChildEnvironment.h"
#include "platform/SecretStore.h"
#include "remote/SessionNaming.h"
#include "remote/ShellQuote.h"
#include "remote/TmuxCommands.h"

#include "emulator/EscapeSequences.h"
#include "model/UnicodeUtil.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTextBoundaryFinder>
#include <QTimer>

#include <clocale>
#include <csignal>
#include <locale.h>
#include <sys/wait.h>

namespace halvoren {

namespace {

// The folder check runs before anything else the tab starts: only a login profile or ssh's
// own messages come before its answer.
constexpr qsizetype folderCheckOutputChars = 64 * 1024;

} // namespace

bool folderPathTooLong(const QString& path)
{
    // No UTF-16 unit takes more than three UTF-8 bytes: most paths need no conversion.
    return path.size() * 3 > maximumFolderPathBytes && path.toUtf8().size() > maximumFolderPathBytes;
}

QString elidedPath(const QString& path, qsizetype columns)
{
    // Each user-perceived character with the room it takes: two for a wide one (CJK, most
    // emoji), which a proportional font draws about twice as wide as a Latin letter.
    struct Character {
        qsizetype end;
        int width;
    };
    QList<Character> characters;
    qsizetype total = 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, path);
    for (qsizetype start = 0, at = finder.toNextBoundary(); at > 0; start = at, at = finder.toNextBoundary()) {
        char32_t first = path.at(start).unicode();
        if (QChar::isHighSurrogate(first) && at - start > 1)
            first = QChar::surrogateToUcs4(path.at(start), path.at(start + 1));
        const int width = corvantix::UnicodeUtil::columnWidth(first) == 2 ? 2 : 1;
        characters.append(Character{at, width});
        total += width;
    }
    if (total <= columns || columns < 4)
        return path;
    // The start names the root, the end the folder itself: the end gets the larger share.
    const qsizetype headRoom = (columns - 1) / 3;
    qsizetype tailRoom = columns - 1 - headRoom;
    qsizetype head = 0;
    for (qsizetype used = 0; head < characters.size() && used + characters.at(head).width <= headRoom; ++head)
        used += characters.at(head).width;
    qsizetype tail = characters.size();
    while (tail > head && characters.at(tail - 1).width <= tailRoom)
        tailRoom -= characters.at(--tail).width;
    const qsizetype headEnd = head > 0 ? characters.at(head - 1).end : 0;
    const qsizetype tailStart = tail > 0 ? characters.at(tail - 1).end : 0;
    return path.left(headEnd) + QChar(0x2026) + path.mid(tailStart);
}

QString folderRefusalMessage(FolderRefusal refusal, const QString& path)
{
    switch (refusal) {
    case FolderRefusal::missing:
        return QStringLiteral("Dossier introuvable : ") + elidedPath(path);
    case FolderRefusal::inaccessible:
        return QStringLiteral("Dossier inaccessible : ") + elidedPath(path);
    case FolderRefusal::tooLong:
        break;
    }
    return QStringLiteral("Chemin trop long : ") + elidedPath(path);
}

QStringList environmentStrings(const EnvironmentMap& environment)
{
    QStringList strings;
    strings.reserve(environment.size());
    for (auto entry = environment.cbegin(); entry != environment.cend(); ++entry)
        strings << entry.key() + u'=' + entry.value();
    return strings;
}

EnvironmentMap childEnvironmentMap()
{
    EnvironmentMap environment;
    for (const std::string& entry : childEnvironmentEntries()) {
        const QString text = QFile::decodeName(QByteArray::fromStdString(entry));
        const qsizetype equals = text.indexOf(u'=');
        if (equals > 0)
            environment.insert(text.left(equals), text.mid(equals + 1));
    }
    return environment;
}

bool localeInstalled(const QString& name)
{
    const locale_t loaded = ::newlocale(LC_ALL_MASK, local8(name).c_str(), locale_t(nullptr));
    if (loaded == locale_t(nullptr))
        return false;
    ::freelocale(loaded);
    return true;
}

EnvironmentMap tabEnvironment(EnvironmentMap environment, const std::function<bool(const QString&)>& localeExists)
{
    // Checked before LANG gets its default below.
    const bool characterTypeSet = environment.contains(QStringLiteral("LC_ALL")) ||
                                  environment.contains(QStringLiteral("LC_CTYPE")) ||
                                  environment.contains(QStringLiteral("LANG"));
    environment.removeIf([](EnvironmentMap::iterator entry) { return !passedToChildren(entry.key()); });
    environment.insert(QStringLiteral("TERM"), QStringLiteral("xterm-256color"));
    environment.insert(QStringLiteral("COLORTERM"), QStringLiteral("truecolor"));
    if (!environment.contains(QStringLiteral("LANG"))) {
        const QString french = QStringLiteral("fr_FR.UTF-8");
        environment.insert(QStringLiteral("LANG"), localeExists(french) ? french : QStringLiteral("C.UTF-8"));
    }
    // There is no locale named "UTF-8" here: a character type of that name would read as
    // plain ASCII. Only fill the gap, never override the user's choice.
    if (!characterTypeSet)
        environment.insert(QStringLiteral("LC_CTYPE"), QStringLiteral("C.UTF-8"));
    environment.insert(QStringLiteral("TERM_PROGRAM"), QStringLiteral("Halvoren"));
    return environment;
}

QString remoteShellCommand(const QString& command)
{
    QString escaped;
    escaped.reserve(command.size() + 16);
    for (const QChar c : command) {
        if (c == u'\\' || c == u'"' || c == u'$' || c == u'`')
            escaped += u'\\';
        escaped += c;
    }
    return QStringLiteral("$SHELL -lc \"") + escaped + u'"';
}

MacTab::MacTab(QString connId, MacProject project, bool useTmux, std::shared_ptr<SSHLink> link, SecretStore* keychain)
    : connId(std::move(connId)), project(std::move(project)), useTmux(useTmux), link(std::move(link)),
      terminal(new TermView(QRect(0, 0, 800, 500))), keychain(keychain)
{
    terminal->owner = this;
    // A server's programs write to this terminal: they may not name this computer's files.
    corvantix::TerminalOptions options = terminal->getTerminal().options();
    options.fedByRemoteHost = this->link != nullptr;
    terminal->getTerminal().setOptions(options);
}

MacTab::~MacTab()
{
    delete terminal.data();
}

void MacTab::setIsLive(bool value)
{
    if (live == value)
        return;
    live = value;
    Q_EMIT isLiveChanged();
}

void MacTab::setAttention(bool value)
{
    if (attentionValue == value)
        return;
    attentionValue = value;
    Q_EMIT attentionChanged();
}

QString MacTab::command(const std::optional<QString>& setup) const
{
    // The login shell gives the environment only: the start's own commands run in the script
    // shell, where no alias or function of the profile (a "tmux" of the user's, a "cd" that
    // lists) stands in for them. The session's shell, or the plain tab's, is the user's own.
    return scriptShellCommand(startCommand(setup));
}

QString MacTab::startCommand(const std::optional<QString>& setup) const
{
    // A shell left in some other folder would run the user's commands in the wrong project:
    // a folder that cannot be entered ends the start before anything is made.
    if (!useTmux)
        return enterFolderCommand(project.path, folderCheckToken) + QStringLiteral("; exec \"$SHELL\" -l");
    if (!setup)
        return tmuxAttachCommand(project.session, project.path, setup);
    return sessionFolderCheck(project.session, project.path, folderCheckToken) + QStringLiteral("; ") +
           tmuxAttachCommand(project.session, project.path, setup);
}

void MacTab::start(std::optional<QString> setup)
{
    if (live || !terminal)
        return;
    begin(std::move(setup), false);
}

void MacTab::begin(std::optional<QString> setup, bool direct)
{
    ++generation;
    startedAt = QDateTime::currentDateTime();
    sinceStart.start();
    screenSwitchTail.clear();
    // Armed again only by this start, when it finds ssh will ask.
    autofill.reset();
    folderRefusal.reset();
    announcedRefusal.reset();
    folderCheckTail.clear();
    // Only a start that makes the session, or the plain shell, checks the folder.
    const bool entersFolder = !useTmux || setup.has_value();
    folderCheckWatch = entersFolder ? folderCheckOutputChars : 0;
    folderCheckToken = QString::number(QRandomGenerator::system()->generate64(), 16);
    startSetup = setup;
    sessionShown = false;
    passwordRemembered = false;
    sharedPlace.reset();
    movingOff.reset();
    sharedConnectionText.clear();
    watchingSharedConnection = false;
    terminal->generation = generation;
    if (entersFolder && folderPathTooLong(project.path)) {
        // No host can enter it: nothing is started anywhere.
        folderRefusal = FolderRefusal::tooLong;
        endWithoutChild();
        return;
    }
    const QString shellCommand = command(setup);
    const QStringList environment = environmentStrings(tabEnvironment(childEnvironmentMap(), localeInstalled));
    setIsLive(true);
    if (onRedrawAhead)
        onRedrawAhead(*this);

    if (!link) {
        const QString shell = userShell();
        const QString programName = u'-' + QFileInfo(shell).fileName();
        // A tmux tab's shell only runs tmux, and starts at home as it would over ssh: from the
        // project's folder, a relative entry of PATH would find a program the project holds.
        // The session's own shell is in the folder all the same (tmux's "-c").
        launch(shell, {QStringLiteral("-l"), QStringLiteral("-c"), shellCommand}, environment, programName,
               useTmux ? Shell::startFolder() : project.path);
        return;
    }
    // The keychain answers asynchronously; the tab counts as live meanwhile, so a second
    // start does nothing, and a stop (a new generation) cancels the launch.
    startRemote(remoteShellCommand(shellCommand), environment, generation, direct);
}

Task<> MacTab::startRemote(QString remoteCommand, QStringList environment, std::uint64_t startGeneration, bool direct)
{
    QPointer<MacTab> self(this);
    SecretStore& secrets = keychain != nullptr ? *keychain : SecretStore::standard();
    const QString key = ProfileStore::passwordKey(link->profile().id);
    const std::optional<QString> password = co_await secrets.secureRead(key);
    if (!self || generation != startGeneration)
        co_return;
    // Over a live master connection ssh asks nothing; a master that is not live may become
    // this ssh's own, and the tabs beyond their budget log in on a connection of their own.
    bool masterLive = false;
    if (!direct) {
        Task<bool> checking = link->masterIsLive();
        masterLive = co_await std::move(checking);
        if (!self || generation != startGeneration)
            co_return;
        sharedPlace = link->takeTabPlace(masterLive);
    }
    const bool riding = sharedPlace != nullptr;
    passwordRemembered = password.has_value();
    // A prompt that shows over the live master is some program's on the server, and must not
    // get the password; elsewhere ssh's own first prompt does.
    if (password && !(riding && masterLive))
        autofill.emplace(*password);
    if (riding) {
        sharedPlace->setMoveOff([this] { return moveOffSharedConnection(false); });
        watchingSharedConnection = true;
    }
    controlDirectory();
    // A host or user that ssh would read as an option is never passed to it.
    if (!isUsableProfile(link->profile())) {
        launch(QString(), {}, {}, QString(), std::nullopt);
        co_return;
    }
    QStringList arguments = riding ? link->interactiveArgs() : link->directInteractiveArgs();
    arguments << link->destination() << remoteCommand;
    // From home, as every command of ours: ssh runs the commands of its configuration (a proxy)
    // through the shell, where a relative entry of PATH would find a program of whatever
    // folder the application was started from.
    launch(SSHLink::program(), arguments, environment, QStringLiteral("ssh"), Shell::startFolder());
}

bool MacTab::moveOffSharedConnection(bool beforeShell)
{
    // A shell of its own would be lost with the ssh; a tmux session stays on the host.
    if (!live || !terminal || movingOff || (!useTmux && !beforeShell))
        return false;
    // Signalled, not let go: the rest of its output comes before its end, and only then does
    // the new ssh start, so that nothing the old one printed (its password prompt) reaches
    // the new one's autofill.
    watchingSharedConnection = false;
    if (!terminal->process->signalChild(SIGTERM))
        return false;
    movingOff = generation;
    return true;
}

void MacTab::watchSharedConnection(const QString& text)
{
    if (!watchingSharedConnection || !sharedPlace)
        return;
    // ssh says what it has to say of the master in a few short lines before anything else.
    constexpr qsizetype watchedChars = 4096;
    sharedConnectionText += text;
    const SharedConnectionNote note = sharedConnectionNote(sharedConnectionText, false);
    if (note.refused) {
        watchingSharedConnection = false;
        sharedPlace->refused();
        sharedPlace.reset();
        // ssh now logs in on a connection of its own, at a prompt the tab did not arm itself
        // for: with a password to type, it starts again off the master, where ssh's first
        // prompt gets it.
        if (passwordRemembered)
            moveOffSharedConnection(true);
        return;
    }
    if (note.bypassed) {
        sharedPlace->bypassed();
        sharedPlace.reset();
    }
    if (note.bypassed || note.settled || sharedConnectionText.size() > watchedChars) {
        watchingSharedConnection = false;
        sharedConnectionText.clear();
    }
}

void MacTab::launch(const QString& executable, const QStringList& arguments, const QStringList& environment,
                    const QString& programName, const std::optional<QString>& directory)
{
    if (!terminal) {
        setIsLive(false);
        return;
    }
    if (!executable.isEmpty()) {
        terminal->startProcess(local8(executable), local8(arguments), local8(environment), local8(programName),
                               directory ? std::optional<std::string>(local8(*directory)) : std::nullopt);
    }
    if (terminal->process->running())
        return;
    // No pseudo-terminal or no child: the owner sees a dead tab and may start it again.
    endWithoutChild();
}

void MacTab::endWithoutChild()
{
    setIsLive(false);
    const std::uint64_t failed = generation;
    QTimer::singleShot(0, this, [this, failed] { childExited(failed); });
}

void MacTab::stop()
{
    ++generation;
    sharedPlace.reset();
    movingOff.reset();
    setIsLive(false);
    if (terminal)
        terminal->terminate();
}

void MacTab::childExited(std::uint64_t ended, std::optional<int> waitStatus)
{
    if (ended != generation)
        return;
    sharedPlace.reset();
    if (movingOff == ended) {
        // Ended to start again off the shared connection: the tab stays live throughout, and
        // a session not shown yet may still need its setup.
        movingOff.reset();
        std::optional<QString> setup = sessionShown ? std::nullopt : startSetup;
        begin(std::move(setup), true);
        return;
    }
    // The check's word alone could be any program's output, its status any program's: only
    // both, from the same start, mean the folder was refused.
    if (announcedRefusal && waitStatus && WIFEXITED(*waitStatus) && WEXITSTATUS(*waitStatus) == *announcedRefusal) {
        folderRefusal = *announcedRefusal == folderMissingStatus ? FolderRefusal::missing : FolderRefusal::inaccessible;
    }
    setIsLive(false);
    if (onExit)
        onExit(*this);
}

bool MacTab::switchesScreen(const QString& text)
{
    // Kept across chunks: a sequence may be cut between two of them.
    const QString seen = screenSwitchTail + text;
    screenSwitchTail = seen.right(7);
    for (const QLatin1StringView sequence : {QLatin1StringView("\x1b[?1049h"), QLatin1StringView("\x1b[?1047h"),
                                              QLatin1StringView("\x1b[?47h")}) {
        if (seen.contains(sequence))
            return true;
    }
    return false;
}

void MacTab::watchFolderCheck(const QString& text)
{
    if (folderCheckWatch <= 0)
        return;
    folderCheckWatch -= text.size();
    const QString seen = folderCheckTail + text;
    const QString announced = QLatin1String(folderRefusedMarker) + folderCheckToken + u'-';
    for (const int status : {folderMissingStatus, folderInaccessibleStatus}) {
        if (seen.contains(announced + QString::number(status))) {
            announcedRefusal = status;
            folderCheckWatch = 0;
            return;
        }
    }
    // Enough for the announcement and all but the last of its two digits, cut between chunks.
    folderCheckTail = seen.right(announced.size() + 1);
}

void MacTab::gridResized()
{
    if (onRedrawAhead)
        onRedrawAhead(*this);
}

void MacTab::handleOutput(const QString& text, bool changesScreen, std::uint64_t scrolledLines)
{
    outputChangesScreen = changesScreen;
    outputScrolledLines = scrolledLines;
    watchFolderCheck(text);
    watchSharedConnection(text);
    // A client attaching over ssh draws its screen well after the start.
    const bool attached = switchesScreen(text);
    const bool firstShown = attached && !sessionShown;
    if (attached) {
        sessionShown = true;
        watchingSharedConnection = false;
    }
    if (attached && onRedrawAhead)
        onRedrawAhead(*this);
    if (autofill) {
        // Only ssh's start-up may ask for the password: once the session shows its full
        // screen (the tmux client switches to the alternate one) or the start is old, a
        // prompt is some other program's and must not get the server's password.
        if (attached || (sinceStart.isValid() && sinceStart.hasExpired(autofillWindow.count()))) {
            autofill.reset();
        } else if (const std::optional<QString> reply = autofill->feed(text)) {
            sendInput(reply->toUtf8());
        }
    }
    if (onOutput)
        onOutput(*this, text);
    if (firstShown && onSessionShown)
        onSessionShown(*this);
}

void MacTab::sendInput(const QByteArray& bytes)
{
    if (terminal)
        terminal->sendUserInput(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), size_t(bytes.size())));
}

void MacTab::sendComposed(const QString& message)
{
    // Markers inside the message would end the paste early and have the rest acted on as the
    // user's keys: they go, as from the terminal's own paste.
    const std::vector<std::uint8_t> start = corvantix::EscapeSequences::bracketedPasteStart();
    const std::vector<std::uint8_t> end = corvantix::EscapeSequences::bracketedPasteEnd();
    const auto text = [](const auto& bytes) {
        return std::string_view(reinterpret_cast<const char*>(bytes.data()), size_t(bytes.size()));
    };
    const QByteArray utf8 = message.toUtf8();
    const std::string paste = std::string(text(start))
        + corvantix::EscapeSequences::withoutPasteMarkers(text(utf8), text(start), text(end)) + std::string(text(end));
    sendInput(QByteArray(paste.data(), qsizetype(paste.size())));
    // The tab is the timer's context: a tab closed meanwhile sends nothing more. Nor does one
    // stopped or started again meanwhile: the Return belongs to the shell that got the paste.
    QTimer::singleShot(80, this, [this, sent = generation] {
        if (generation == sent && live)
            sendInput(QByteArrayLiteral("\r"));
    });
}

} // namespace halvoren

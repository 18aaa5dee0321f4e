// One open project tab: the project it shows, its connection (this computer or one SSH
// server), whether its shell lives in the project's tmux session, and the terminal view whose
// child is that shell. The tab builds the child's command line and environment, starts and
// stops it, turns its end into an event, types a remembered server password during ssh's
// start-up and sends the compose bar's messages.
//
// A server tab's ssh rides the server's shared connection while the link's budget of sessions
// allows, and logs in on a connection of its own otherwise, or once the server refuses it a
// session there.
//
// Every start and every stop raises `generation`; the view reports the end of a child with
// the generation it was started under, so the end of a child that a stop or a later start
// replaced is ignored. Everything runs on the main thread.
#pragma once

#include "tab/MacProject.h"
#include "remote/Async.h"
#include "remote/PasswordAutofill.h"
#include "remote/SSHLink.h"
#include "tab/TermView.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace halvoren {

class SecretStore;

// Environment variables by name.
using EnvironmentMap = QMap<QString, QString>;

// One "name=value" text per entry, in the map's order.
QStringList environmentStrings(const EnvironmentMap& environment);

// The environment of every program we start (childEnvironment), by name.
EnvironmentMap childEnvironmentMap();

// The environment of a tab's child, from childEnvironmentMap(): the terminal's identity, a
// UTF-8 character type, and, whatever it is given, none of the variables no program of ours
// gets (an enclosing tmux's). `localeExists` tells whether a locale name is installed.
EnvironmentMap tabEnvironment(EnvironmentMap environment, const std::function<bool(const QString&)>& localeExists);

// Whether the C library can load the locale.
bool localeInstalled(const QString& name);

// The command the remote user's shell receives: "$SHELL -lc " and the command in double
// quotes, with backslash, double quote, dollar and backtick escaped, so the inner login
// shell, not the outer one, reads it.
QString remoteShellCommand(const QString& command);

// Why a start made no session and ran no shell: its folder is missing (or not a folder), the
// account may not enter it, or its path is longer than any Linux path.
enum class FolderRefusal { missing, inaccessible, tooLong };

// Whether a path has more UTF-8 bytes than a Linux path may have.
bool folderPathTooLong(const QString& path);

// The path cut in its middle to at most `columns`, "…" standing for what was cut: the root and
// the folder's own name stay readable. A user-perceived character takes one column, a wide one
// (CJK, most emoji) two, so that a cut text of any script takes about the same room on screen.
// Also for names and host messages quoted in a sentence, whose both ends say most.
QString elidedPath(const QString& path, qsizetype columns = 80);

// "Dossier introuvable : <path>", "Dossier inaccessible : <path>" or, for a path no folder can
// have, "Chemin trop long : <path>"; the path elided.
QString folderRefusalMessage(FolderRefusal refusal, const QString& path);

class MacTab : public QObject {
    Q_OBJECT

public:
    // How long after a start a remembered password may be typed: ssh asks for it early.
    // Also dropped at the first switch to the alternate screen (tmux attached).
    std::chrono::milliseconds autofillWindow{20000};

    // `keychain`: where remembered passwords are read; the application's when none.
    MacTab(QString connId, MacProject project, bool useTmux, std::shared_ptr<SSHLink> link,
           SecretStore* keychain = nullptr);
    // Deletes the view (the model stops the tab first: the child is not signalled here).
    ~MacTab() override;

    const QString connId;
    const MacProject project;
    const bool useTmux;
    const std::shared_ptr<SSHLink> link;
    // Owned; a host may put it in its layout (a parent that goes first takes it along).
    const QPointer<TermView> terminal;

    // connId + "::" + the session name.
    QString id() const { return connId + QStringLiteral("::") + project.session; }

    bool isLive() const { return live; }
    void setIsLive(bool value);
    bool attention() const { return attentionValue; }
    void setAttention(bool value);

    std::optional<QDateTime> openedAt;
    // The key of the tab that was active when the user opened this one (set by the model).
    std::optional<QString> openedOver;
    std::optional<QDateTime> startedAt;

    std::function<void(MacTab&)> onBell;
    std::function<void(MacTab&, const QString&)> onOutput;
    std::function<void(MacTab&)> onInput;
    std::function<void(MacTab&)> onExit;
    // Its program is about to draw its whole screen again: we changed the grid's size,
    // (re)started the child, or a client switched to the alternate screen (tmux attaching).
    std::function<void(MacTab&)> onRedrawAhead;
    // Its start's session shows for the first time: the tmux client attached, so whatever the
    // start ran before the attach has run.
    std::function<void(MacTab&)> onSessionShown;
    std::function<void(MacTab&, const QList<QUrl>&)> onDropFiles;
    std::function<void(MacTab&, const QByteArray&)> onPasteImage;
    // A link the user opened in the terminal found no opener, and nothing ran.
    std::function<void(MacTab&)> onLinkNotOpened;

    // Set by the model on a start that makes and tags the session: the sessions the start
    // numbered, and the number of that order among the connection's. Taken once the session
    // shows (the start's tags are on the host) or the start ends without showing it.
    struct TaggedOrder {
        QStringList sessions;
        quint64 number = 0;
    };
    std::optional<TaggedOrder> taggedSessions;

    // Set when the latest start ended without entering its folder: no session was made and
    // no shell ran. Cleared by the next start.
    std::optional<FolderRefusal> folderRefusal;

    // Answers ssh's password prompt once, during the start-up of the current child.
    std::optional<PasswordAutofill> autofill;
    std::uint64_t generation = 0;

    // Whether the current start's ssh holds a session on the server's shared connection;
    // beyond the tabs' budget it logs in on a connection of its own (see SharedSessions).
    bool ridesSharedConnection() const { return sharedPlace != nullptr; }

    // The shell command of a start, which the login shell hands to the script shell: the tmux
    // attach line, or a login shell in the folder; a start that makes the session or the
    // shell first checks the folder can be entered. The tmux line runs from home: only tmux's
    // "-c" puts the session in the folder.
    QString command(const std::optional<QString>& setup) const;

    // Starts the child unless it runs: `setup` runs inside the new tmux session before the
    // attach. A child that cannot be started ends at once (reported on the next turn).
    void start(std::optional<QString> setup = std::nullopt);
    // Ends the child (SIGTERM); its end is not reported. The tmux session stays.
    void stop();
    // The view's report of a child's end, with its wait status when known.
    void childExited(std::uint64_t ended, std::optional<int> waitStatus = std::nullopt);
    // A chunk of the child's output; `changesScreen` false when the screen's text stayed as
    // it was (a repaint of the same text); `scrolledLines`: the lines it scrolled in.
    void handleOutput(const QString& text, bool changesScreen = true, std::uint64_t scrolledLines = 0);
    // Whether the chunk being handled changed the screen's text, and the lines it scrolled
    // in; read by the output hook.
    bool outputChangesScreen = true;
    std::uint64_t outputScrolledLines = 0;
    // The view's report that the child's window size changed.
    void gridResized();
    // The message as one bracketed paste, then Return 80 ms later.
    void sendComposed(const QString& message);

Q_SIGNALS:
    void isLiveChanged();
    void attentionChanged();

private:
    // command() before it is handed to the script shell.
    QString startCommand(const std::optional<QString>& setup) const;
    // The work of a start; `direct`: the server's ssh keeps off the shared connection.
    void begin(std::optional<QString> setup, bool direct);
    Task<> startRemote(QString remoteCommand, QStringList environment, std::uint64_t startGeneration, bool direct);
    // Ends the current ssh to start again on a connection of its own once it has ended (the
    // tmux session stays and the tab attaches again). `beforeShell`: its shell has not
    // started yet, so nothing is lost even without tmux. Whether it will.
    bool moveOffSharedConnection(bool beforeShell);
    // Looks in ssh's first lines of a start over the shared connection for its refusal.
    void watchSharedConnection(const QString& text);
    void launch(const QString& executable, const QStringList& arguments, const QStringList& environment,
                const QString& programName, const std::optional<QString>& directory);
    void sendInput(const QByteArray& bytes);
    // Whether the output switches to the alternate screen (a sequence may span chunks).
    bool switchesScreen(const QString& text);
    // Looks for the folder check's refusal in the first output of a start.
    void watchFolderCheck(const QString& text);
    // Ends a start that never launched, as the end of a child is reported: on the next turn.
    void endWithoutChild();

    SecretStore* keychain;
    bool live = false;
    bool attentionValue = false;
    QElapsedTimer sinceStart;
    QString screenSwitchTail;
    // Output of the current start still read for the folder check's refusal, in characters;
    // the status it announced.
    qsizetype folderCheckWatch = 0;
    QString folderCheckToken;
    QString folderCheckTail;
    std::optional<int> announcedRefusal;
    // The current start's setup, run again by a restart off the shared connection until the
    // session has shown its screen.
    std::optional<QString> startSetup;
    bool sessionShown = false;
    bool passwordRemembered = false;
    // This start's place on the shared connection, given back when its ssh ends.
    std::unique_ptr<SharedSessions::TabPlace> sharedPlace;
    // The generation whose ssh was ended to start again off the shared connection.
    std::optional<std::uint64_t> movingOff;
    // The first output of a start over the shared connection, while it may be ssh's own.
    QString sharedConnectionText;
    bool watchingSharedConnection = false;
};

} // namespace halvoren

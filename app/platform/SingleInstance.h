// One running application per configuration folder. Two processes that shared one
// preferences.json would each rewrite it whole from their own memory, attach a second client
// to every session and notify twice; so a launch that finds the folder taken asks the running
// process to bring its window forward and goes away. Processes with other configuration
// folders (another XDG_CONFIG_HOME) are not concerned and run side by side.
//
// The claim is an exclusive flock on "instance.lock" in the folder: the kernel drops it when
// the holder dies, however it dies, so a crash leaves nothing that stops the next launch. The
// holder listens on a local socket named after a hash of the folder's canonical path, in the
// runtime folder, and writes that socket's path into the lock file, so a later launch finds it
// whatever its own environment says.
#pragma once

#include <QObject>
#include <QString>

#include <chrono>

class QLocalServer;
class QLocalSocket;

namespace halvoren {

class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Claim {
        // This process holds the folder and answers later launches (or could not make the lock
        // at all, and runs unguarded rather than not at all).
        first,
        // Another process holds it and was asked to come forward: this one should leave.
        forwarded,
        // Another process holds it but never answered within the patience given.
        unanswered,
    };

    // The message a later launch sends.
    static inline const QByteArray raiseMessage = QByteArrayLiteral("raise\n");

    explicit SingleInstance(QString configFolder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the folder or hands over to its holder. Blocks for at most `patience`: the holder
    // may have taken the lock and not yet listen, or be quitting and not yet have let go; both
    // settle within moments. Call once, before anything reads or writes the folder's files.
    Claim claim(std::chrono::milliseconds patience = std::chrono::seconds(10));

    // From now on the claim lasts as long as the process: the end of this object stops
    // answering later launches but leaves the lock to the kernel, which drops it only when the
    // process has ended. What runs after it (static teardown, a thread still in a system call)
    // then cannot overlap a second launch.
    void holdUntilExit() { lockOutlivesThis = true; }

    // Where the holder listens, for this folder.
    QString socketPath() const { return serverPath; }
    QString lockPath() const;

Q_SIGNALS:
    // A later launch with this folder asked for the window.
    void raiseRequested();

private:
    bool tryLock();
    bool listen();
    bool forward(const QString& path);
    void accept();
    void read(QLocalSocket* socket);

    const QString folder;
    const QString serverPath;
    int lockDescriptor = -1;
    bool lockOutlivesThis = false;
    QLocalServer* server = nullptr;
};

} // namespace halvoren

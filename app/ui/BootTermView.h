// The terminal of the first connection to a server: one interactive ssh whose only remote work
// is to print a ready marker and the remote home. The user answers what ssh asks (a password
// or a key passphrase) in the terminal; a remembered password is typed once by itself, and a
// password the user types after a "password:" prompt can be remembered once the login works.
//
// Seeing the marker line proves the login; the ssh exit status is never looked at. Exactly one
// result is delivered, at most once: `finished` is cleared before it is called, and when the
// sheet goes away first (teardown) nothing is delivered at all.
//
// Everything runs on the main thread.
#pragma once

#include "settings/MacProfile.h"
#include "remote/Async.h"
#include "remote/PasswordAutofill.h"
#include "remote/SSHLink.h"
#include "view/qt/LocalProcessTerminalView.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace halvoren {

class SecretStore;

// The outcome of one attempt: the proven link (its remote home filled in), or a message.
struct BootResult {
    std::shared_ptr<SSHLink> link;
    QString message;

    bool succeeded() const { return link != nullptr; }
};

class BootTermView : public corvantix::LocalProcessTerminalView {
    Q_OBJECT

public:
    // Output kept for the marker and prompt tests, in UTF-16 code units. The marker line and
    // the last prompt line are far shorter; ssh's last words before it gives up are at the
    // end. Without a bound a chatty server would grow the buffer for as long as the sheet is
    // open.
    static constexpr qsizetype bufferLimit = 64 * 1024;
    static constexpr std::chrono::milliseconds watchdogDelay{5000};
    static inline const QString readyMarker = QStringLiteral("__HV_READY__:");

    explicit BootTermView(const QRect& frame, QWidget* parent = nullptr);

    // The link being proven; made at start.
    std::shared_ptr<SSHLink> link;
    // The most recent output, decoded as UTF-8 (invalid sequences replaced); see bufferLimit.
    QString buffer;
    // Set at start; empty once nothing is owed any more.
    std::function<void(BootResult)> finished;
    // Present when a password is remembered for the server.
    std::optional<PasswordAutofill> autofill;
    // The sheet's toggle, as it is now.
    bool remember = true;
    // The user is typing an answer to a password prompt.
    bool capturing = false;
    // UTF-8 bytes typed since the prompt, decoded only when the answer is complete.
    QByteArray typing;
    // The last non-empty answer typed to a password prompt.
    std::optional<QString> typedPassword;
    bool gotOutput = false;
    // Where passwords are read and written; the application's keychain when none.
    SecretStore* keychain = nullptr;
    // A link the user opened in the terminal found no opener, and nothing ran.
    std::function<void()> onLinkNotOpened;

    // Starts the ssh of `profile`; `done` gets the one result.
    Task<> bootStart(MacProfile profile, std::function<void(BootResult)> done);
    // The sheet went away: nothing more is reported, and ssh ends.
    void teardown();

    using LocalProcessTerminalView::processTerminated;
    using LocalProcessTerminalView::send;

    // User input on its way to ssh; an answer to a password prompt is noted.
    void send(corvantix::TerminalView& source, std::span<const std::uint8_t> data) override;
    // ssh ended: the result is decided on a later turn, after any last output.
    void processTerminated(corvantix::LocalProcess& source, std::optional<std::int32_t> exitCode) override;
    // Output from ssh: shown, kept, answered with a remembered password, watched for the marker.
    void dataReceived(std::span<const std::uint8_t> slice) override;

    // Delivers success once the marker line is complete.
    void checkReady();
    // The end of ssh without a complete marker line is a failure.
    void bootExited();
    // A grey hint when nothing has arrived yet.
    void bootWatchdog();

    // The failure message for what ssh printed before it ended.
    static QString failureMessage(const QString& output);

private:
    void appendToBuffer(const QString& text);
    SecretStore& secrets() const;

    QStringDecoder decoder{QStringDecoder::Utf8};
};

} // namespace halvoren

// The first-connection sheet: one interactive ssh in a small terminal, so the user can answer a
// password or passphrase prompt once.
#pragma once

#include "settings/MacProfile.h"
#include "remote/SSHLink.h"
#include "ui/BootTermView.h"

#include <QDialog>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;

namespace halvoren {

class SecretStore;

// Places the boot terminal in the sheet, clipped to a rounded rectangle, and owns its start
// and its teardown.
class BootTerminal : public QWidget {
    Q_OBJECT

public:
    BootTerminal(MacProfile profile, bool remember, std::function<void(BootResult)> finished, QWidget* parent);
    ~BootTerminal() override;

    // Starts ssh (once) and gives the terminal the keyboard on the next turn.
    void start(SecretStore* keychain);
    // The sheet's toggle changed.
    void setRemember(bool value);
    // The sheet closes: nothing more is reported and ssh ends.
    void teardown();

    BootTermView* view() const { return terminalView; }

    MacProfile profile;
    bool remember;
    std::function<void(BootResult)> finished;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    BootTermView* terminalView;
    bool started = false;
};

class ConnectSheet : public QDialog {
    Q_OBJECT

public:
    // Its fixed width, and the height its wrapped texts take at that width.
    QSize sizeHint() const override;

    // `done` gets the proven link, or nothing when the user cancels or closes; it is called once,
    // after the sheet has closed itself. It may come from the sheet's own button: release the
    // sheet with deleteLater, not delete.
    ConnectSheet(MacProfile profile, std::function<void(std::shared_ptr<SSHLink>)> done, QWidget* parent);
    ~ConnectSheet() override;

    MacProfile profile;
    std::function<void(std::shared_ptr<SSHLink>)> done;
    // Where the remembered password is read and a typed one written; the application's keychain
    // when none. Set it before the sheet is shown.
    SecretStore* keychain = nullptr;

    // The failure message, once the attempt has failed.
    const std::optional<QString>& failed() const { return failure; }
    bool remember() const;
    // Whether a keychain can keep the password, once it has answered.
    std::optional<bool> keychainAvailable() const { return keychainAnswer; }
    static inline const QString noKeychainMessage =
        QStringLiteral("Aucun trousseau disponible : le mot de passe ne sera pas mémorisé.");
    BootTerminal* terminal() const { return bootTerminal; }

    // Escape, the button and the window's close all end here: ssh ends, `done` gets nothing.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    // Escape closes the sheet even while the terminal has the keyboard.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void bootFinished(const BootResult& result);
    // Calls `done` at most once.
    void report(std::shared_ptr<SSHLink> link);

    // Asks the keychain once whether it can keep the password; without one the toggle is off
    // and says why.
    void checkKeychain();

    std::optional<QString> failure;
    bool reported = false;
    bool keychainChecked = false;
    std::optional<bool> keychainAnswer;
    QLabel* keychainMissingLabel = nullptr;
    QLabel* openerMissingLabel = nullptr;
    BootTerminal* bootTerminal = nullptr;
    QLabel* failureLabel = nullptr;
    QCheckBox* rememberToggle = nullptr;
    QPushButton* closeButton = nullptr;
};

} // namespace halvoren

// The servers sheet: the saved servers, their state, quick connection from an ssh command line.
//
// Connecting always tries the silent (batch) connection first; when that fails, the
// first-connection sheet opens over this one so the user can answer ssh's prompts once.
#pragma once

#include "workspace/MacModel.h"
#include "settings/MacProfile.h"
#include "remote/Async.h"
#include "remote/SSHLink.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace halvoren {

class ProfileEditor;

// The second line of a server row: "user@" when there is a user, the host, ":port" unless
// the port is 22, then " · " and the projects folder.
QString serverDetailLine(const MacProfile& profile);

enum class ServerStatus { connected, connecting, idle };
ServerStatus serverStatus(const MacModel& model, const QString& profileID);

// The entries of a server row's menu, in order; an empty text is the divider.
QStringList serverMenuTitles(bool connected);

class ServersView : public QDialog {
    Q_OBJECT

public:
    static inline const QString unrecognisedMessage =
        QStringLiteral("Commande ssh non reconnue. Exemple : ssh -p 22 user@hote");

    // `autoConnect`: a profile to connect interactively as soon as the sheet shows.
    ServersView(MacModel& model, std::optional<QString> autoConnect, QWidget* parent);

    MacModel& model;
    std::optional<QString> autoConnect;

    // Gets the proven link of a first connection, or nothing when it was given up.
    using ConnectDone = std::function<void(std::shared_ptr<SSHLink>)>;
    // Makes the first-connection sheet of a profile (not yet shown). Tests put a recorder
    // here instead of a sheet that runs ssh.
    std::function<QDialog*(const MacProfile&, ConnectDone, QWidget* parent)> makeConnectSheet;

    // Saves the profile of the typed ssh line, empties the field and connects it; a line
    // that names no usable server only shows the error.
    void quickConnect();
    // The silent connection; on success the sheet closes, else the first-connection sheet opens.
    Task<> connectFlow(MacProfile profile);
    // What the first-connection sheet reports: with a link, attach it and close this sheet.
    void connectDone(std::shared_ptr<SSHLink> link);
    // Opens the editor on a copy of the profile.
    void edit(const MacProfile& profile);
    // Opens the editor on a fresh profile.
    void addServer();
    // The row's menu, wired to its actions; the caller owns it.
    QMenu* rowMenu(const MacProfile& profile, QWidget* parent);

    // The sheets over this one, while they are open.
    QPointer<ProfileEditor> editing;
    QPointer<QDialog> connecting;

    QLabel* hint = nullptr;
    QScrollArea* list = nullptr;
    QLineEdit* quickField = nullptr;
    QPushButton* quickButton = nullptr;
    QLabel* errorLabel = nullptr;
    QPushButton* addButton = nullptr;
    QPushButton* closeButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void rebuildRows();
    QWidget* makeRow(const MacProfile& profile);
    void setError(const std::optional<QString>& message);
    void openConnectSheet(const MacProfile& profile);
    void runAutoConnect();
    Task<> attachAndClose(std::shared_ptr<SSHLink> link);

    QWidget* rows = nullptr;
    QVBoxLayout* rowsLayout = nullptr;
    bool autoConnectSeen = false;
    // Counts the first-connection sheets, so that a replaced one cannot report into its successor.
    quint64 sheetTicket = 0;
};

} // namespace halvoren

// The first-connection sheet: one interactive ssh in a small terminal, so the user can answer a
// password or passphrase prompt once.
#pragma once

#include "model/MacProfile.h"
#include "remote/SSHLink.h"

#include <QDialog>

#include <functional>
#include <memory>

namespace halvoren {

class ConnectSheet : public QDialog {
    Q_OBJECT

public:
    // `done` gets the proven link, or nothing when the user cancels or closes.
    ConnectSheet(MacProfile profile, std::function<void(std::shared_ptr<SSHLink>)> done, QWidget* parent);

    MacProfile profile;
    std::function<void(std::shared_ptr<SSHLink>)> done;
};

} // namespace halvoren

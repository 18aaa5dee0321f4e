// The servers sheet: the saved servers, their state, quick connection from an ssh command line.
#pragma once

#include "model/MacModel.h"

#include <QDialog>
#include <QString>

#include <optional>

namespace halvoren {

class ServersView : public QDialog {
    Q_OBJECT

public:
    // `autoConnect`: a profile to connect interactively as soon as the sheet shows.
    ServersView(MacModel& model, std::optional<QString> autoConnect, QWidget* parent);

    MacModel& model;
    std::optional<QString> autoConnect;
};

} // namespace halvoren

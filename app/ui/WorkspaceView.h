// The detail column of the main window: update bar, tab bar, status bars, the active tab's
// terminal and the compose bar.
#pragma once

#include "model/MacModel.h"

#include <QWidget>

namespace halvoren {

class MacUpdate;

class WorkspaceView : public QWidget {
    Q_OBJECT

public:
    WorkspaceView(MacModel& model, MacUpdate& update, QWidget* parent = nullptr);

    MacModel& model;
    MacUpdate& update;
};

} // namespace halvoren

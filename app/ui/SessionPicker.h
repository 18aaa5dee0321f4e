// The session picker: the tmux sessions already running in a project folder, to resume one,
// close one or start a new one.
#pragma once

#include "model/MacModel.h"
#include "ui/PickerRequest.h"

#include <QDialog>

#include <functional>

namespace halvoren {

class SessionPicker : public QDialog {
    Q_OBJECT

public:
    SessionPicker(MacModel& model, PickerRequest request, std::function<void()> done, QWidget* parent);

    MacModel& model;
    PickerRequest request;
    std::function<void()> done;
};

} // namespace halvoren

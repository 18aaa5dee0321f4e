// The quick commands panel at the right of the window.
#pragma once

#include "model/MacModel.h"

#include <QWidget>

namespace halvoren {

class CommandsPanel : public QWidget {
    Q_OBJECT

public:
    CommandsPanel(MacModel& model, QWidget* parent = nullptr);

    MacModel& model;
};

} // namespace halvoren

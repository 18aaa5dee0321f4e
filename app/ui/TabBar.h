// The strip of tab chips above the terminal.
#pragma once

#include "model/MacModel.h"

#include <QWidget>

namespace halvoren {

class TabBar : public QWidget {
    Q_OBJECT

public:
    TabBar(MacModel& model, QWidget* parent = nullptr);

    MacModel& model;
};

} // namespace halvoren

// The projects sidebar: one section per connection with its projects, and the servers not connected.
#pragma once

#include "model/MacModel.h"

#include <QWidget>

namespace halvoren {

class SidebarView : public QWidget {
    Q_OBJECT

public:
    SidebarView(MacModel& model, QWidget* parent = nullptr);

    MacModel& model;
};

} // namespace halvoren

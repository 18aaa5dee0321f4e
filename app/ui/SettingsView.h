// The settings window: projects folders, text size, version.
#pragma once

#include "model/MacModel.h"

#include <QWidget>

namespace halvoren {

class SettingsView : public QWidget {
    Q_OBJECT

public:
    SettingsView(MacModel& model, QWidget* parent = nullptr);

    MacModel& model;
};

} // namespace halvoren

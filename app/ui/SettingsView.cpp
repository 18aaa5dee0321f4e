#include "ui/SettingsView.h"

namespace halvoren {

SettingsView::SettingsView(MacModel& model, QWidget* parent) : QWidget(parent), model(model) {}

} // namespace halvoren

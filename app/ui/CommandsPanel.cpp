#include "ui/CommandsPanel.h"

namespace halvoren {

CommandsPanel::CommandsPanel(MacModel& model, QWidget* parent) : QWidget(parent), model(model) {}

} // namespace halvoren

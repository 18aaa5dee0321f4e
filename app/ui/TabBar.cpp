#include "ui/TabBar.h"

namespace halvoren {

TabBar::TabBar(MacModel& model, QWidget* parent) : QWidget(parent), model(model) {}

} // namespace halvoren

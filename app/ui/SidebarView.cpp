#include "ui/SidebarView.h"

namespace halvoren {

SidebarView::SidebarView(MacModel& model, QWidget* parent) : QWidget(parent), model(model) {}

} // namespace halvoren

#include "ui/ServersView.h"

namespace halvoren {

ServersView::ServersView(MacModel& model, std::optional<QString> autoConnect, QWidget* parent)
    : QDialog(parent), model(model), autoConnect(std::move(autoConnect))
{
}

} // namespace halvoren

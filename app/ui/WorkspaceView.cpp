#include "ui/WorkspaceView.h"

namespace halvoren {

WorkspaceView::WorkspaceView(MacModel& model, MacUpdate& update, QWidget* parent)
    : QWidget(parent), model(model), update(update)
{
}

} // namespace halvoren

#include "ui/SessionPicker.h"

namespace halvoren {

SessionPicker::SessionPicker(MacModel& model, PickerRequest request, std::function<void()> done, QWidget* parent)
    : QDialog(parent), model(model), request(std::move(request)), done(std::move(done))
{
}

} // namespace halvoren

#include "ui/ConnectSheet.h"

namespace halvoren {

ConnectSheet::ConnectSheet(MacProfile profile, std::function<void(std::shared_ptr<SSHLink>)> done, QWidget* parent)
    : QDialog(parent), profile(std::move(profile)), done(std::move(done))
{
}

} // namespace halvoren

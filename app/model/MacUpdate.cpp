#include "model/MacUpdate.h"

namespace halvoren {

MacUpdate& MacUpdate::shared()
{
    static MacUpdate* update = new MacUpdate;
    return *update;
}

void MacUpdate::setAvailable(const std::optional<Available>& value)
{
    if (availableValue == value)
        return;
    availableValue = value;
    Q_EMIT availableChanged();
}

void MacUpdate::setDismissed(bool value)
{
    if (dismissedValue == value)
        return;
    dismissedValue = value;
    Q_EMIT dismissedChanged();
}

void MacUpdate::start() {}
void MacUpdate::openDownload() {}

qint64 bundleBuild() { return 0; }

} // namespace halvoren

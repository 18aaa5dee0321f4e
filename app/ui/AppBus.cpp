#include "ui/AppBus.h"

namespace halvoren {

AppBus& AppBus::shared()
{
    static AppBus* bus = new AppBus;
    return *bus;
}

} // namespace halvoren

// Observed model fields change through this: the field is assigned and its change signal
// emitted only when the value differs, so views redraw on real changes alone.
#pragma once

#include <QObject>

namespace halvoren {

template <typename Owner, typename T, typename Signal>
void assign(Owner* owner, T& field, const T& value, Signal signal)
{
    if (field == value)
        return;
    field = value;
    Q_EMIT(owner->*signal)();
}

} // namespace halvoren

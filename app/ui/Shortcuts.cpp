#include "ui/Shortcuts.h"

namespace halvoren::shortcuts {

QString text(const QKeySequence& key)
{
    // What a menu draws beside its item.
    return key.toString(QKeySequence::NativeText);
}

QString withKey(const QString& label, const QKeySequence& key)
{
    return label + QStringLiteral(" (") + text(key) + u')';
}

} // namespace halvoren::shortcuts

// Names from the disk or a host go on screen on one line: a control character in a folder's
// name (a line feed, a tab, an escape) is drawn as a visible symbol instead of acting.
#pragma once

#include <QString>

namespace halvoren {

// C0 controls as their control pictures (line feed as "␊", escape as "␛"), delete as "␡",
// next line and the line and paragraph separators as "␤", other C1 controls and the direction
// embeddings, overrides and isolates (U+202A–U+202E, U+2066–U+2069) as "�". Every other
// character is kept, the direction marks U+200E, U+200F and U+061C included.
QString visibleText(const QString& text);

} // namespace halvoren

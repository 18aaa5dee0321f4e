// The one quoting rule for every text put into a shell or tmux command line.
#pragma once

#include <QString>

namespace halvoren {

// The text between single quotes, each single quote inside written as '\''.
QString shellQuote(const QString& text);

} // namespace halvoren

// A program started apart from the application: in a session of its own, never waited for and
// never ended by us, so that it outlives a quit (an opener that stays until the window it
// opened closes, say). Its exit status still comes back, on the main thread, whenever it ends.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace halvoren {

// Starts `program` (an absolute path) with `arguments`, in the home folder, its standard input
// on /dev/null, with the environment of every program we start (childEnvironment).
// `finished` gets the exit status once the program ends (127 when it could not start, as a
// shell reports a program it cannot run), or nothing when a signal ended it; it runs on the
// main thread, after this call has returned.
void startDetachedProcess(const QString& program, const QStringList& arguments,
                          std::function<void(std::optional<int> exitStatus)> finished);

// The desktop's opener of files and links (xdg-open) in an absolute folder of the search path;
// empty when there is none.
QString desktopOpener();

// Opens `url` with the desktop's opener, started as above: it and what it starts (a browser,
// say) get the signals any program expects, not those the application keeps for itself. False
// when there is no opener: nothing is started then, and the caller shows noLinkOpenerMessage
// where the user is.
[[nodiscard]] bool openOnDesktop(const QUrl& url);
inline const QString noLinkOpenerMessage = QStringLiteral("Aucun programme pour ouvrir les liens : installe xdg-utils.");

} // namespace halvoren

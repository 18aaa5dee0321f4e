// The application's own keys, in one place: the menus take their shortcuts from here and every
// tooltip or help text that names a key writes it from the same sequence, the way the menus
// show it, so the two never disagree ("Ctrl+Maj+M" in both under the French translation).
//
// Plain Ctrl letters (Ctrl+C, Ctrl+D, Ctrl+W, Ctrl+T…) belong to the terminal, so these use
// Ctrl+Shift or Alt.
#pragma once

#include <QKeySequence>
#include <QString>

namespace halvoren::shortcuts {

inline QKeySequence showServers() { return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K); }
inline QKeySequence settings() { return QKeySequence(Qt::CTRL | Qt::Key_Comma); }
inline QKeySequence closeTab() { return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_W); }
inline QKeySequence reopenTab() { return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T); }
// Two keys for one command: "+" needs Shift on most layouts, "=" does not.
inline QKeySequence biggerText() { return QKeySequence(Qt::CTRL | Qt::Key_Plus); }
inline QKeySequence biggerTextEqual() { return QKeySequence(Qt::CTRL | Qt::Key_Equal); }
inline QKeySequence smallerText() { return QKeySequence(Qt::CTRL | Qt::Key_Minus); }
inline QKeySequence defaultText() { return QKeySequence(Qt::CTRL | Qt::Key_0); }
inline QKeySequence toggleSidebar() { return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S); }
inline QKeySequence toggleCommands() { return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D); }
inline QKeySequence toggleCompose() { return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M); }
inline QKeySequence nextTab() { return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_BracketRight); }
inline QKeySequence previousTab() { return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_BracketLeft); }
// Tab n, n from 1 to 9 (9 is the last tab).
inline QKeySequence tabNumber(int n) { return QKeySequence(Qt::ALT | Qt::Key(Qt::Key_0 + n)); }

// `key` as a menu shows it, in the installed translation.
QString text(const QKeySequence& key);
// "`label` (key)", the form of a tooltip.
QString withKey(const QString& label, const QKeySequence& key);

} // namespace halvoren::shortcuts

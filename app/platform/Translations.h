// The interface speaks French only, whatever the session's locale: Qt's own texts (the
// standard dialogs and buttons, the folder chooser, the key names of shortcuts) and the dates
// and numbers Qt formats follow it, as every text of ours does.
#pragma once

#include <QLocale>
#include <QString>

class QTranslator;

namespace halvoren {

// The interface's language and region.
QLocale interfaceLocale();

// Where this system keeps Qt's translation files.
QString qtTranslationsFolder();

// Makes interfaceLocale() the default and installs Qt's French texts ("qtbase_fr.qm") from
// `folder`. Returns the translator, owned by the application; nullptr when the file is missing
// or unreadable: Qt's English texts then remain, and one line names the file that was wanted.
// Call once, after the application object exists and before any widget is made.
QTranslator* installFrenchInterface(const QString& folder = qtTranslationsFolder());

} // namespace halvoren

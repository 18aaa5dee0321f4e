#include "platform/Translations.h"

#include "platform/Log.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace halvoren {

QLocale interfaceLocale()
{
    return QLocale(QLocale::French, QLocale::France);
}

QString qtTranslationsFolder()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

QTranslator* installFrenchInterface(const QString& folder)
{
    QLocale::setDefault(interfaceLocale());
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_fr"), folder) || !QCoreApplication::installTranslator(translator)) {
        corvantix::logInfo(false, "translations: cannot load " + folder.toStdString()
                                      + "/qtbase_fr.qm; Qt's own texts stay in English");
        delete translator;
        return nullptr;
    }
    return translator;
}

} // namespace halvoren

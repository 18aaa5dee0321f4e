#include "platform/Translations.h"

#include "app/support/TempFolder.h"

#include <QCoreApplication>
#include <QFile>
#include <QTranslator>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

// Without the file the application keeps Qt's English and goes on; with it, Qt's own words
// (here a key name, as shortcuts are written) come out in French. The locale is French both
// ways.
TEST(FrenchInterface, QtTextsAreFrenchWhenTheFileIsThereAndEnglishOtherwise)
{
    const QLocale before;
    test::TempFolder empty;
    EXPECT_EQ(installFrenchInterface(empty.path()), nullptr);
    EXPECT_EQ(QCoreApplication::translate("QShortcut", "Shift"), QStringLiteral("Shift"));
    EXPECT_EQ(QLocale().language(), QLocale::French);

    ASSERT_TRUE(QFile::exists(qtTranslationsFolder() + QStringLiteral("/qtbase_fr.qm")))
        << "Qt's French texts are missing; install the Debian package qt6-translations-l10n";
    QTranslator* translator = installFrenchInterface();
    ASSERT_NE(translator, nullptr);
    EXPECT_EQ(QCoreApplication::translate("QShortcut", "Shift"), QStringLiteral("Maj"));
    QCoreApplication::removeTranslator(translator);
    delete translator;
    QLocale::setDefault(before);
}

} // namespace
} // namespace halvoren

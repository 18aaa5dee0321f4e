// The window in French whatever the session's locale (the tests run under C.UTF-8): Qt's own
// folder chooser, the session picker's relative dates, and every tooltip and help text that
// names a key, written as the menus write it.
#include "platform/Translations.h"
#include "ui/HalvorenCommands.h"
#include "ui/HalvorenMacApp.h"
#include "ui/MainView.h"
#include "ui/OnboardingView.h"
#include "ui/PlainText.h"
#include "ui/SessionPicker.h"
#include "ui/SettingsView.h"
#include "ui/TabChip.h"

#include "app/ui/ViewsWorkspace.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QTranslator>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

class FrenchInterface : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "run under tests/with-xvfb (Debian package xvfb)";
        ASSERT_TRUE(QFile::exists(qtTranslationsFolder() + QStringLiteral("/qtbase_fr.qm")))
            << "Qt's French texts are missing; install the Debian package qt6-translations-l10n";
        ASSERT_NE(translator(), nullptr);
    }
    // Installed once, as the application does before its first widget.
    static QTranslator* translator()
    {
        static QTranslator* const installed = installFrenchInterface();
        return installed;
    }
    static void keysNamedAsInTheMenu(bool french);
    static QString menuText(const QAction* action) { return action->shortcut().toString(QKeySequence::NativeText); }
};

TEST_F(FrenchInterface, TheFirstRunFolderChooserSpeaksFrench)
{
    test::ViewsWorkspace workspace;
    OnboardingView sheet(workspace.model);
    sheet.show();
    QString title;
    QStringList buttons;
    QStringList labels;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (chooser == nullptr || !chooser->isVisible())
            return;
        poll.stop();
        title = chooser->windowTitle();
        for (const QPushButton* button : chooser->findChildren<QPushButton*>()) {
            if (button->isVisible())
                buttons << button->text().remove(u'&');
        }
        for (const QLabel* label : chooser->findChildren<QLabel*>()) {
            if (label->isVisible())
                labels << label->text().remove(u'&');
        }
        chooser->reject();
    });
    poll.start();
    sheet.choose();
    ASSERT_FALSE(title.isEmpty()) << "no folder chooser of Qt's own was shown";
    EXPECT_TRUE(buttons.contains(QStringLiteral("Choisir")) && buttons.contains(QStringLiteral("Annuler")))
        << buttons.join(u',').toStdString();
    const QString shown = (QStringList{title} + buttons + labels).join(u'|');
    for (const char* english : {"Find Directory", "Choose", "Cancel", "Look in", "Directory:"})
        EXPECT_FALSE(shown.contains(QLatin1String(english))) << shown.toStdString();
}

TEST_F(FrenchInterface, TheSessionPickerSaysWhenInFrench)
{
    test::TabViewsWorkspace workspace;
    const QDateTime now = workspace.model.clock->now();
    const PickerRequest request{{QStringLiteral("app"), QStringLiteral("/p/app"), QStringLiteral("kq-app")},
                                MacConnection::localID,
                                {FolderSession{QStringLiteral("kq-app"), {}, {}, 1, now.addSecs(-9), QStringLiteral("zsh")}}};
    SessionPicker picker(workspace.model, request, [] {}, nullptr);
    // The whole line: the sheet is not shown, and its label is shortened to a width it has not
    // been given yet.
    const ElidedLabel* detail = picker.findChild<ElidedLabel*>(QStringLiteral("detail"));
    ASSERT_NE(detail, nullptr);
    EXPECT_EQ(detail->fullText(), QStringLiteral("zsh · active il y a 9 secondes · 1 appareil(s)"));
}

// In French, and in Qt's English as well: the texts follow the menus' own translation, so
// none can be written out by hand.
TEST_F(FrenchInterface, EveryKeyNamedInATooltipOrHelpTextReadsAsInTheMenu)
{
    for (const bool french : {true, false}) {
        SCOPED_TRACE(french ? "French" : "Qt's English");
        if (!french)
            QCoreApplication::removeTranslator(translator());
        keysNamedAsInTheMenu(french);
        if (!french)
            QCoreApplication::installTranslator(translator());
    }
}

void FrenchInterface::keysNamedAsInTheMenu(bool french)
{
    test::ViewsWorkspace workspace;
    workspace.prefs.setOnboardingDone(true);
    workspace.model.localConnection()->setTmuxAvailable(false);
    HalvorenMacApp app(workspace.model, workspace.update);
    app.mainView->startModel = []() -> Task<> { co_return; };
    app.mainView->startUpdate = [] {};
    // A tab, so that its chip's close button is there too.
    workspace.open(workspace.local(), QStringLiteral("/p/alpha"));
    app.window->show();
    app.showSettings();
    const HalvorenCommands& menus = *app.commands;
    EXPECT_EQ(menuText(menus.toggleComposeAction), french ? QStringLiteral("Ctrl+Maj+M") : QStringLiteral("Ctrl+Shift+M"));

    for (const auto& [tooltip, label, action] :
         {std::tuple<QString, const char*, const QAction*>{app.mainView->composeAction->toolTip(), "Barre de message",
                                                           menus.toggleComposeAction},
          {app.mainView->commandsAction->toolTip(), "Commandes rapides", menus.toggleCommandsAction},
          {app.mainView->settingsAction->toolTip(), "Réglages", app.settingsAction},
          {TabChip::closeToolTip(), "Fermer l'onglet", menus.closeTabAction}})
        EXPECT_EQ(tooltip, QString::fromUtf8(label) + QStringLiteral(" (") + menuText(action) + u')');

    // Whatever names a key anywhere in the two windows names it as some menu item shows it.
    QStringList menuKeys{menuText(app.settingsAction)};
    for (const QAction* action : menus.actions())
        menuKeys << menuText(action);
    QStringList tooltips;
    for (QWidget* window : {static_cast<QWidget*>(app.window), static_cast<QWidget*>(app.settingsWindow())}) {
        for (const QWidget* widget : window->findChildren<QWidget*>())
            tooltips << widget->toolTip();
        for (const QAction* action : window->findChildren<QAction*>())
            tooltips << action->toolTip();
    }
    const QRegularExpression namedKey(QStringLiteral("\\(((?:Ctrl|Alt|Maj|Shift)\\+[^()]*)\\)$"));
    int named = 0;
    for (const QString& tooltip : std::as_const(tooltips)) {
        const QRegularExpressionMatch match = namedKey.match(tooltip);
        if (!match.hasMatch())
            continue;
        ++named;
        EXPECT_TRUE(menuKeys.contains(match.captured(1))) << tooltip.toStdString();
    }
    EXPECT_GE(named, 4);

    const QString help = menuText(menus.biggerTextEqualAction) + QStringLiteral(" / ") + menuText(menus.smallerTextAction)
                         + QStringLiteral(" / ") + menuText(menus.defaultTextAction)
                         + QStringLiteral(" depuis le menu Présentation.");
    const QList<QLabel*> labels = app.settingsWindow()->findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [&](const QLabel* label) { return label->text() == help; }))
        << help.toStdString();
}

} // namespace
} // namespace halvoren

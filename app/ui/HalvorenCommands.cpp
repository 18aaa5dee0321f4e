#include "ui/HalvorenCommands.h"

#include "tab/MacTab.h"
#include "ui/AppBus.h"
#include "ui/Shortcuts.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

namespace halvoren {

HalvorenCommands::HalvorenCommands(MacModel& model, QWidget* window) : QObject(window), model(model), window(window)
{
    fileMenu = new QMenu(QStringLiteral("Fichier"), window);
    showServersAction = add(fileMenu, QStringLiteral("Serveurs…"), shortcuts::showServers());
    connect(showServersAction, &QAction::triggered, this, &HalvorenCommands::showServers);
    fileMenu->addSeparator();
    closeTabAction = add(fileMenu, QStringLiteral("Fermer l'onglet"), shortcuts::closeTab());
    connect(closeTabAction, &QAction::triggered, this, &HalvorenCommands::closeActiveTab);
    reopenTabAction = add(fileMenu, QStringLiteral("Rouvrir l'onglet fermé"), shortcuts::reopenTab());
    connect(reopenTabAction, &QAction::triggered, this, [this] { this->model.reopenClosedTab(); });

    viewMenu = new QMenu(QStringLiteral("Présentation"), window);
    biggerTextAction = add(viewMenu, QStringLiteral("Agrandir le texte"), shortcuts::biggerText());
    connect(biggerTextAction, &QAction::triggered, this, [this] { changeFontSize(1.0); });
    biggerTextEqualAction = add(viewMenu, QStringLiteral("Agrandir le texte"), shortcuts::biggerTextEqual());
    connect(biggerTextEqualAction, &QAction::triggered, this, [this] { changeFontSize(1.0); });
    smallerTextAction = add(viewMenu, QStringLiteral("Réduire le texte"), shortcuts::smallerText());
    connect(smallerTextAction, &QAction::triggered, this, [this] { changeFontSize(-1.0); });
    defaultTextAction = add(viewMenu, QStringLiteral("Taille par défaut"), shortcuts::defaultText());
    connect(defaultTextAction, &QAction::triggered, this, [this] { this->model.setFontSize(defaultFontSize); });
    viewMenu->addSeparator();
    toggleSidebarAction
        = add(viewMenu, QStringLiteral("Barre latérale des projets"), shortcuts::toggleSidebar());
    connect(toggleSidebarAction, &QAction::triggered, this, &HalvorenCommands::toggleSidebar);
    toggleCommandsAction = add(viewMenu, QStringLiteral("Commandes rapides"), shortcuts::toggleCommands());
    connect(toggleCommandsAction, &QAction::triggered, this, &HalvorenCommands::toggleCommands);
    toggleComposeAction = add(viewMenu, QStringLiteral("Barre de message"), shortcuts::toggleCompose());
    connect(toggleComposeAction, &QAction::triggered, this, &HalvorenCommands::toggleCompose);

    tabMenu = new QMenu(QStringLiteral("Onglet"), window);
    nextTabAction = add(tabMenu, QStringLiteral("Onglet suivant"), shortcuts::nextTab());
    connect(nextTabAction, &QAction::triggered, this, [this] { this->model.selectAdjacentTab(1); });
    previousTabAction
        = add(tabMenu, QStringLiteral("Onglet précédent"), shortcuts::previousTab());
    connect(previousTabAction, &QAction::triggered, this, [this] { this->model.selectAdjacentTab(-1); });
    tabMenu->addSeparator();
    for (int n = 1; n <= 8; ++n) {
        QAction* action = add(tabMenu, QStringLiteral("Onglet %1").arg(n), shortcuts::tabNumber(n));
        connect(action, &QAction::triggered, this, [this, n] { this->model.selectTab(n - 1); });
        numberedTabActions << action;
    }
    lastTabAction = add(tabMenu, QStringLiteral("Dernier onglet"), shortcuts::tabNumber(9));
    // With no tab the index is -1, which selectTab ignores.
    connect(lastTabAction, &QAction::triggered, this, [this] { this->model.selectTab(this->model.tabs().size() - 1); });

    connect(&model, &MacModel::tabsChanged, this, &HalvorenCommands::updateCloseEnabled);
    connect(&model, &MacModel::activeTabIDChanged, this, &HalvorenCommands::updateCloseEnabled);
    updateCloseEnabled();
}

QAction* HalvorenCommands::add(QMenu* menu, const QString& title, const QKeySequence& key)
{
    QAction* action = menu->addAction(title);
    action->setShortcut(key);
    // On the window as well as in the menu: the shortcut then answers while any widget of
    // the window has the focus, whether or not the menu bar is shown.
    action->setShortcutContext(Qt::WindowShortcut);
    window->addAction(action);
    return action;
}

QList<QAction*> HalvorenCommands::actions() const
{
    QList<QAction*> all;
    for (const QMenu* menu : {fileMenu, viewMenu, tabMenu}) {
        for (QAction* action : menu->actions()) {
            if (!action->isSeparator())
                all << action;
        }
    }
    return all;
}

void HalvorenCommands::showServers()
{
    Q_EMIT AppBus::shared().showServers();
}

void HalvorenCommands::toggleSidebar()
{
    Q_EMIT AppBus::shared().toggleSidebar();
}

void HalvorenCommands::closeActiveTab()
{
    if (MacTab* tab = model.activeTab())
        model.closeTab(*tab);
}

void HalvorenCommands::changeFontSize(double delta)
{
    // The model keeps the size within its bounds.
    model.setFontSize(model.fontSize() + delta);
}

void HalvorenCommands::toggleCommands()
{
    model.setCommandsVisible(!model.commandsVisible());
}

void HalvorenCommands::toggleCompose()
{
    model.setComposeVisible(!model.composeVisible());
}

void HalvorenCommands::updateCloseEnabled()
{
    closeTabAction->setEnabled(model.activeTab() != nullptr);
}

} // namespace halvoren

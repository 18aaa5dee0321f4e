// The application's menus: "Fichier" (servers, closing and reopening tabs), "Présentation"
// (text size, sidebar, quick commands, message bar) and "Onglet" (moving between tabs). Each
// item acts on the model at once or posts an in-process notification; the menus keep no
// state of their own.
//
// The keys come from ui/Shortcuts.h, where every text that names one takes it too.
#pragma once

#include "workspace/MacModel.h"

#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QString>

class QAction;
class QMenu;
class QWidget;

namespace halvoren {

class HalvorenCommands : public QObject {
    Q_OBJECT

public:
    // The text size "Taille par défaut" gives back.
    static constexpr double defaultFontSize = 13.0;

    // Builds the three menus with `window` as their parent and puts every action on the window
    // too, so each shortcut works wherever the focus is inside it, the terminal included.
    HalvorenCommands(MacModel& model, QWidget* window);

    MacModel& model;

    QMenu* fileMenu = nullptr;
    QMenu* viewMenu = nullptr;
    QMenu* tabMenu = nullptr;

    QAction* showServersAction = nullptr;
    QAction* closeTabAction = nullptr;
    QAction* reopenTabAction = nullptr;
    QAction* biggerTextAction = nullptr;
    QAction* biggerTextEqualAction = nullptr;
    QAction* smallerTextAction = nullptr;
    QAction* defaultTextAction = nullptr;
    QAction* toggleSidebarAction = nullptr;
    QAction* toggleCommandsAction = nullptr;
    QAction* toggleComposeAction = nullptr;
    QAction* nextTabAction = nullptr;
    QAction* previousTabAction = nullptr;
    // "Onglet 1" … "Onglet 8".
    QList<QAction*> numberedTabActions;
    QAction* lastTabAction = nullptr;

    // Every action of the three menus, separators left out.
    QList<QAction*> actions() const;

    // Menu actions.
    static void showServers();
    static void toggleSidebar();
    void closeActiveTab();
    void changeFontSize(double delta);
    void toggleCommands();
    void toggleCompose();

private:
    QAction* add(QMenu* menu, const QString& title, const QKeySequence& key);
    void updateCloseEnabled();

    QWidget* window;
};

} // namespace halvoren

// One open tab in the tab bar: the connection's colour, a dot when the tab wants attention or
// its process has ended, the title and a close button. A click activates the tab; dragging a
// chip onto another moves it there; the context menu renames, reopens beside or closes.
//
// A chip is known by its tab key and lives as long as a tab with that key is open: the bar
// keeps it across changes of the list, so hover and a rename in progress survive them.
#pragma once

#include "workspace/MacModel.h"
#include "tab/MacTab.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <optional>

class QLabel;
class QMenu;

namespace halvoren {

class CloseButton;
class ConnectionMarker;
class StatusDot;

// Where a drop of plain-text `items` on the tab keyed `targetKey` moves a tab, among tabs keyed
// `tabKeys` in bar order: the dragged tab's position and the position it is moved before.
// Nothing when there is no item, the first item is not an open tab's key, the target is gone
// or the tab is dropped on itself.
struct TabMove {
    qsizetype from = 0;
    qsizetype destination = 0;

    friend bool operator==(const TabMove&, const TabMove&) = default;
};
std::optional<TabMove> tabDropMove(const QStringList& tabKeys, const QStringList& items, const QString& targetKey);

// The chip's tooltip: the tab's subtitle, after the server's name and " — " for a tab of a
// connected server.
QString tabToolTip(const MacModel& model, const MacTab& tab);

class TabChip : public QWidget {
    Q_OBJECT

public:
    // "Fermer l'onglet" and the menu item's key.
    static QString closeToolTip();

    TabChip(MacModel& model, MacTab& tab, QWidget* parent = nullptr);

    MacModel& model;

    const QString& key() const { return tabKey; }
    MacTab* tab() const { return shown.data(); }
    // Shows another tab object of the same key (the list was rebuilt).
    void setTab(MacTab& tab);
    bool active() const { return activeValue; }
    void setActive(bool value);
    bool hover() const { return hoverValue; }
    // Hover as the pointer is now: a sheet or menu the chip opened took the pointer's leave.
    void hoverFromPointer();
    // Reads the title, dot and colours again.
    void refresh();

    // The context menu as it would open now; the caller owns it.
    QMenu* makeMenu(QWidget* parent);
    // Opens the rename sheet with the current title; the sheet while it is open.
    QDialog* beginRename();
    QDialog* renameSheet() const { return renaming.data(); }
    // The text of the rename field, kept while the sheet is open.
    QString newName;

    // Deletes the chip once nothing of it runs: a drag it started may still be under way.
    void discard();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The tab when it is still in the model's list; actions on a closed tab do nothing.
    MacTab* openTab() const;
    QColor foreground() const;

    QString tabKey;
    QPointer<MacTab> shown;
    bool activeValue = false;
    bool hoverValue = false;
    QPointer<QDialog> renaming;
    std::optional<QPoint> pressedAt;
    bool dragged = false;
    bool dragging = false;
    bool discarded = false;

    ConnectionMarker* marker = nullptr;
    StatusDot* dot = nullptr;
    QLabel* title = nullptr;
    CloseButton* closeButton = nullptr;
};

} // namespace halvoren

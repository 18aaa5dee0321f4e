#include "ui/MainView.h"

#include "workspace/MacUpdate.h"
#include "ui/AppBus.h"
#include "ui/CommandsPanel.h"
#include "ui/Icons.h"
#include "ui/OnboardingView.h"
#include "style/Palette.h"
#include "ui/ServersView.h"
#include "ui/Shortcuts.h"
#include "ui/SidebarView.h"
#include "ui/WorkspaceView.h"

#include <QAction>
#include <QEvent>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QSplitter>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

namespace halvoren {

QPalette darkPalette()
{
    QPalette palette;
    const QColor window = paletteColor(0.12, 0.12, 0.14);
    const QColor base = terminalBackground();
    const QColor text(235, 235, 240);
    const QColor muted = mutedTextColor();
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, fieldBackgroundColor());
    palette.setColor(QPalette::ToolTipBase, fieldBackgroundColor());
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, muted);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, fieldBackgroundColor());
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, alertRedColor());
    palette.setColor(QPalette::Light, paletteColor(0.22, 0.22, 0.26));
    palette.setColor(QPalette::Midlight, paletteColor(0.18, 0.18, 0.21));
    palette.setColor(QPalette::Mid, paletteColor(0.14, 0.14, 0.17));
    palette.setColor(QPalette::Dark, paletteColor(0.06, 0.06, 0.07));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::Highlight, accentAmberColor());
    palette.setColor(QPalette::HighlightedText, Qt::black);
    palette.setColor(QPalette::Link, accentAmberColor());
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, muted);
    return palette;
}

MainView::MainView(MacModel& model, MacUpdate& update, QWidget* parent)
    : QWidget(parent), model(model), update(update),
      sidebarValue(model.prefs.sidebarOpen() ? SidebarVisibility::all : SidebarVisibility::detailOnly),
      showOnboardingValue(!model.prefs.onboardingDone())
{
    setPalette(darkPalette());
    setAutoFillBackground(true);
    setMinimumSize(minimumContentSize);

    startModel = [this] { return this->model.start(); };
    startUpdate = [this] { this->update.start(); };

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    const QColor iconColor(225, 225, 230);
    toolbar = new QToolBar(this);
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    // The four controls sit at the trailing end.
    auto* spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);
    serversAction = toolbar->addAction(symbolIcon(u"server.rack", iconColor), QStringLiteral("Serveurs"));
    serversAction->setToolTip(QStringLiteral("Serveurs SSH"));
    connect(serversAction, &QAction::triggered, this, &MainView::presentServers);
    composeAction = toolbar->addAction(symbolIcon(u"text.bubble", iconColor), QStringLiteral("Barre de message"));
    composeAction->setToolTip(shortcuts::withKey(QStringLiteral("Barre de message"), shortcuts::toggleCompose()));
    composeAction->setCheckable(true);
    composeAction->setChecked(model.composeVisible());
    connect(composeAction, &QAction::triggered, this, [this](bool on) { this->model.setComposeVisible(on); });
    connect(&model, &MacModel::composeVisibleChanged, this,
            [this] { composeAction->setChecked(this->model.composeVisible()); });
    commandsAction = toolbar->addAction(symbolIcon(u"bolt", iconColor), QStringLiteral("Commandes"));
    commandsAction->setToolTip(shortcuts::withKey(QStringLiteral("Commandes rapides"), shortcuts::toggleCommands()));
    commandsAction->setCheckable(true);
    commandsAction->setChecked(model.commandsVisible());
    connect(commandsAction, &QAction::triggered, this, [this](bool on) { this->model.setCommandsVisible(on); });
    settingsAction = toolbar->addAction(symbolIcon(u"gearshape", iconColor), QStringLiteral("Réglages"));
    settingsAction->setToolTip(shortcuts::withKey(QStringLiteral("Réglages"), shortcuts::settings()));
    connect(settingsAction, &QAction::triggered, this, &MainView::settingsRequested);
    column->addWidget(toolbar);

    splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setChildrenCollapsible(false);
    // The columns follow the pointer while a handle is dragged.
    splitter->setOpaqueResize(true);
    sidebarView = new SidebarView(model, splitter);
    sidebarView->setMinimumWidth(sidebarMinimumWidth);
    sidebarView->setMaximumWidth(sidebarMaximumWidth);
    workspaceView = new WorkspaceView(model, update, splitter);
    commandsPanel = new CommandsPanel(model, splitter);
    commandsPanel->setMinimumWidth(inspectorMinimumWidth);
    commandsPanel->setMaximumWidth(inspectorMaximumWidth);
    splitter->addWidget(sidebarView);
    splitter->addWidget(workspaceView);
    splitter->addWidget(commandsPanel);
    // A side column closes to width 0 whatever closes it, so its handle stays at the window's
    // edge; dragging it closed is the same as its toggle.
    splitter->setCollapsible(0, true);
    splitter->setCollapsible(1, false);
    splitter->setCollapsible(2, true);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setStretchFactor(2, 0);
    connect(splitter, &QSplitter::splitterMoved, this, &MainView::columnsMoved);
    for (int index = 1; index < splitter->count(); ++index)
        splitter->handle(index)->installEventFilter(this);
    column->addWidget(splitter, 1);

    applySidebar();
    applyInspector();
    connect(&model, &MacModel::commandsVisibleChanged, this, &MainView::applyInspector);

    AppBus& bus = AppBus::shared();
    connect(&bus, &AppBus::showServers, this, &MainView::presentServers);
    connect(&bus, &AppBus::toggleSidebar, this, &MainView::toggleSidebar);
    connect(&bus, &AppBus::connectProfile, this, &MainView::connectProfile);
}

void MainView::setSidebar(SidebarVisibility value)
{
    if (value == sidebarValue)
        return;
    sidebarValue = value;
    applySidebar();
    model.prefs.setSidebarOpen(value != SidebarVisibility::detailOnly);
}

void MainView::toggleSidebar()
{
    setSidebar(sidebarValue == SidebarVisibility::detailOnly ? SidebarVisibility::all : SidebarVisibility::detailOnly);
}

void MainView::applySidebar()
{
    const bool open = sidebarValue != SidebarVisibility::detailOnly;
    setColumnOpen(0, open);
    // A closed column keeps its place at the edge but takes no keyboard focus.
    sidebarView->setEnabled(open);
}

void MainView::applyInspector()
{
    commandsAction->setChecked(model.commandsVisible());
    setColumnOpen(2, model.commandsVisible());
    commandsPanel->setEnabled(model.commandsVisible());
}

void MainView::setColumnOpen(int index, bool open)
{
    const auto openWidth = [](int remembered, int least, int most) { return std::clamp(remembered, least, most); };
    const int sidebarOpenWidth = openWidth(sidebarWidth, sidebarMinimumWidth, sidebarMaximumWidth);
    const int inspectorOpenWidth = openWidth(inspectorWidth, inspectorMinimumWidth, inspectorMaximumWidth);
    if (!splitter->isVisible()) {
        // Not laid out yet: its sizes mean nothing. The side columns keep the widths given
        // here and the workspace takes whatever the window has left.
        const bool sidebarOpen = sidebarValue != SidebarVisibility::detailOnly;
        splitter->setSizes({sidebarOpen ? sidebarOpenWidth : 0, minimumContentSize.width(),
                            model.commandsVisible() ? inspectorOpenWidth : 0});
        return;
    }
    QList<int> sizes = splitter->sizes();
    if (sizes.size() != 3 || (sizes[index] > 0) == open)
        return;
    const int width = open ? (index == 0 ? sidebarOpenWidth : inspectorOpenWidth) : 0;
    // The workspace gives or takes the difference.
    sizes[1] = std::max(0, sizes[1] + sizes[index] - width);
    sizes[index] = width;
    splitter->setSizes(sizes);
}

void MainView::columnsMoved()
{
    // Read while the handle moves: a column is open as soon as it has a width, and what is
    // stored follows what is on screen at every step.
    const QList<int> sizes = splitter->sizes();
    if (sizes.size() != 3)
        return;
    sidebarWidth = sizes[0] > 0 ? sizes[0] : sidebarWidthAtPress;
    inspectorWidth = sizes[2] > 0 ? sizes[2] : inspectorWidthAtPress;
    const SidebarVisibility sidebarNow = sizes[0] > 0 ? SidebarVisibility::all : SidebarVisibility::detailOnly;
    if (sidebarNow != sidebarValue)
        setSidebar(sidebarNow);
    if ((sizes[2] > 0) != model.commandsVisible())
        model.setCommandsVisible(sizes[2] > 0);
}

void MainView::presentServers()
{
    if (serversSheet)
        return;
    serversSheet = new ServersView(model, autoConnectValue, this);
    serversSheet->setWindowModality(Qt::WindowModal);
    serversSheet->setAttribute(Qt::WA_DeleteOnClose);
    // Whatever closes the sheet, a later opening connects nothing by itself.
    connect(serversSheet, &QDialog::finished, this, [this] { autoConnectValue.reset(); });
    serversSheet->open();
}

void MainView::connectProfile(const QString& profileID)
{
    autoConnectValue = profileID.isEmpty() ? std::nullopt : std::optional<QString>(profileID);
    presentServers();
}

void MainView::presentOnboarding()
{
    if (!showOnboardingValue || onboardingSheet)
        return;
    // Not modal: Qt drops the close request of a window that a modal sheet blocks, and the
    // first run could then only be left by killing the program.
    // The window's content and menus wait behind the sheet instead, and closing the window
    // quits as after any last window, storing nothing.
    QWidget* top = window();
    onboardingSheet = new OnboardingView(model, top);
    onboardingSheet->setAttribute(Qt::WA_DeleteOnClose);
    onboardingSheet->setWindowModality(Qt::NonModal);
    auto* menus = qobject_cast<QMainWindow*>(top) != nullptr ? static_cast<QMainWindow*>(top)->menuBar() : nullptr;
    setEnabled(false);
    if (menus != nullptr)
        menus->setEnabled(false);
    connect(onboardingSheet, &QDialog::finished, this, [this, menus = QPointer<QMenuBar>(menus)] {
        showOnboardingValue = false;
        setEnabled(true);
        if (menus)
            menus->setEnabled(true);
    });
    onboardingSheet->show();
}

void MainView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (wasShown)
        return;
    wasShown = true;
    // On the next turn, once the window itself is on screen.
    QMetaObject::invokeMethod(this, &MainView::firstShown, Qt::QueuedConnection);
}

void MainView::firstShown()
{
    // Window managers keep a sheet above its window; without one (or when the window is
    // activated after the sheet opened) the window would cover it and take its keys.
    window()->installEventFilter(this);
    presentOnboarding();
    runStart();
}

bool MainView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress && qobject_cast<QSplitterHandle*>(watched) != nullptr) {
        sidebarWidthAtPress = sidebarWidth;
        inspectorWidthAtPress = inspectorWidth;
    }
    if (watched == window() && event->type() == QEvent::WindowActivate)
        QMetaObject::invokeMethod(this, &MainView::raiseSheets, Qt::QueuedConnection);
    return QWidget::eventFilter(watched, event);
}

void MainView::raiseSheets()
{
    for (QDialog* sheet : {static_cast<QDialog*>(onboardingSheet.data()), static_cast<QDialog*>(serversSheet.data())}) {
        if (sheet != nullptr && sheet->isVisible()) {
            sheet->raise();
            sheet->activateWindow();
        }
    }
}

Task<> MainView::runStart()
{
    QPointer<MainView> self(this);
    co_await startModel();
    if (!self)
        co_return;
    startUpdate();
}

} // namespace halvoren

// The main window's content, its menus and keys, the first-run sheet, the quick commands panel
// (its list, and a command typed into a tab whose terminal records what it is sent), the
// settings window (the text size both ways, the projects folders), and a banner kept in the
// window's own pixels while real shells draw under it.
#include "ui/AppBus.h"
#include "ui/BannerOverlay.h"
#include "ui/CommandsPanel.h"
#include "ui/HalvorenCommands.h"
#include "ui/MainView.h"
#include "ui/OnboardingView.h"
#include "ui/ServersView.h"
#include "ui/SettingsView.h"
#include "ui/SidebarView.h"
#include "ui/WorkspaceView.h"

#include "ViewsWorkspace.h"
#include "app/support/PrivateTmux.h"
#include "app/support/TmuxInstalled.h"
#include "style/VisibleText.h"
#include "tab/TermView.h"
#include "view/qt/FindBar.h"

#include <QAction>
#include <QApplication>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSplitter>
#include <QTest>
#include <QScrollBar>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>
#include <cstdlib>
#include <tuple>

namespace halvoren {
namespace {

using test::settle;
using test::waitUntil;

// `font` at a pixel size when one is given, else at a point size: a font set either way.
QFont sizedLike(QFont font, double points, int pixels)
{
    if (pixels > 0)
        font.setPixelSize(pixels);
    else
        font.setPointSizeF(points);
    return font;
}

struct MainViewFixture : test::ViewsWorkspace, testing::Test {
    std::unique_ptr<MainView> view;
    QStringList calls;

    // Shown, with start-up calls that only note themselves.
    void open(std::function<Task<>()> startModel = {}, bool onboarded = true)
    {
        if (onboarded)
            prefs.setOnboardingDone(true);
        view = std::make_unique<MainView>(model, update);
        view->startModel = startModel ? startModel : [this]() -> Task<> { co_return; };
        view->startUpdate = [this] { calls << QStringLiteral("update"); };
        view->show();
        settle();
    }
    // A closed side column keeps no width; its handle stays at the edge.
    bool columnOpen(int index) const { return view->splitter->sizes().value(index) > 0; }
};

TEST_F(MainViewFixture, SidebarAndCommandsTogglesStoreTheirState)
{
    for (const std::optional<bool> stored : {std::optional<bool>(), std::optional<bool>(false), std::optional<bool>(true)}) {
        stored ? prefs.setSidebarOpen(*stored) : store.remove(Prefs::sidebarOpenKey);
        const bool first = stored.value_or(true);
        open();
        EXPECT_EQ(columnOpen(0), first);
        for (const bool expected : {!first, first}) {
            Q_EMIT AppBus::shared().toggleSidebar();
            EXPECT_TRUE(columnOpen(0) == expected && store.boolValue(Prefs::sidebarOpenKey) == expected);
        }
    }
    model.setCommandsVisible(true);
    view->commandsAction->trigger();
    EXPECT_EQ(store.boolValue(Prefs::rightSidebarOpenKey), std::optional<bool>(false));
    EXPECT_FALSE(columnOpen(2) || model.commandsVisible());
    model.setCommandsVisible(true);
    EXPECT_TRUE(view->commandsAction->isChecked()) << "the toolbar follows the menu";
}

TEST_F(MainViewFixture, ConnectProfileOpensTheServersSheetWithThatProfileOnce)
{
    open();
    Q_EMIT AppBus::shared().connectProfile(QStringLiteral("p42"));
    const ServersView* first = view->serversSheet;
    ASSERT_TRUE(first && first->autoConnect == QStringLiteral("p42"));
    Q_EMIT AppBus::shared().showServers();
    EXPECT_EQ(view->serversSheet, first) << "asked again while it shows";
    view->serversSheet->reject();
    settle();
    view->serversAction->trigger();
    ASSERT_TRUE(view->serversSheet && !view->serversSheet->autoConnect);
}

TEST_F(MainViewFixture, TheUpdateCheckStartsOnlyOnceTheModelHasStarted)
{
    // The model's start-up waits for this timer, which the test fires when it chooses.
    QTimer gate;
    gate.start(std::chrono::hours(1));
    open([&]() -> Task<> {
        calls << QStringLiteral("model");
        co_await gate;
        calls << QStringLiteral("model done");
    });
    EXPECT_EQ(calls.size(), 1);
    gate.start(0);
    settle();
    EXPECT_EQ(calls.join(u','), QStringLiteral("model,model done,update"));
    // A view gone while the model starts starts nothing after it.
    gate.start(std::chrono::hours(1));
    open([&]() -> Task<> { co_await gate; });
    view.reset();
    gate.start(0);
    settle();
    EXPECT_EQ(calls.size(), 3);
}

struct MenuFixture : test::ViewsWorkspace, testing::Test {
    QMainWindow window;
    HalvorenCommands commands{model, &window};
    void openTabs()
    {
        for (const char* name : {"/p/a", "/p/b", "/p/c"})
            open(local(), QString::fromLatin1(name));
    }
};

TEST_F(MenuFixture, CloseIsEnabledOnlyWhileATabIsActive)
{
    // Nothing to select, nothing to reopen.
    commands.lastTabAction->trigger();
    commands.nextTabAction->trigger();
    commands.reopenTabAction->trigger();
    EXPECT_FALSE(model.activeTabID().has_value() || !model.tabs().isEmpty());
    MacTab& tab = open(local(), QStringLiteral("/p/web"));
    EXPECT_FALSE(commands.closeTabAction->isEnabled()) << "a tab that is not active";
    model.activate(tab);
    EXPECT_TRUE(commands.closeTabAction->isEnabled());
    commands.closeTabAction->trigger();
    EXPECT_FALSE(!model.tabs().isEmpty() || commands.closeTabAction->isEnabled());
}

TEST_F(MenuFixture, TextSizeAndTabActionsFromWhereTheyStart)
{
    // Text size: the size before, the action, the size after (and stored).
    for (const auto& [start, action, expected] :
         {std::tuple{28.0, commands.biggerTextAction, 28.0}, {28.0, commands.biggerTextEqualAction, 28.0},
          {9.0, commands.smallerTextAction, 9.0}, {20.0, commands.defaultTextAction, 13.0},
          {13.0, commands.biggerTextEqualAction, 14.0}, {13.0, commands.smallerTextAction, 12.0}}) {
        SCOPED_TRACE(testing::Message() << action->text().toStdString() << " at " << start);
        model.setFontSize(start);
        action->trigger();
        EXPECT_EQ(model.fontSize(), expected);
        EXPECT_EQ(store.numberValue(Prefs::fontSizeKey), expected);
    }
    // With three tabs: the tab active before, the action, the tab active after.
    openTabs();
    const auto& number = commands.numberedTabActions;
    for (const auto& [start, action, expected] :
         {std::tuple{0, number[2], 2}, {0, commands.lastTabAction, 2}, {0, number[3], 0}, {1, number[7], 1},
          {2, number[0], 0}, {0, commands.nextTabAction, 1}, {2, commands.nextTabAction, 0},
          {0, commands.previousTabAction, 2}}) {
        SCOPED_TRACE(testing::Message() << action->text().toStdString() << " from " << start);
        model.activate(*model.tabs().at(start));
        action->trigger();
        EXPECT_EQ(activeIndex(), expected);
    }
}

// A tab terminal that keeps what it would send to its program.
struct RecordingTerm : TermView {
    using TermView::TermView;
    QByteArray sent;
    void send(corvantix::TerminalView&, std::span<const std::uint8_t> data) override
    {
        sent.append(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
    }
};

TEST_F(MenuFixture, ShellControlKeysReachTheTerminalAndOurKeysWorkBesideIt)
{
    openTabs();
    model.activate(*model.tabs().front());
    auto* terminal = new RecordingTerm(QRect(0, 0, 400, 300));
    window.setCentralWidget(terminal);
    window.show();
    window.activateWindow();
    terminal->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_EQ(QApplication::focusWidget(), terminal);
    // A plain Ctrl letter the shell uses gets to the program as its control byte.
    for (const auto& [key, byte] : {std::pair{Qt::Key_C, 0x03}, {Qt::Key_D, 0x04}, {Qt::Key_W, 0x17}, {Qt::Key_T, 0x14}}) {
        terminal->sent.clear();
        QTest::keyClick(terminal, key, Qt::ControlModifier);
        EXPECT_EQ(terminal->sent, QByteArray(1, char(byte))) << QKeySequence(Qt::CTRL | key).toString().toStdString();
    }
    // Keys of the menus act while the terminal has the focus, and the terminal sees none of them.
    // Each toggle stores its new state; twice gives the first one back.
    terminal->sent.clear();
    for (const auto& [key, visible, stored] :
         {std::tuple(Qt::Key_D, &MacModel::commandsVisible, Prefs::rightSidebarOpenKey),
          std::tuple(Qt::Key_M, &MacModel::composeVisible, Prefs::composeBarVisibleKey)}) {
        const bool before = (model.*visible)();
        for (const bool expected : {!before, before}) {
            QTest::keyClick(terminal, key, Qt::ControlModifier | Qt::ShiftModifier);
            EXPECT_EQ((model.*visible)(), expected) << stored.toStdString();
            EXPECT_EQ(store.boolValue(stored), expected) << stored.toStdString();
        }
    }
    QTest::keyClick(terminal, Qt::Key_9, Qt::AltModifier);
    EXPECT_EQ(activeIndex(), 2);
    EXPECT_TRUE(terminal->sent.isEmpty()) << terminal->sent.toHex().toStdString();
}

struct OnboardingFixture : test::ViewsWorkspace, testing::Test {
    // Answers of the folder chooser in turn; an empty one cancels.
    QStringList answers;
    OnboardingFixture()
    {
        chooseFolderReplacement() = [this]() -> std::optional<QString> {
            const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
            return answer.isEmpty() ? std::nullopt : std::optional<QString>(answer);
        };
    }
    ~OnboardingFixture() override { chooseFolderReplacement() = nullptr; }
};

TEST_F(OnboardingFixture, ReturnWithoutRootsStoresHomeProjetsAndListsIt)
{
    const QString root = folder.path() + QStringLiteral("/projets");
    folders[root] = QStringList{QStringLiteral("web")};
    prefs.setProjectsRoots({});
    OnboardingView sheet(model);
    sheet.open();
    QTest::keyClick(&sheet, Qt::Key_Escape);
    sheet.close();
    settle();
    ASSERT_TRUE(sheet.isVisible()) << "no way out but Commencer";
    sheet.chooseButton->setFocus();
    QTest::keyClick(&sheet, Qt::Key_Return);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(store.stringListValue(Prefs::projectsRootsKey), QStringList{root});
    EXPECT_TRUE(store.boolValue(Prefs::onboardingDoneKey).value_or(false));
    settle();
    ASSERT_EQ(local().projects().size(), 1);
    EXPECT_EQ(local().projects().front().path, root + QStringLiteral("/web"));
}

TEST_F(OnboardingFixture, AChosenFolderIsKeptOnCancelAndBecomesTheOnlyRoot)
{
    prefs.setProjectsRoots({QStringLiteral("/old/one"), QStringLiteral("/old/two")});
    answers = {QStringLiteral("/data/work"), QString()};
    OnboardingView sheet(model);
    EXPECT_EQ(sheet.rootLabel->text(), QStringLiteral("/old/one"));
    sheet.open();
    sheet.chooseButton->click();
    sheet.chooseButton->click();
    EXPECT_EQ(sheet.rootLabel->text(), QStringLiteral("/data/work"));
    sheet.beginButton->click();
    EXPECT_EQ(prefs.projectsRoots(), QStringList{QStringLiteral("/data/work")});
}

SavedCommand cmd(const char* label, const char* command) { return {QString::fromUtf8(label), QString::fromUtf8(command)}; }

// "label|command" of every entry, comma-separated.
std::string entries(const QList<SavedCommand>& list)
{
    QStringList texts;
    for (const SavedCommand& c : list)
        texts << c.label + u'|' + c.command;
    return texts.join(u',').toStdString();
}

TEST(QuickCommands, SavingReplacesOrAppendsAndMovingKeepsTheMovedTogether)
{
    const QList<SavedCommand> two{cmd("a", "x"), cmd("b", "y")};
    for (const auto& [editing, label, command, expected] :
         {std::tuple<std::optional<qsizetype>, const char*, const char*, const char*>{std::nullopt, "", "ls -la",
                                                                                   "a|x,b|y,ls -la|ls -la"},
          {std::nullopt, "c", "", "a|x,b|y"}, {0, "", "", "|,b|y"}, {1, " B ", " y", "a|x, B | y"},
          {5, "c", "z", "a|x,b|y,c|z"}, {2, "c", "", "a|x,b|y"}})
        EXPECT_EQ(entries(savedCommands(two, editing, QString::fromUtf8(label), QString::fromUtf8(command))), expected);
    const QList<SavedCommand> four{cmd("a", ""), cmd("b", ""), cmd("c", ""), cmd("d", "")};
    for (const auto& [sources, destination, expected] :
         {std::tuple<QList<qsizetype>, qsizetype, const char*>{{2}, 0, "c|,a|,b|,d|"}, {{0}, 4, "b|,c|,d|,a|"},
          {{0}, 2, "b|,a|,c|,d|"}, {{3, 0}, 2, "b|,a|,d|,c|"}, {{9}, 0, "a|,b|,c|,d|"}, {{1}, 99, "a|,c|,d|,b|"}})
        EXPECT_EQ(entries(movedCommands(four, sources, destination)), expected);
}

struct Panel : test::ViewsWorkspace, testing::Test {
    CommandsPanel panel{model};
};

// Qt's warnings while one is alive, kept for the test to read.
class WarningLog {
public:
    WarningLog()
    {
        texts().clear();
        previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtWarningMsg)
                texts() << text;
        });
    }
    ~WarningLog() { qInstallMessageHandler(previous); }
    WarningLog(const WarningLog&) = delete;
    WarningLog& operator=(const WarningLog&) = delete;
    static QStringList& texts()
    {
        static QStringList kept;
        return kept;
    }

private:
    QtMessageHandler previous = nullptr;
};

TEST(CommandsPanelHeader, IsOneSizeDownInTheUnitOfTheApplicationsFont)
{
    const QFont saved = QApplication::font();
    const struct { double points; int pixels; double headerPoints; int headerPixels; } fonts[] = {
        {-1, 13, -1, 12}, {11.5, -1, 10.5, -1}};
    for (const auto& given : fonts) {
        QApplication::setFont(sizedLike(saved, given.points, given.pixels));
        WarningLog warnings;
        test::ViewsWorkspace workspace;
        CommandsPanel panel(workspace.model);
        const QLabel* header = nullptr;
        for (const QLabel* label : panel.findChildren<QLabel*>())
            header = label->text() == QStringLiteral("Commandes rapides") ? label : header;
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(header->font().pixelSize(), given.headerPixels);
        EXPECT_DOUBLE_EQ(header->font().pointSizeF(), given.headerPoints);
        EXPECT_TRUE(WarningLog::texts().isEmpty()) << WarningLog::texts().join(u'\n').toStdString();
    }
    QApplication::setFont(saved);
}

TEST_F(Panel, DraggingTheThirdAboveTheFirstIsKeptAcrossARestartAndARunTypesItIntoTheActiveTab)
{
    model.setCommands({cmd("a", "x"), cmd("b", "y"), cmd("Liste", "ls -la")});
    // What the list does on a drop of its third row above its first.
    ASSERT_TRUE(panel.list()->model()->moveRow(QModelIndex(), 2, QModelIndex(), 0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.commands().front().label == QStringLiteral("Liste"); }, 5000));
    EXPECT_EQ(entries(MacModel(prefs, nullptr, &notifier).commands()), "Liste|ls -la,a|x,b|y");
    MacTab& tab = open(local(), MacProject{QStringLiteral("p"), folder.path(), QStringLiteral("kq-p")});
    tab.terminal->startProcess("/bin/sh", {"-c", "stty raw -echo && : > ready && exec cat > typed"},
                               std::vector<std::string>{"PATH=/usr/bin:/bin"}, std::nullopt, folder.path().toStdString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(folder.file(QStringLiteral("ready"))); }, 20000));
    // Without an active tab the rows are disabled and a run sends nothing.
    EXPECT_FALSE(panel.rowRunnable(0));
    panel.run(model.commands().front());
    model.activate(tab);
    EXPECT_TRUE(panel.rowRunnable(0));
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* elsewhere = new QLineEdit(&window);
    layout->addWidget(elsewhere);
    layout->addWidget(tab.terminal);
    window.show();
    // The activation's own focus request comes first.
    QCoreApplication::processEvents();
    elsewhere->setFocus();
    ASSERT_EQ(window.focusWidget(), elsewhere);
    panel.run(model.commands().front());
    EXPECT_EQ(window.focusWidget(), tab.terminal.data());
    EXPECT_TRUE(QTest::qWaitFor([&] { return test::readAll(folder.file(QStringLiteral("typed"))) == "ls -la\r"; }, 20000))
        << test::readAll(folder.file(QStringLiteral("typed"))).toStdString();
    tab.terminal->setParent(nullptr);
    model.removeTab(tab);
}

struct Settings : test::ViewsWorkspace, testing::Test {
    std::unique_ptr<SettingsView> view;
    QStringList chosen;

    void open(const QStringList& roots)
    {
        prefs.setProjectsRoots(roots);
        view = std::make_unique<SettingsView>(model);
        view->chooseFolder = [this]() -> std::optional<QString> {
            return chosen.isEmpty() ? std::nullopt : std::optional(chosen.takeFirst());
        };
    }
    QList<bool> removable() const
    {
        QList<bool> enabled;
        for (const QPushButton* button : view->removeButtons())
            enabled << button->isEnabled();
        return enabled;
    }
};

TEST_F(Settings, TheSliderRoundsTheLabelFollowsTheModelAndTheLastFolderStays)
{
    open({QStringLiteral("/srv/a"), QStringLiteral("/srv/b")});
    view->setSliderValue(17.6);
    EXPECT_EQ(prefs.fontSize(), 18.0);
    EXPECT_EQ(view->sizeLabel()->text(), QStringLiteral("18 pt"));
    // Sizes set from the menus, clamped by the model; the label cuts to whole points.
    for (const auto& [size, text] : {std::pair{22.0, "22 pt"}, {40.0, "28 pt"}, {13.0, "13 pt"}}) {
        model.setFontSize(size);
        EXPECT_EQ(view->sizeLabel()->text().toStdString(), text);
        EXPECT_EQ(view->sizeSlider()->value(), int(size > 28 ? 28 : size));
    }
    EXPECT_EQ(fontSizeText(17.6), QStringLiteral("17 pt"));
    EXPECT_TRUE(view->versionLabel()->text().endsWith(QStringLiteral(" (%1)").arg(bundleBuild())));
    // The last projects folder cannot be removed; adding shows the stored list.
    EXPECT_EQ(removable(), (QList<bool>{true, true}));
    view->removeButtons().front()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->roots.size() == 1; }, 5000));
    EXPECT_EQ(prefs.projectsRoots(), QStringList{QStringLiteral("/srv/b")});
    EXPECT_EQ(removable(), QList<bool>{false});
    // Already there, new, then cancelled.
    chosen = {QStringLiteral("/srv/b"), QStringLiteral("/srv/c")};
    for (int i = 0; i < 3; ++i)
        QCoro::waitFor(view->addRoot());
    EXPECT_EQ(view->roots, (QStringList{QStringLiteral("/srv/b"), QStringLiteral("/srv/c")}));
    EXPECT_EQ(prefs.projectsRoots(), view->roots);
    EXPECT_EQ(removable(), (QList<bool>{true, true}));
}

// More folders than the window holds: each row keeps its height and the list scrolls, under
// sections that stay whole.
TEST_F(Settings, ManyFoldersKeepTheirHeightAndScroll)
{
    QStringList roots;
    for (int i = 1; i <= 12; ++i)
        roots << QStringLiteral("/srv/projets-%1").arg(i, 2, 10, QChar(u'0'));
    open(roots);
    view->show();
    QCoreApplication::processEvents();
    QScrollArea* list = view->rootsList();
    const QList<QPushButton*> buttons = view->removeButtons();
    ASSERT_EQ(buttons.size(), 12);
    int below = 0;
    for (const QPushButton* button : buttons) {
        const QWidget* row = button->parentWidget();
        EXPECT_EQ(row->height(), row->sizeHint().height());
        EXPECT_GE(button->height(), button->sizeHint().height());
        EXPECT_GE(row->y(), below) << "rows overlap";
        below = row->y() + row->height();
    }
    EXPECT_EQ(list->widget()->height(), list->widget()->sizeHint().height());
    ASSERT_GT(list->verticalScrollBar()->maximum(), 0);
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
    const QWidget* last = buttons.last()->parentWidget();
    EXPECT_TRUE(list->viewport()->rect().contains(QRect(last->mapTo(list->viewport(), QPoint(0, 0)), last->size())));
    // What follows the list is whole in the window, below it.
    const QRect listed(list->mapTo(view.get(), QPoint(0, 0)), list->size());
    for (const QWidget* after : {static_cast<QWidget*>(view->sizeSlider()), static_cast<QWidget*>(view->versionLabel())}) {
        const QRect shown(after->mapTo(view.get(), QPoint(0, 0)), after->size());
        EXPECT_TRUE(view->rect().contains(shown) && shown.top() >= listed.bottom());
        EXPECT_GE(shown.height(), after->sizeHint().height());
    }
}

TEST_F(Settings, TheSizeIsInFixedPitchDigitsAtTheApplicationsSizeInItsOwnUnit)
{
    const WarningLog warnings;
    const QFont saved = QApplication::font();
    const struct { double points; int pixels; } fonts[] = {{-1, 13}, {11.5, -1}};
    for (const auto& given : fonts) {
        QApplication::setFont(sizedLike(saved, given.points, given.pixels));
        open({QStringLiteral("/srv/a")});
        const QFont shown = view->sizeLabel()->font();
        EXPECT_EQ(shown.pixelSize(), given.pixels);
        EXPECT_DOUBLE_EQ(shown.pointSizeF(), given.points);
        EXPECT_TRUE(QFontInfo(shown).fixedPitch()) << QFontInfo(shown).family().toStdString();
    }
    QApplication::setFont(saved);
    // A pixel-sized font has no point size: asking for one of -1 is refused with a warning.
    EXPECT_TRUE(WarningLog::texts().isEmpty()) << WarningLog::texts().join(u'\n').toStdString();
}

// ---- A banner over the terminal, in the pixels the window shows

// The window as its backing store holds it: what the screen shows, not what its widgets would
// draw now.
QImage shownWindow(QWidget& window)
{
    return window.screen()->grabWindow(window.winId()).toImage();
}

QColor pixelAt(const QImage& image, QPoint point)
{
    return image.pixelColor((QPointF(point) * image.devicePixelRatio()).toPoint());
}

bool alike(const QColor& a, const QColor& b)
{
    const int tolerance = 6;
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

// The window shows the banner at its centre: the colour its widgets draw there, which is not
// the terminal's colour just above the capsule. Checking the widget alone (visible, on top,
// grabbed) passes even when the window's pixels lost it.
testing::AssertionResult bannerShown(QWidget& window, const QWidget& banner)
{
    if (banner.isHidden())
        return testing::AssertionFailure() << "no banner";
    const QImage shown = shownWindow(window);
    const QImage drawn = window.grab().toImage();
    const QPoint centre = banner.mapTo(&window, banner.rect().center());
    const QColor seen = pixelAt(shown, centre), expected = pixelAt(drawn, centre);
    const QColor outside = pixelAt(drawn, banner.mapTo(&window, QPoint(banner.width() / 2, -4)));
    if (alike(expected, outside))
        return testing::AssertionFailure() << "the banner draws nothing of its own at its centre";
    if (!alike(seen, expected))
        return testing::AssertionFailure() << "the window shows " << seen.name().toStdString() << " where the banner draws "
                                           << expected.name().toStdString() << " (the terminal there: "
                                           << outside.name().toStdString() << ')';
    return testing::AssertionSuccess();
}

// Whether the window shows text (a light pixel) in the first cells of the terminal's `row`.
bool textShownInRow(QWidget& window, const TermView& terminal, int row)
{
    const auto cell = terminal.cellDimension;
    if (!cell)
        return false;
    const QImage shown = shownWindow(window);
    const int top = static_cast<int>(row * cell->height);
    for (int y = top; y < top + static_cast<int>(cell->height); ++y) {
        for (int x = 0; x < static_cast<int>(3 * cell->width); ++x) {
            const QColor c = pixelAt(shown, terminal.mapTo(&window, QPoint(x, y)));
            if (std::max({c.red(), c.green(), c.blue()}) > 110)
                return true;
        }
    }
    return false;
}

// The main view, shown, over tabs running real /bin/sh, with banners that stay until cleared.
struct BannerOverTerminal : test::PaneWorkspace, testing::Test {
    std::unique_ptr<MainView> view;

    BannerOverTerminal()
    {
        model.clock = std::make_shared<test::ManualClock>();
        prefs.setOnboardingDone(true);
        view = std::make_unique<MainView>(model, update);
        view->startModel = []() -> Task<> { co_return; };
        view->startUpdate = [] {};
        view->resize(1000, 640);
        view->show();
        settle();
    }
    const BannerOverlay& banner() const { return *view->workspaceView->banner; }
    // The banner set and seen in the window's pixels.
    void showBanner(const QString& text)
    {
        model.setBanner(text);
        settle();
        ASSERT_TRUE(bannerShown(*view, banner()));
    }
    // The tab made active and started; true once the window shows the shell's prompt.
    bool openWithPrompt(MacTab& tab)
    {
        model.activate(tab);
        tab.start();
        return waitUntil([&] { return tab.terminal && textShownInRow(*view, *tab.terminal, 0); }, 20000);
    }
};

TEST_F(BannerOverTerminal, StaysInTheWindowWhenATabOpensUnderItAndShowsItsPrompt)
{
    ASSERT_NO_FATAL_FAILURE(showBanner(QStringLiteral("Dossier introuvable : /srv/ailleurs")));
    MacTab& tab = add(local(), QStringLiteral("prompt"));
    model.activate(tab);
    settle();
    // A login message that reaches past the banner, once (the login shell starts another),
    // and the first prompt under it.
    const int lines = tab.terminal->getTerminal().rows() - 3;
    ASSERT_GT(lines, 10);
    test::writeAll(folder.file(QStringLiteral(".profile")),
                   QStringLiteral("[ -n \"$HV_MOTD\" ] || { export HV_MOTD=1; seq 1 %1; }\n").arg(lines).toUtf8());
    tab.start();
    ASSERT_TRUE(waitUntil([&] {
        const std::string screen = corvantix::testing::screenText(tab.terminal->getTerminal());
        const int promptRow = tab.terminal->getTerminal().buffer().y();
        // The prompt ("$ ", or "# " for root) on the line after the message's last.
        const std::string last = '\n' + std::to_string(lines) + '\n';
        const size_t end = screen.rfind(last);
        return end != std::string::npos && screen.find_first_of("$#", end) == end + last.size()
            && textShownInRow(*view, *tab.terminal, promptRow);
    })) << corvantix::testing::screenText(tab.terminal->getTerminal());
    settle();
    EXPECT_TRUE(bannerShown(*view, banner()));
}

TEST_F(BannerOverTerminal, StaysInTheWindowWhenTheTerminalUnderItIsCleared)
{
    MacTab& tab = add(local(), QStringLiteral("clear"));
    ASSERT_TRUE(openWithPrompt(tab));
    // Text on every row, under the banner too; then the screen cleared but for a mark.
    ASSERT_TRUE(startWith(tab, QStringLiteral("seq 1 200")));
    const int row = 3;
    ASSERT_TRUE(waitUntil([&] { return textShownInRow(*view, *tab.terminal, row); }));
    ASSERT_NO_FATAL_FAILURE(showBanner(QStringLiteral("Fichier illisible : notes.txt")));
    tab.terminal->send(std::string_view("clear; printf 'clea%s\\n' red\r"));
    ASSERT_TRUE(waitUntil([&] {
        return output.value(&tab).contains(QStringLiteral("cleared")) && !textShownInRow(*view, *tab.terminal, row);
    })) << corvantix::testing::screenText(tab.terminal->getTerminal());
    settle();
    EXPECT_TRUE(bannerShown(*view, banner()));
}

// The terminal's find bar moves along its right edge when the sidebar closes, while the
// terminal, wider, is drawn again.
TEST_F(BannerOverTerminal, StaysInTheWindowWhenTheTerminalsFindBarMoves)
{
    MacTab& tab = add(local(), QStringLiteral("find"));
    ASSERT_TRUE(openWithPrompt(tab));
    tab.terminal->showFindBar(false);
    ASSERT_NO_FATAL_FAILURE(showBanner(QStringLiteral("Fichier illisible : notes.txt")));
    const QWidget& bar = *tab.terminal->findBar;
    const QPoint before = bar.pos();
    Q_EMIT AppBus::shared().toggleSidebar();
    ASSERT_TRUE(waitUntil([&] { return bar.pos() != before; }));
    settle();
    EXPECT_TRUE(bannerShown(*view, banner()));
}

// Ctrl held over a second link after the window grew taller: the preview of the target, at
// the terminal's bottom left and clear of the banner, moves without changing its size, while
// the terminal redraws the two links' rows under the banner in the same frame (as when its
// redraw falls due with the pointer's move). The banner stays in the window's pixels.
TEST_F(BannerOverTerminal, StaysInTheWindowWhenALinksPreviewMovesAsTheTerminalDrawsUnderIt)
{
    MacTab& tab = add(local(), QStringLiteral("links"));
    ASSERT_TRUE(openWithPrompt(tab));
    TermView& terminal = *tab.terminal;
    ASSERT_NO_FATAL_FAILURE(showBanner(QStringLiteral("Fichier illisible : notes.txt")));
    const auto inWindow = [&](const QWidget& widget) { return QRect(widget.mapTo(view.get(), QPoint(0, 0)), widget.size()); };
    const double cell = terminal.cellDimension->height;
    const int grow = static_cast<int>(std::ceil(cell));
    // The row under the banner's middle once the window is taller: the second link's; the
    // first is on the row above. Both go to one target, so the preview keeps its size.
    const int row = static_cast<int>((inWindow(banner()).center().y() + grow - inWindow(terminal).top()) / cell);
    ASSERT_GT(row, 2);
    const std::string link = "\x1b]8;;https://example.org/\x1b\\";
    terminal.feedText("\x1b[" + std::to_string(row) + "Hone " + link + "one\x1b]8;;\x1b\\\x1b[" + std::to_string(row + 1)
                      + "Htwo " + link + "two\x1b]8;;\x1b\\");
    const auto hover = [&](int onRow) {
        const QPointF point(5.5 * terminal.cellDimension->width, (onRow + 0.5) * cell);
        QMouseEvent move(QEvent::MouseMove, point, terminal.mapToGlobal(point), Qt::NoButton, Qt::NoButton, Qt::ControlModifier);
        QCoreApplication::sendEvent(&terminal, &move);
    };
    // Ctrl down (the left Control key, X keycode 37), then the pointer on the first link.
    QKeyEvent ctrl(QEvent::KeyPress, Qt::Key_Control, Qt::NoModifier, 37, 0, 0);
    QCoreApplication::sendEvent(&terminal, &ctrl);
    hover(row - 1);
    const QLabel* preview = terminal.findChild<QLabel*>(QStringLiteral("urlPreview"));
    ASSERT_TRUE(preview && preview->isVisible());
    settle();
    const QRect before = inWindow(*preview);
    view->resize(view->width(), view->height() + grow);
    settle();
    ASSERT_EQ(inWindow(*preview), before);
    ASSERT_TRUE(bannerShown(*view, banner()));
    hover(row);
    terminal.updateDisplayNow();
    const QRect after = inWindow(*preview);
    ASSERT_EQ(after.size(), before.size());
    ASSERT_NE(after.topLeft(), before.topLeft());
    // Qt copies no pixels for a move that a widget above overlaps: kept clear of the banner,
    // the preview's move is one it would copy.
    ASSERT_FALSE(before.intersects(inWindow(banner())) || after.intersects(inWindow(banner())));
    settle();
    EXPECT_TRUE(bannerShown(*view, banner()));
}

// At start-up, with no tmux server running: the saved tabs are made again on this computer,
// all but one whose folder is gone, which the banner says while the others open under it.
TEST(BannerAtStartUp, TheRefusalOfAGoneFolderStaysInViewWhileTheOtherSavedTabsOpen)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::PrivateTmux host;
    QList<PersistedTab> saved;
    for (const char* name : {"web", "parti", "api"}) {
        const QString path = host.folder(QLatin1String(name));
        saved << PersistedTab{QLatin1String(name), path, tmuxSessionName(path)};
    }
    ASSERT_TRUE(QDir(saved[1].path).removeRecursively());
    test::TabViewsWorkspace w(host.file(QStringLiteral("preferences.json")), true);
    w.prefs.setOnboardingDone(true);
    w.prefs.setProjectsRoots({host.home()});
    w.prefs.setTabs(MacConnection::localID, saved);
    w.prefs.setActiveTab(1);
    MainView view(w.model, w.update);
    view.startUpdate = [] {};
    view.resize(1000, 640);
    // Showing it starts the model.
    view.show();
    const BannerOverlay& banner = *view.workspaceView->banner;
    const QString refusal = visibleText(folderRefusalMessage(FolderRefusal::missing, saved[1].path));
    ASSERT_TRUE(refusal.startsWith(QStringLiteral("Dossier introuvable : ")));
    const auto refused = [&] { return w.model.banner() == refusal; };
    ASSERT_TRUE(waitUntil(refused, 30000)) << w.model.banner().value_or(QString()).toStdString();
    // Sampled at every turn of the event loop from the first time it is seen until the tabs
    // showed their prompts and a little after.
    ASSERT_TRUE(waitUntil([&] { return bannerShown(view, banner); }));
    int samples = 0, shown = 0, after = 0;
    const auto settled = [&] {
        const MacTab* active = w.model.activeTab();
        return w.model.tabs().size() == 2 && active && active->terminal
            && textShownInRow(view, *active->terminal, 0);
    };
    EXPECT_TRUE(waitUntil([&] {
        ++samples;
        shown += bannerShown(view, banner) ? 1 : 0;
        return refused() && settled() && ++after > 20;
    }, 30000)) << w.tabNames().toStdString();
    EXPECT_TRUE(refused());
    EXPECT_GE(shown * 10, samples * 9) << shown << " of " << samples << " samples show the banner";
}

} // namespace
} // namespace halvoren

// Long names and paths, in any script, in every view that shows one: the workspace pane's views
// and the sidebar in the default and the smallest window, each sheet at its own size. No control
// leaves the view or is drawn over another, and every label shows its text whole or shortened
// with "…" where it reads last, never cut by its edge.
#include "ui/BannerOverlay.h"
#include "ui/CommandsPanel.h"
#include "ui/ConnectSheet.h"
#include "ui/OnboardingView.h"
#include "ui/ProjectRow.h"
#include "ui/SessionPicker.h"
#include "ui/SettingsView.h"
#include "ui/SidebarView.h"
#include "ui/StatusBars.h"
#include "ui/TerminalHost.h"
#include "ui/WorkspaceView.h"
#include "view/qt/FindBar.h"
#include "view/qt/TerminalView.h"
#include "style/VisibleText.h"

#include "LayoutChecks.h"
#include "ViewsWorkspace.h"

#include <QCheckBox>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QStyleOptionViewItem>
#include <QScrollArea>
#include <QToolButton>

#include <functional>
#include <memory>
#include <span>

namespace halvoren {
namespace {

using test::expectControlsInViewApart;
using test::expectLabelWholeOrShortened;
using test::expectLabelsWholeOrShortened;
using test::settle;

QString repeatedTo(const QString& source, int length)
{
    QString text;
    while (text.size() < length)
        text += source;
    return text.left(length);
}

struct Name {
    const char* label;
    QString text;
};

const Name names[] = {
    {"Latin", repeatedTo(QStringLiteral("un-projet-au-nom-vraiment-très-long-pour-voir-la-coupure-"), 120)},
    {"CJK", repeatedTo(QStringLiteral("見つからない長いプロジェクト名"), 120)},
    {"Arabic", repeatedTo(QStringLiteral("أولا أبدا أيضا "), 120)},
};

// The window at its default size and at its smallest; what the workspace pane, its terminal and
// a sidebar row get of it (the sidebar and the quick commands shown). A sheet is a window of its
// own, as wide as it is made and as tall as its content: the main window's size is nothing to it.
struct Size {
    const char* label;
    QSize window, pane;
    int sidebar;
};
const Size sizes[] = {
    {"default window", {1400, 880}, {930, 840}, 250},
    {"smallest window", {760, 482}, {280, 440}, 200},
};
const Size sheetSize[] = {{"its own size", {}, {}, 0}};

struct Shown {
    QWidget* top;    // what the area is measured in
    QWidget* scope;  // the controls looked at
    QRect area;
};

struct LongNames : test::TabViewsWorkspace, testing::Test {
    LongNames() { SSHLink::setProgramForTests(QStringLiteral("/bin/false")); }
    ~LongNames() override { SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh")); }

    std::vector<std::unique_ptr<QWidget>> made;

    // A sheet at the size it opens with.
    Shown sheet(QWidget* view)
    {
        made.emplace_back(view);
        view->show();
        settle();
        view->adjustSize();
        settle();
        return {view, view, view->rect()};
    }

    // The workspace pane with an active tab on a server named `name` that no longer answers,
    // a banner naming a folder of that name, and the find bar open on it.
    WorkspaceView* pane(const QString& name, const Size& size)
    {
        MacConnection& connection = connect(MacProfile{QStringLiteral("p"), name, {}, 22, {}, {}});
        connection.setUnreachable(true);
        MacTab& tab = open(connection, MacProject{name, QStringLiteral("/srv/") + name, QStringLiteral("kq")});
        model.activate(tab);
        auto* view = new WorkspaceView(model, update);
        made.emplace_back(view);
        view->resize(size.pane);
        view->show();
        settle();
        model.setBanner(QStringLiteral("Dossier introuvable : /home/moi/") + name);
        if (auto* terminal = view->findChild<corvantix::TerminalView*>()) {
            terminal->showFindBar(false);
            terminal->findBar->searchField->setText(name);
        }
        settle();
        return view;
    }
};

using Build = std::function<Shown(LongNames&, const QString& name, const Size&)>;

struct View {
    const char* label;
    bool sheet;
    Build build;
};

const View views[] = {
    {"session picker", true,
     [](LongNames& w, const QString& name, const Size&) {
         const QDateTime now = w.model.clock->now();
         const PickerRequest request{MacProject{name, QStringLiteral("/srv/") + name, name}, QStringLiteral("local"),
                                     {FolderSession{name, QStringLiteral("/srv/") + name, {}, 0, now, QStringLiteral("zsh")},
                                      FolderSession{name + QStringLiteral("-2"), QStringLiteral("/srv/") + name, {}, 1, now, name}}};
         const Shown shown = w.sheet(new SessionPicker(w.model, request, [] {}, nullptr));
         // Two names alike up to the cut are told apart by the whole name each row carries.
         QStringList tips;
         for (const QLabel* label : shown.top->findChildren<QLabel*>(QStringLiteral("name")))
             tips << label->toolTip();
         EXPECT_EQ(tips, (QStringList{plainToolTip(name), plainToolTip(name + QStringLiteral("-2"))}));
         return shown;
     }},
    {"settings", true,
     [](LongNames& w, const QString& name, const Size&) {
         w.prefs.setProjectsRoots({QStringLiteral("/home/moi/") + name, QStringLiteral("/home/moi/projets")});
         return w.sheet(new SettingsView(w.model));
     }},
    {"first connection", true,
     [](LongNames& w, const QString& name, const Size&) {
         const MacProfile profile{QStringLiteral("p"), QStringLiteral("l'équipe ") + name, QStringLiteral("h"), 22, {}, {}};
         return w.sheet(new ConnectSheet(profile, [](std::shared_ptr<SSHLink>) {}, nullptr));
     }},
    {"onboarding", true,
     [](LongNames& w, const QString& name, const Size&) {
         w.prefs.setProjectsRoots({QStringLiteral("/home/moi/") + name});
         return w.sheet(new OnboardingView(w.model));
     }},
    {"banner", false,
     [](LongNames& w, const QString& name, const Size& size) {
         WorkspaceView* view = w.pane(name, size);
         return Shown{view, view->banner, view->rect()};
     }},
    {"status bar", false,
     [](LongNames& w, const QString& name, const Size& size) {
         WorkspaceView* view = w.pane(name, size);
         return Shown{view, view->statusBars, view->rect()};
     }},
    {"find bar", false,
     [](LongNames& w, const QString& name, const Size& size) {
         WorkspaceView* view = w.pane(name, size);
         auto* terminal = view->findChild<corvantix::TerminalView*>();
         EXPECT_NE(terminal, nullptr);
         if (terminal == nullptr || !terminal->findBar)
             return Shown{view, view, {}};
         corvantix::TerminalFindBarView& bar = *terminal->findBar;
         // Given room, it hides nothing.
         if (&size == &sizes[0]) {
             for (const QWidget* control : std::initializer_list<const QWidget*>{
                      bar.previousButton, bar.nextButton, bar.caseSensitiveButton, bar.regexButton, bar.wholeWordButton})
                 EXPECT_TRUE(control->isVisibleTo(&bar)) << test::describe(control).toStdString() << " hidden";
         }
         return Shown{view, &bar, view->rect()};
     }},
    {"sidebar", false,
     [](LongNames& w, const QString& name, const Size& size) {
         // This computer's long names, one of them unfolded down to an empty sub-folder deep
         // enough that its indent leaves "Aucun sous-dossier" too little room, and one hidden; a
         // server of that name whose projects root, a long word, is missing; and a saved server
         // of that name not connected.
         constexpr int chainDepth = 8;
         QList<MacProject> chain;
         QString path = QStringLiteral("/r/") + name;
         for (int depth = 0; depth < chainDepth; ++depth, path += QStringLiteral("/") + name) {
             chain.append(MacProject{name, path, QStringLiteral("kq") + QString::number(depth)});
             w.local().insertExpanded(path);
             w.local().storeSubprojects(path, {});
             if (depth > 0)
                 w.local().storeSubprojects(chain[depth - 1].path, {chain.back()});
         }
         const MacProject hidden{name + QStringLiteral("-2"), QStringLiteral("/r/2"), QStringLiteral("kq-2")};
         w.local().setProjects({chain.front(), hidden});
         w.local().setHidden({hidden.name});
         MacConnection& server = w.server(QStringLiteral("far"), name,
                                          QStringLiteral("~/Clients_Entreprise_Projets_Backend_Services_2024/") + name);
         w.model.setProfiles({*server.profile, MacProfile{QStringLiteral("away"), name, QStringLiteral("h"), 22, {}, {}}});
         auto* sidebar = new SidebarView(w.model);
         w.made.emplace_back(sidebar);
         sidebar->resize(size.sidebar, size.window.height());
         sidebar->show();
         settle();
         const QScrollArea& scroller = *sidebar->scrollArea();
         EXPECT_LE(scroller.widget()->width(), scroller.viewport()->width()) << "the content is wider than its column";
         const QRect column(scroller.viewport()->mapTo(sidebar, QPoint(0, 0)), scroller.viewport()->size());
         // The rows are painted to their width: whole across the column, their ends in view.
         int rows = 0;
         for (const ProjectRow* row : sidebar->findChildren<ProjectRow*>()) {
             if (!row->isVisibleTo(sidebar))
                 continue;
             ++rows;
             const QRect line = test::rectIn(row->line(), sidebar);
             EXPECT_TRUE(line.left() >= column.left() && line.right() <= column.right())
                 << "row at depth " << row->depth << " runs out of the column";
         }
         EXPECT_EQ(rows, chainDepth);
         // Under the deepest row, indented as deep.
         const auto* noSubfolder = sidebar->findChild<QLabel*>(QStringLiteral("emptySubfolders"));
         EXPECT_TRUE(noSubfolder && noSubfolder->contentsMargins().left() == emptySubfoldersIndent(chainDepth - 1));
         // A server's name is part of its row's button, which the checks take whole.
         for (QLabel* label : sidebar->findChildren<QLabel*>(QStringLiteral("serverName")))
             expectLabelWholeOrShortened(*label);
         return Shown{sidebar, sidebar, column};
     }},
};

TEST_F(LongNames, EveryControlStaysInViewApartAndEveryLabelIsWholeOrEndsInAnEllipsis)
{
    for (const View& view : views) {
        for (const Name& name : names) {
            for (const Size& size : view.sheet ? std::span<const Size>(sheetSize) : std::span<const Size>(sizes)) {
                SCOPED_TRACE(::testing::Message() << view.label << ", " << name.label << " name, " << size.label);
                const Shown shown = view.build(*this, name.text, size);
                ASSERT_FALSE(shown.area.isEmpty());
                (void)shown.top->grab();
                expectControlsInViewApart(*shown.scope, shown.top, shown.area);
                expectLabelsWholeOrShortened(*shown.scope);
                made.clear();
                model.setBanner(std::nullopt);
                while (!model.connections().isEmpty() && model.connections().back() != model.localConnection())
                    model.removeConnection(model.connections().back());
                settle();
            }
        }
    }
}

// A short server name leaves the bar's sentence whole but on more than one line at the smallest
// window (three there, with the test fonts): the bar grows to hold them, its text laid out
// whole inside it. A bar as tall as its size hint would hold only the lines the sentence takes at
// the hint's width, two here.
TEST_F(LongNames, TheServerBarHoldsEveryLineOfAShortNameThatWraps)
{
    const Size& smallest = sizes[1];
    for (const int length : {20, 25, 30}) {
        SCOPED_TRACE(::testing::Message() << length << " characters");
        WorkspaceView* view = pane(repeatedTo(QStringLiteral("serveur-de-recette-"), length), smallest);
        const StatusBars& bar = *view->statusBars;
        auto* text = bar.findChild<WrappedLabel*>(QStringLiteral("statusText"));
        ASSERT_NE(text, nullptr);
        ASSERT_TRUE(bar.isVisible());
        const QStringList lines = text->shownLines();
        EXPECT_GE(lines.size(), 2) << "the sentence fits on one line: the case tests nothing";
        EXPECT_FALSE(lines.back().endsWith(u'…')) << "the sentence is cut: the case is not a short name's";
        EXPECT_GE(text->height(), text->heightForWidth(text->width()))
            << text->shownLines().join(u'|').toStdString() << " in " << text->height() << " px";
        EXPECT_TRUE(bar.rect().contains(text->geometry()))
            << "the text's " << text->geometry().bottom() << " past the bar's " << bar.height() << " px";
        made.clear();
        while (model.connections().size() > 1)
            model.removeConnection(model.connections().back());
        model.setBanner(std::nullopt);
        settle();
    }
}

// The find bar gives way in stages as it narrows: the toggles go first (whole word, regex, then
// case) while the field keeps its usual width, then the field narrows, down to its narrowest,
// with ▲ and ▼ still there, then ▲ and ▼ go. Close is always there.
TEST(FindBarStages, TogglesGoFirstThenTheFieldNarrowsThenPreviousAndNext)
{
    // Placed over a terminal as the terminal places it, at the width it is given.
    QWidget terminal;
    auto& bar = *new corvantix::TerminalFindBarView(&terminal);
    bar.searchField->setText(names[0].text);
    const int widest = bar.sizeHint().width();
    const int narrowest = bar.minimumSizeHint().width();
    ASSERT_LT(narrowest, widest);
    terminal.resize(widest + 2 * corvantix::TerminalFindBarView::margin, 200);
    bar.resize(widest, bar.sizeHint().height());
    terminal.show();
    settle();
    // The widths of the field with everything shown, and with the least room.
    const auto fieldAt = [&bar](int width) {
        bar.resize(width, bar.height());
        settle();
        bar.layout()->activate();
        return bar.searchField->width();
    };
    const int usualField = fieldAt(widest);
    const int narrowestField = fieldAt(narrowest);
    ASSERT_LT(narrowestField, usualField);

    struct Seen {
        int toggles = 3, arrows = 2;
    } last;
    bool usualWithoutToggles = false, narrowerWithArrows = false, withoutArrows = false;
    for (int width = widest; width >= narrowest; --width) {
        SCOPED_TRACE(::testing::Message() << width << " px");
        const int field = fieldAt(width);
        const bool whole = bar.wholeWordButton->isVisible(), regex = bar.regexButton->isVisible(),
                   exact = bar.caseSensitiveButton->isVisible();
        const int toggles = int(whole) + int(regex) + int(exact);
        const int arrows = int(bar.previousButton->isVisible()) + int(bar.nextButton->isVisible());
        ASSERT_TRUE(bar.closeButton->isVisible());
        // Whole word goes first, then regex, then case.
        EXPECT_TRUE((!whole || regex) && (!regex || exact)) << whole << regex << exact;
        // What has gone stays gone as the bar narrows.
        EXPECT_LE(toggles, last.toggles);
        EXPECT_LE(arrows, last.arrows);
        if (toggles > 0) {
            EXPECT_GE(field, usualField) << "the field narrowed with a toggle still there";
        }
        if (arrows < 2) {
            EXPECT_EQ(toggles, 0) << "▲ or ▼ went before the toggles";
        }
        if (arrows == 2) {
            EXPECT_GE(field, narrowestField) << "the field went under its narrowest with ▲ and ▼ there";
        }
        usualWithoutToggles = usualWithoutToggles || (toggles == 0 && arrows == 2 && field >= usualField);
        narrowerWithArrows = narrowerWithArrows || (toggles == 0 && arrows == 2 && field < usualField);
        withoutArrows = withoutArrows || arrows == 0;
        last = {toggles, arrows};
        if (::testing::Test::HasFailure())
            break;
    }
    EXPECT_TRUE(usualWithoutToggles) << "no width where the toggles had gone and the field kept its width";
    EXPECT_TRUE(narrowerWithArrows) << "no width where the field narrowed with ▲ and ▼ there";
    EXPECT_TRUE(withoutArrows) << "▲ and ▼ never went";
}

// The sidebar's row is painted: its name, cut, shows "…" where it reads last, clear of the dot.
TEST_F(LongNames, AProjectRowShortensItsNameAtTheEndOfItsReadingOrder)
{
    for (const Name& name : names) {
        for (const Size& size : sizes) {
            SCOPED_TRACE(::testing::Message() << name.label << " name, " << size.label);
            const MacProject project{name.text, QStringLiteral("/r/") + name.text, QStringLiteral("kq")};
            MacTab& tab = open(local(), project);
            model.activate(tab);
            ProjectRow row(model, project, local(), 0, {});
            row.resize(size.sidebar, rowLineHeight);
            row.line()->resize(size.sidebar, rowLineHeight);
            QImage image(row.line()->size(), QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::black);
            row.line()->render(&image, {}, {}, QWidget::DrawChildren);
            const ProjectRowState state = *row.state();
            const ProjectRowLayout layout = layoutProjectRow(size.sidebar, 0, state, project.name);
            ASSERT_FALSE(layout.dot.isEmpty());
            const QRect box = layout.name.toAlignedRect().adjusted(0, 0, -1, 0);
            const QFont font = projectNameFont(state.active);
            test::expectEllipsisAtReadingEnd(image, box, font, readingDirection(name.text),
                                             elidedAtEnd(name.text, QFontMetrics(font), int(layout.name.width())), name.label);
            const auto gap = test::inkRowsByColumn(image, QRect(QPoint(int(layout.name.right()) + 1, 0),
                                                                QPoint(int(layout.dot.left()) - 2, image.height() - 1)));
            for (const auto& column : gap)
                EXPECT_TRUE(column.empty()) << "ink between the name and the dot";
            model.closeTab(tab);
        }
    }
}

// The longest name a file system gives a file or a folder: 255 bytes of UTF-8.
QString nameOf255Bytes(const QString& source)
{
    QString name;
    for (qsizetype at = 0; (name + source.at(at % source.size())).toUtf8().size() <= 255; ++at)
        name += source.at(at % source.size());
    return name;
}

// Each banner that quotes a name, a path or a host's message, with its sentence's last words.
struct QuotingBanner {
    const char* label;
    std::function<QString(MacModel&, const QString& name)> text;
};
const QuotingBanner quotingBanners[] = {
    {"session closing at once",
     [](MacModel&, const QString& name) { return MacModel::closesAtOnceMessage(MacProject{name, QStringLiteral("/srv/") + name, QStringLiteral("kq")}); }},
    {"missing folder",
     [](MacModel&, const QString& name) { return visibleText(folderRefusalMessage(FolderRefusal::missing, QStringLiteral("/home/moi/") + name + u'/' + name)); }},
    {"path too long",
     [](MacModel&, const QString& name) { return visibleText(folderRefusalMessage(FolderRefusal::tooLong, (u'/' + name).repeated(20))); }},
    {"one tab not made",
     [](MacModel& model, const QString& name) { return MacModel::tabsNotMadeMessage(*model.localConnection(), {name}); }},
    {"four tabs not made",
     [](MacModel& model, const QString& name) { return MacModel::tabsNotMadeMessage(*model.localConnection(), QStringList(4, name)); }},
    {"many tabs not made",
     [](MacModel& model, const QString& name) { return MacModel::tabsNotMadeMessage(*model.localConnection(), QStringList(9, name)); }},
    {"unreadable file", [](MacModel&, const QString& name) { return unreadableFileMessage(name); }},
    {"upload refused",
     [](MacModel&, const QString& name) {
         return uploadFailedMessage(QStringLiteral("mkdir: cannot create directory '/srv/") + name + u'/' + name
                                    + QStringLiteral("/Upload': Permission denied"));
     }},
    {"key not installed",
     [](MacModel&, const QString& name) {
         return installKeyBanner(ShellError{QStringLiteral("ssh: Could not resolve hostname ") + name
                                            + QStringLiteral(": Name or service not known")});
     }},
};

// In the smallest window, a banner naming the longest name still reads to its last word: the
// name gives up its middle, the sentence nothing.
TEST_F(LongNames, ABannerQuotingALongNameReadsWholeInTheSmallestWindow)
{
    for (const Name& source : names) {
        const QString name = nameOf255Bytes(source.text);
        WorkspaceView* view = pane(QStringLiteral("srv"), sizes[1]);
        for (const QuotingBanner& banner : quotingBanners) {
            SCOPED_TRACE(::testing::Message() << banner.label << ", " << source.label << " name");
            const QString text = banner.text(model, name);
            model.clearBanners();
            model.setBanner(text);
            settle();
            (void)view->grab();
            // What the banner lays out and paints: every line, the last one ending as the sentence does.
            const QStringList lines = view->banner->shownLines();
            EXPECT_LE(lines.size(), BannerOverlay::maximumLines);
            EXPECT_LE(view->banner->heightForWidth(view->banner->width()), view->banner->height());
            EXPECT_TRUE(view->rect().contains(view->banner->geometry()));
            QString drawn = lines.join(QString());
            QString whole = text;
            drawn.remove(u' ');
            whole.remove(u' ');
            EXPECT_EQ(drawn.toStdString(), whole.toStdString()) << lines.join(u'|').toStdString();
            ASSERT_FALSE(lines.isEmpty());
            EXPECT_TRUE(text.endsWith(lines.back().right(3))) << lines.back().toStdString();
        }
        made.clear();
        model.clearBanners();
        while (!model.connections().isEmpty() && model.connections().back() != model.localConnection())
            model.removeConnection(model.connections().back());
        settle();
    }
}

// With room in the pane, a short banner is one line: the capsule is as wide as its line needs,
// not a fraction of a pixel short of it.
TEST_F(LongNames, AShortBannerIsOneLineWhenThePaneHasRoom)
{
    WorkspaceView* view = pane(QStringLiteral("srv"), sizes[0]);
    QStringList texts{unreadableFileMessage(QStringLiteral("dossier")),
                      uploadFailedMessage(QStringLiteral("mkdir: cannot create directory '/srv/projet/Upload': Permission denied")),
                      folderRefusalMessage(FolderRefusal::missing, QStringLiteral("/home/moi/projets/gone")),
                      QStringLiteral("1 clé(s) installée(s) : plus de mot de passe à la prochaine connexion.")};
    // Widths of every fraction of a pixel.
    for (const char* name : {"a", "ab", "abc", "notes.txt", "rapport final.pdf", "Été 2024", "x-y_z", "img.png", "wW", "il"})
        texts << unreadableFileMessage(QString::fromUtf8(name));
    for (const QString& text : std::as_const(texts)) {
        model.clearBanners();
        model.setBanner(text);
        settle();
        EXPECT_EQ(view->banner->shownLines(), QStringList{text}) << view->banner->width();
        EXPECT_EQ(view->banner->height(), view->banner->heightForWidth(view->banner->naturalWidth()));
    }
}

// A quick command's label and command, cut, show "…" where they read last: on the left of a
// Hebrew or Arabic one.
TEST_F(LongNames, AQuickCommandShortensItsTextAtTheEndOfItsReadingOrder)
{
    const QString hebrew = repeatedTo(QStringLiteral("פקודה ארוכה מאוד "), 120);
    const QString command = QStringLiteral("echo ") + names[2].text;
    model.setCommands({SavedCommand{names[0].text, names[0].text}, SavedCommand{names[2].text, command},
                       SavedCommand{hebrew, hebrew}});
    CommandsPanel panel(model);
    panel.show();
    settle();
    QListWidget& list = *panel.list();
    const QFont font = list.font();
    QFont small(font);
    small.setFamily(QStringLiteral("monospace"));
    small.setStyleHint(QFont::Monospace);
    small.setPointSizeF(10);
    const int labelHeight = QFontMetrics(font).height();
    const int height = 2 * 5 + labelHeight + 2 + QFontMetrics(small).height();
    for (const Size& size : sizes) {
        // Whatever direction the painter it is given lays text out in.
        for (const Qt::LayoutDirection painterDirection : {Qt::LeftToRight, Qt::LayoutDirectionAuto}) {
            for (int row = 0; row < 3; ++row) {
                const SavedCommand& saved = model.commands().at(row);
                SCOPED_TRACE(::testing::Message() << "row " << row << ", " << size.label << ", painter " << painterDirection);
                QImage image(size.sidebar, height, QImage::Format_ARGB32_Premultiplied);
                image.fill(Qt::black);
                QStyleOptionViewItem option;
                option.initFrom(&list);
                option.rect = image.rect();
                option.font = font;
                {
                    QPainter painter(&image);
                    painter.setLayoutDirection(painterDirection);
                    list.itemDelegate()->paint(&painter, option, list.model()->index(row, 0));
                }
                // As the row lays itself out: its label, then its command in small monospace.
                const QRect box = image.rect().adjusted(8, 5, -8, -5);
                const QRect labelBox(box.left(), box.top(), box.width(), labelHeight);
                test::expectEllipsisAtReadingEnd(image, labelBox.adjusted(0, 0, -1, 0), font, readingDirection(saved.label),
                                                 elidedAtEnd(saved.label, QFontMetrics(font), box.width()), "label");
                if (saved.command != saved.label) {
                    const QRect commandBox(box.left(), labelBox.bottom() + 3, box.width(), QFontMetrics(small).height());
                    test::expectEllipsisAtReadingEnd(image, commandBox.adjusted(0, 0, -1, 0), small, readingDirection(command),
                                                     elidedAtEnd(command, QFontMetrics(small), box.width()), "command");
                }
            }
        }
    }
}

// A label of a few lines shows the start of a huge text and says that more follows, at every
// width a layout tries. (What each pass costs is measured, not timed here: it lays out only what
// its lines can show.)
TEST(WrappedLabelWork, AHugeTextShowsItsFirstLinesAndAnEllipsis)
{
    const QString huge = repeatedTo(QStringLiteral("nom très long "), 1'000'000);
    WrappedLabel label(huge);
    label.setMaximumLines(3);
    label.resize(300, label.heightForWidth(300));
    for (int pass = 0; pass < 10; ++pass)
        EXPECT_EQ(label.heightForWidth(300 - pass), 3 * QFontMetrics(label.font()).lineSpacing());
    (void)label.grab();
    const QStringList lines = label.shownLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines.front().startsWith(QStringLiteral("nom très long")));
    EXPECT_TRUE(lines.back().endsWith(u'…'));

    // Marks of no width fill no line: what is left out after them is still told by a "…".
    label.setText(QStringLiteral("a") + QString(5000, QChar(0x0301)) + QStringLiteral("b"));
    const QStringList marked = label.shownLines();
    ASSERT_FALSE(marked.isEmpty());
    EXPECT_TRUE(marked.back().endsWith(u'…')) << marked.size() << " lines";
}

} // namespace
} // namespace halvoren


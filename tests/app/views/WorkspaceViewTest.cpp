// The workspace pane: what it shows with and without a tab, the status bar's texts, the
// compose bar's life and target, the banner's time-out and the update strip.
#include "WorkspaceFixture.h"
#include "app/workspace/ManualClock.h"
#include "app/support/ParamName.h"
#include "ui/BannerOverlay.h"
#include "ui/ComposeBar.h"
#include "ui/StatusBars.h"
#include "ui/TerminalHost.h"
#include "ui/UpdateBar.h"
#include "ui/WorkspaceView.h"

#include <QTest>

namespace halvoren {
namespace {

using test::PaneWorkspace;
using test::waitUntil;

struct StatusCase {
    const char* name;
    // Empty: the tab is on this computer.
    const char* server;
    bool unreachable;
    bool tmux;
    bool connectionGone;
    const char* expected;
};

void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }

class StatusBarText : public testing::TestWithParam<StatusCase> {};

TEST_P(StatusBarText, NamesTheHostAndTheFirstProblem)
{
    const StatusCase& c = GetParam();
    PaneWorkspace w;
    MacUpdate update;
    WorkspaceView view(w.model, update);
    MacConnection& connection = *c.server ? w.server(QString::fromUtf8(c.server)) : w.local();
    MacTab& tab = w.add(connection, QStringLiteral("status"));
    w.model.activate(tab);
    // Changed after the tab is shown: the bar follows the connection's signals.
    connection.setTmuxAvailable(c.tmux);
    connection.setUnreachable(c.unreachable);
    if (c.connectionGone)
        w.model.removeConnection(&connection);
    const std::optional<StatusBar>& shown = view.statusBars->shown();
    EXPECT_EQ(shown ? shown->text.toStdString() : std::string(), c.expected);
    EXPECT_EQ(!view.statusBars->isHidden(), *c.expected != 0);
}

INSTANTIATE_TEST_SUITE_P(
    WorkspaceView, StatusBarText,
    testing::Values(
        StatusCase{"this computer without tmux", "", false, false, false,
                   "tmux est absent de Cet ordinateur : sessions non persistantes. Installe-le (apt install tmux)."},
        StatusCase{"server without tmux", "atelier", false, false, false,
                   "tmux est absent de atelier : sessions non persistantes. Installe-le (apt install tmux)."},
        StatusCase{"unreachable server without tmux", "atelier", true, false, false,
                   "atelier ne répond plus — reconnexion automatique dès qu'il revient."},
        StatusCase{"unreachable server", "atelier", true, true, false,
                   "atelier ne répond plus — reconnexion automatique dès qu'il revient."},
        StatusCase{"healthy server", "atelier", false, true, false, ""},
        StatusCase{"connection gone", "atelier", true, false, true, ""}),
    test::ParamName());

TEST(WorkspaceView, ComposeBarComesWithATabFollowsTheActiveOneAndStartsEmptyWhenBack)
{
    PaneWorkspace w;
    MacUpdate update;
    w.model.setComposeVisible(true);
    WorkspaceView view(w.model, update);
    EXPECT_EQ(view.composeBar(), nullptr);
    EXPECT_NE(view.emptyWorkspace(), nullptr);
    EXPECT_EQ(view.windowTitle(), QStringLiteral("Halvoren"));

    MacTab& a = w.add(w.local(), QStringLiteral("alpha"));
    MacTab& b = w.add(w.local(), QStringLiteral("beta"));
    w.model.activate(a);
    ComposeBar* bar = view.composeBar();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->tab(), &a);
    EXPECT_EQ(view.emptyWorkspace(), nullptr);
    EXPECT_EQ(view.windowTitle(), w.model.tabTitle(a) + QStringLiteral(" — ") + w.model.tabSubtitle(a));
    w.model.renameTab(a, QStringLiteral("Mon onglet"));
    EXPECT_TRUE(view.windowTitle().startsWith(QStringLiteral("Mon onglet — ")));

    QTest::keyClicks(bar->field, QStringLiteral("en cours"));
    w.model.activate(b);
    EXPECT_EQ(view.composeBar(), bar);
    EXPECT_EQ(bar->tab(), &b);
    EXPECT_EQ(bar->text(), QStringLiteral("en cours"));
    EXPECT_TRUE(view.windowTitle().startsWith(w.model.tabTitle(b)));

    w.model.setComposeVisible(false);
    EXPECT_EQ(view.composeBar(), nullptr);
    w.model.setComposeVisible(true);
    ASSERT_NE(view.composeBar(), nullptr);
    EXPECT_EQ(view.composeBar()->text(), QString());

    w.model.setActiveTabID(std::nullopt);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(view.composeBar(), nullptr);
    EXPECT_EQ(view.terminalHost(), nullptr);
    EXPECT_NE(view.emptyWorkspace(), nullptr);
    EXPECT_EQ(view.windowTitle(), QStringLiteral("Halvoren"));
    EXPECT_TRUE(a.terminal && b.terminal);
}

TEST(WorkspaceView, MessageWrittenBeforeASwitchGoesToTheTabActiveWhenSent)
{
    PaneWorkspace w;
    MacUpdate update;
    w.model.setComposeVisible(true);
    MacTab& a = w.add(w.local(), QStringLiteral("alpha"));
    MacTab& b = w.add(w.local(), QStringLiteral("beta"));
    ASSERT_TRUE(w.startWith(a, QStringLiteral("cat -v")));
    ASSERT_TRUE(w.startWith(b, QStringLiteral("cat -v")));
    WorkspaceView view(w.model, update);
    w.model.activate(a);
    ASSERT_NE(view.composeBar(), nullptr);
    QTest::keyClicks(view.composeBar()->field, QStringLiteral("echo hi"));
    w.model.activate(b);
    QTest::keyClick(view.composeBar()->field, Qt::Key_Return);
    EXPECT_TRUE(waitUntil([&] { return w.output.value(&b).contains(QStringLiteral("^[[200~echo hi^[[201~")); }))
        << w.output.value(&b).toStdString();
    // Nothing is trimmed: three blanks go as three blanks.
    QTest::keyClicks(view.composeBar()->field, QStringLiteral("   "));
    QTest::keyClick(view.composeBar()->field, Qt::Key_Return);
    EXPECT_TRUE(waitUntil([&] { return w.output.value(&b).contains(QStringLiteral("^[[200~   ^[[201~")); }));
    EXPECT_FALSE(w.output.value(&a).contains(QStringLiteral("echo hi")));
}

TEST(WorkspaceView, BannerGoesFiveSecondsAfterItsOwnTextWasSet)
{
    PaneWorkspace w;
    auto clock = std::make_shared<test::ManualClock>();
    w.model.clock = clock;
    MacUpdate update;
    WorkspaceView view(w.model, update);
    const auto a = std::optional<QString>(QStringLiteral("Envoyé"));
    const auto b = std::optional<QString>(QStringLiteral("Envoi impossible"));
    const std::optional<QString> none;
    struct Step {
        const char* what;
        std::optional<QString> set; // applied when `apply`
        bool apply;
        double thenWait;
        std::optional<QString> expected;
    };
    const std::pair<const char*, std::vector<Step>> scenarios[] = {
        {"another text restarts",
         {{"A", a, true, 3, a}, {"B", b, true, 4.9, b}, {"", none, false, 0.2, none}}},
        {"the same text does not",
         {{"A", a, true, 3, a}, {"A again", a, true, 1.9, a}, {"", none, false, 0.2, none}}},
        {"cleared by someone, then set again",
         {{"A", a, true, 2, a}, {"none", none, true, 1, none}, {"A", a, true, 4.9, a}, {"", none, false, 0.2, none}}},
    };
    for (const auto& [name, steps] : scenarios) {
        SCOPED_TRACE(name);
        for (const Step& step : steps) {
            if (step.apply)
                w.model.setBanner(step.set);
            clock->advance(step.thenWait);
            EXPECT_EQ(w.model.banner(), step.expected) << "after " << step.what;
        }
    }
    w.model.setBanner(a);
    EXPECT_FALSE(view.banner->isHidden());
    EXPECT_EQ(view.banner->text(), *a);
    QTest::mouseClick(view.banner, Qt::LeftButton);
    EXPECT_EQ(w.model.banner(), none);
    EXPECT_TRUE(view.banner->isHidden());
}

TEST(UpdateBar, NotesAreCutAtTwoLines)
{
    QFont font;
    font.setPixelSize(10);
    const QString longParagraph = QStringList(60, QStringLiteral("correction")).join(u' ');
    const struct {
        QString notes;
        qreal width;
        QStringList expected; // empty: only checked for two lines ending in "…"
    } cases[] = {
        {QStringLiteral("Un\nDeux"), 400, {"Un", "Deux"}},
        {QStringLiteral("Un\nDeux\nTrois"), 400, {"Un", "Deux…"}},
        {QStringLiteral("Un\n\nTrois"), 400, {"Un", "…"}},
        {QStringLiteral("Seul"), 400, {"Seul"}},
        {longParagraph, 200, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.notes.left(20).toStdString());
        const QStringList lines = clampLines(c.notes, font, c.width, 2);
        if (!c.expected.isEmpty()) {
            EXPECT_EQ(lines, c.expected);
            continue;
        }
        ASSERT_EQ(lines.size(), 2);
        EXPECT_TRUE(lines.last().endsWith(u'…'));
        EXPECT_LE(QFontMetricsF(font).horizontalAdvance(lines.last()), c.width);
    }
}

TEST(UpdateBar, ShowsAKnownReleaseUntilClosedWhileTheReleaseStaysKnown)
{
    PaneWorkspace w;
    MacUpdate update;
    WorkspaceView view(w.model, update);
    EXPECT_TRUE(view.updateBar->isHidden());
    const MacUpdate::Available release{QStringLiteral("1.4"), 58, QString(), QUrl(QStringLiteral("https://example.invalid/h.deb"))};
    update.setAvailable(release);
    EXPECT_FALSE(view.updateBar->isHidden());
    EXPECT_EQ(view.updateBar->title->text(), QStringLiteral("Halvoren 1.4 est disponible"));
    EXPECT_TRUE(view.updateBar->notesLabel->isHidden());
    MacUpdate::Available withNotes = release;
    withNotes.notes = QStringLiteral("Première.\n\nDeuxième.\n\nTroisième.");
    update.setAvailable(withNotes);
    EXPECT_FALSE(view.updateBar->notesLabel->isHidden());
    EXPECT_EQ(view.updateBar->notesLabel->text().count(u'\n'), 1);
    view.updateBar->closeButton->click();
    EXPECT_TRUE(view.updateBar->isHidden());
    EXPECT_TRUE(update.dismissed());
    EXPECT_EQ(update.available(), withNotes);
}

} // namespace
} // namespace halvoren

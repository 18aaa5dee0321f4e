// The session picker over a fake host: detail lines, resuming, closing and starting sessions,
// and a picker whose server went away.
#include "ui/SessionPicker.h"

#include "app/views/TabViewsWorkspace.h"

#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

TEST(SessionDetail, NamesTheCommandTheLastActivityInFrenchAndTheClients)
{
    const struct {
        const char* command;
        qint64 attached, secondsAgo;
        const char* expected;
    } cases[] = {
        {"vim", 0, 300, "vim · active il y a 5 minutes"},
        {"zsh", 2, 86400 + 600, "zsh · active hier · 2 appareil(s)"},
        {"", 1, 10799, " · active il y a 2 heures · 1 appareil(s)"},
        {"htop", -1, 9 * 86400, "htop · active la semaine dernière"},
        {"top", 3, 61 * 86400, "top · active il y a 2 mois · 3 appareil(s)"},
    };
    const QDateTime now(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC);
    for (const auto& c : cases) {
        FolderSession session;
        session.attached = c.attached;
        session.lastActivity = now.addSecs(-c.secondsAgo);
        session.command = QString::fromUtf8(c.command);
        EXPECT_EQ(sessionDetailLine(session, now, QStringLiteral("fr_FR")), QString::fromUtf8(c.expected));
    }
}

struct SessionPickerSheet : test::TabViewsWorkspace, testing::Test {
    QString path = folder.file(QStringLiteral("app"));
    int doneCalls = 0;

    std::unique_ptr<SessionPicker> open(const QString& connId, const QStringList& names)
    {
        PickerRequest request{{QStringLiteral("app"), path, QStringLiteral("kq-app-1a2b")}, connId, {}};
        for (const QString& name : names) {
            request.sessions.append(FolderSession());
            request.sessions.back().name = name;
        }
        auto sheet = std::make_unique<SessionPicker>(model, request, [this] { ++doneCalls; }, nullptr);
        sheet->open();
        return sheet;
    }
    // "resume" or "trash" of a session's row.
    static void press(SessionPicker& sheet, const QString& session, const QString& button)
    {
        sheet.findChild<QWidget*>(session)->findChild<QAbstractButton*>(button)->click();
    }
};

TEST_F(SessionPickerSheet, ResumingOpensOrActivatesTheChosenSessionThenCloses)
{
    const QString numbered = QStringLiteral("kq-app-1a2b-2");
    auto sheet = open(MacConnection::localID, {numbered, QStringLiteral("kq-app-1a2b")});
    press(*sheet, numbered, QStringLiteral("resume"));
    ASSERT_EQ(model.tabs().size(), 1);
    const MacTab& resumed = *model.tabs().front();
    EXPECT_EQ(resumed.project, (MacProject{QStringLiteral("app"), path, numbered}));
    EXPECT_TRUE(doneCalls == 1 && !sheet->isVisible());
    // Again, while another tab is active: the open tab comes forward.
    model.activate(add(local(), QStringLiteral("/r/other")));
    press(*open(MacConnection::localID, {numbered}), numbered, QStringLiteral("resume"));
    EXPECT_EQ(model.tabs().size(), 2);
    EXPECT_EQ(model.activeTabID(), resumed.id());
    EXPECT_EQ(doneCalls, 2);
}

TEST_F(SessionPickerSheet, ClosingTheLastSessionKeepsTheSheetOpenWithAnEmptyList)
{
    const QString name = QStringLiteral("kq-app-1a2b");
    auto sheet = open(MacConnection::localID, {name});
    local().setLiveSessions({name});
    press(*sheet, name, QStringLiteral("trash"));
    QCoreApplication::processEvents();
    EXPECT_EQ(scripts.filter(QStringLiteral("tmux kill-session -t '=kq-app-1a2b'")).size(), 1);
    EXPECT_EQ(scripts.filter(QStringLiteral("list-sessions")).size(), 1);
    EXPECT_TRUE(sheet->request.sessions.isEmpty() && local().liveSessions().isEmpty());
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(doneCalls, 0);
}

TEST_F(SessionPickerSheet, ReturnStartsANewSessionBesideTheTakenOnes)
{
    auto sheet = open(MacConnection::localID, {QStringLiteral("kq-app-1a2b")});
    local().setLiveSessions({tmuxSessionName(path)});
    QTest::keyClick(sheet.get(), Qt::Key_Return);
    ASSERT_EQ(model.tabs().size(), 1);
    EXPECT_EQ(model.tabs().front()->project,
              (MacProject{QStringLiteral("app (2)"), path, tmuxSessionName(path) + QStringLiteral("-2")}));
    EXPECT_EQ(doneCalls, 1);
}

TEST_F(SessionPickerSheet, AVanishedServerLeavesOnlyCancelWorking)
{
    const QString name = QStringLiteral("kq-app-1a2b");
    auto sheet = open(QStringLiteral("p-gone"), {name});
    press(*sheet, name, QStringLiteral("resume"));
    press(*sheet, name, QStringLiteral("trash"));
    QTest::keyClick(sheet.get(), Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_TRUE(model.tabs().isEmpty() && scripts.isEmpty() && sheet->isVisible());
    EXPECT_EQ(doneCalls, 0);
    QTest::keyClick(sheet.get(), Qt::Key_Escape);
    EXPECT_TRUE(doneCalls == 1 && !sheet->isVisible());
}

} // namespace
} // namespace halvoren

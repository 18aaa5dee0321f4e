// The session picker over a fake host: the detail line of a session, resuming, closing and
// starting sessions, and a picker whose server went away.
#include "ui/SessionPicker.h"

#include "app/support/ParamName.h"
#include "app/views/TabViewsWorkspace.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

struct DetailCase {
    const char* command;
    qint64 attached;
    qint64 secondsAgo;
    const char* expected;
};

void PrintTo(const DetailCase& c, std::ostream* out)
{
    *out << c.expected;
}

class SessionDetail : public testing::TestWithParam<DetailCase> {};

TEST_P(SessionDetail, NamesTheCommandTheLastActivityAndTheClients)
{
    const DetailCase& c = GetParam();
    const QDateTime now(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC);
    FolderSession session;
    session.command = QString::fromUtf8(c.command);
    session.attached = c.attached;
    session.lastActivity = now.addSecs(-c.secondsAgo);
    EXPECT_EQ(sessionDetailLine(session, now, QStringLiteral("fr_FR")), QString::fromUtf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    SessionPicker, SessionDetail,
    testing::Values(DetailCase{"vim", 0, 300, "vim · active il y a 5 minutes"},
                    DetailCase{"zsh", 2, 86400 + 600, "zsh · active hier · 2 appareil(s)"},
                    DetailCase{"", 1, 3 * 3600 + 59, " · active il y a 3 heures · 1 appareil(s)"},
                    DetailCase{"htop", -1, 9 * 86400, "htop · active la semaine dernière"},
                    DetailCase{"make", 0, 400 * 86400, "make · active l’année dernière"},
                    DetailCase{"top", 3, 61 * 86400, "top · active il y a 2 mois · 3 appareil(s)"}),
    test::ParamName());

FolderSession listed(const QString& name, const QString& path, qint64 minutesAgo, const QDateTime& now)
{
    FolderSession session;
    session.name = name;
    session.path = path;
    session.command = QStringLiteral("zsh");
    session.lastActivity = now.addSecs(-60 * minutesAgo);
    return session;
}

struct SessionPickerSheet : test::TabViewsWorkspace, testing::Test {
    QString path = folder.path() + QStringLiteral("/app");
    MacProject project{QStringLiteral("app"), path, QStringLiteral("kq-app-1a2b")};
    int doneCalls = 0;

    std::unique_ptr<SessionPicker> picker(const QString& connId, const QStringList& names)
    {
        QList<FolderSession> shown;
        for (qsizetype i = 0; i < names.size(); ++i)
            shown << listed(names.at(i), path, i + 1, clock->now());
        auto made = std::make_unique<SessionPicker>(model, PickerRequest{project, connId, shown},
                                                    [this] { ++doneCalls; }, nullptr);
        made->open();
        return made;
    }
    static QWidget* row(SessionPicker& picker, const QString& name)
    {
        return picker.findChild<QWidget*>(name);
    }
    static void click(QWidget* row, const QString& text)
    {
        ASSERT_NE(row, nullptr);
        for (QPushButton* button : row->findChildren<QPushButton*>()) {
            if (button->text() == text)
                return button->click();
        }
        FAIL() << "no button " << text.toStdString();
    }
};

TEST_F(SessionPickerSheet, ResumingOpensTheChosenSessionUnderTheFoldersNameThenCloses)
{
    auto sheet = picker(MacConnection::localID, {QStringLiteral("kq-app-1a2b-2"), QStringLiteral("kq-app-1a2b")});
    click(row(*sheet, QStringLiteral("kq-app-1a2b-2")), QStringLiteral("Reprendre"));
    ASSERT_EQ(model.tabs().size(), 1);
    EXPECT_EQ(model.tabs().front()->project, (MacProject{QStringLiteral("app"), path, QStringLiteral("kq-app-1a2b-2")}));
    EXPECT_EQ(model.activeTabID(), model.tabs().front()->id());
    EXPECT_EQ(doneCalls, 1);
    EXPECT_FALSE(sheet->isVisible());
}

TEST_F(SessionPickerSheet, ResumingASessionAlreadyInATabActivatesThatTabAndStillCloses)
{
    auto sheet = picker(MacConnection::localID, {QStringLiteral("kq-app-1a2b-2"), QStringLiteral("kq-app-1a2b")});
    MacTab* shown = model.makeTab(local(), MacProject{QStringLiteral("app (2)"), path, QStringLiteral("kq-app-1a2b-2")});
    model.insertTab(shown, 0);
    model.activate(add(local(), QStringLiteral("/r/other")));
    click(row(*sheet, QStringLiteral("kq-app-1a2b-2")), QStringLiteral("Reprendre"));
    EXPECT_EQ(model.tabs().size(), 2);
    EXPECT_EQ(model.activeTabID(), shown->id());
    EXPECT_EQ(doneCalls, 1);
}

TEST_F(SessionPickerSheet, ClosingTheLastSessionKeepsTheSheetOpenWithAnEmptyList)
{
    auto sheet = picker(MacConnection::localID, {QStringLiteral("kq-app-1a2b")});
    sessions = {listed(QStringLiteral("kq-app-1a2b"), path, 1, clock->now())};
    local().setLiveSessions({QStringLiteral("kq-app-1a2b")});
    // The host ends the session when asked, and lists what is left.
    model.runScript = [this, base = model.runScript](MacConnection& c, QString script, double t) {
        if (script.contains(QStringLiteral("kill-session")))
            sessions.clear();
        return base(c, script, t);
    };
    QToolButton* trash = row(*sheet, QStringLiteral("kq-app-1a2b"))->findChild<QToolButton*>();
    EXPECT_EQ(trash->toolTip(), QStringLiteral("Fermer cette session"));
    trash->click();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(scripts.filter(QStringLiteral("tmux kill-session -t '=kq-app-1a2b'")).size(), 1);
    EXPECT_EQ(sheet->request.sessions.size(), 0);
    EXPECT_EQ(row(*sheet, QStringLiteral("kq-app-1a2b")), nullptr);
    EXPECT_TRUE(local().liveSessions().isEmpty());
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(doneCalls, 0);
}

TEST_F(SessionPickerSheet, ReturnStartsANewSessionBesideTheTakenOnes)
{
    auto sheet = picker(MacConnection::localID, {QStringLiteral("kq-app-1a2b")});
    local().setLiveSessions({tmuxSessionName(path)});
    QTest::keyClick(sheet.get(), Qt::Key_Return);
    ASSERT_EQ(model.tabs().size(), 1);
    EXPECT_EQ(model.tabs().front()->project,
              (MacProject{QStringLiteral("app (2)"), path, tmuxSessionName(path) + QStringLiteral("-2")}));
    EXPECT_EQ(doneCalls, 1);
}

TEST_F(SessionPickerSheet, AVanishedServerLeavesOnlyCancelWorking)
{
    auto sheet = picker(QStringLiteral("p-gone"), {QStringLiteral("kq-app-1a2b")});
    QWidget* only = row(*sheet, QStringLiteral("kq-app-1a2b"));
    click(only, QStringLiteral("Reprendre"));
    only->findChild<QToolButton*>()->click();
    QTest::keyClick(sheet.get(), Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_TRUE(model.tabs().isEmpty());
    EXPECT_TRUE(scripts.isEmpty());
    EXPECT_EQ(doneCalls, 0);
    EXPECT_TRUE(sheet->isVisible());
    QTest::keyClick(sheet.get(), Qt::Key_Escape);
    EXPECT_EQ(doneCalls, 1);
    EXPECT_FALSE(sheet->isVisible());
}

} // namespace
} // namespace halvoren

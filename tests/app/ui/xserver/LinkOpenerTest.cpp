// The opener of links on a real X server (tests/with-xvfb), where the desktop's own services would
// look xdg-open up along every entry of PATH, relative ones too. Started from inside a project
// with "./bin" first on PATH and a bin/xdg-open there: a tab's link (a URL or a path), the update
// bar's link and the first-connection terminal's link run nothing and say so where the user is;
// with an opener in an absolute folder of PATH, each runs that one, at home.
#include "platform/DetachedProcess.h"
#include "remote/ShellQuote.h"
#include "ui/ConnectSheet.h"
#include "ui/UpdateBar.h"
#include "ui/WorkspaceView.h"

#include "app/ui/ViewsWorkspace.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

namespace halvoren {
namespace {

class LinkOpener : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "run under tests/with-xvfb (Debian package xvfb)";
        const QString bin = workspace.folder.file(QStringLiteral("projet/bin"));
        ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(openers));
        ASSERT_TRUE(executable(bin + QStringLiteral("/xdg-open"), "#!/bin/sh\n: > " + shellQuote(projectsRan).toUtf8() + "\n"));
        ASSERT_TRUE(test::writeAll(notes, "notes\n"));
        path.set("PATH", QStringLiteral("./bin:") + openers);
        ASSERT_TRUE(QDir::setCurrent(workspace.folder.file(QStringLiteral("projet"))));
    }
    void TearDown() override { QDir::setCurrent(startFolder); }

    static bool executable(const QString& file, const QByteArray& text)
    {
        return test::writeAll(file, text) && QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // Whether each place said there was no opener, for a link opened each way the user can: in
    // a tab (a URL, a file's path), on the update bar, in the first-connection terminal.
    struct Said {
        bool tabLink, tabPath, update, sheet;
    };
    Said openEach()
    {
        const auto banner = [this] {
            const bool shown = workspace.model.banner() == noLinkOpenerMessage;
            workspace.model.clearBanners();
            return shown;
        };
        Said said{};
        MacTab& tab = workspace.open(workspace.local(), workspace.folder.file(QStringLiteral("projet")));
        tab.terminal->requestOpenLink(*tab.terminal, "https://example.org/onglet", {});
        said.tabLink = banner();
        tab.terminal->requestOpenLink(*tab.terminal, notes.toStdString(), {});
        said.tabPath = banner();
        workspace.update.setAvailable(
            MacUpdate::Available{QStringLiteral("9.0"), 900, QString(), QUrl(QStringLiteral("https://example.org/maj"))});
        WorkspaceView view(workspace.model, workspace.update);
        view.updateBar->downloadButton->click();
        said.update = banner();
        ConnectSheet sheet(test::ViewsWorkspace::profile(QStringLiteral("p1"), QStringLiteral("srv")),
                           [](std::shared_ptr<SSHLink>) {}, nullptr);
        BootTermView& boot = *sheet.terminal()->view();
        boot.requestOpenLink(boot, "https://example.org/connexion", {});
        const QList<QLabel*> labels = sheet.findChildren<QLabel*>();
        said.sheet = std::any_of(labels.cbegin(), labels.cend(), [](const QLabel* label) {
            return label->text() == noLinkOpenerMessage && !label->isHidden();
        });
        return said;
    }

    const QString startFolder = QDir::currentPath();
    test::ViewsWorkspace workspace;
    // The only absolute folder of PATH, with no opener at first.
    const QString openers = workspace.folder.file(QStringLiteral("openers"));
    const QString projectsRan = workspace.folder.file(QStringLiteral("project-opener-ran"));
    const QString notes = workspace.folder.file(QStringLiteral("notes.txt"));
    test::EnvironmentOverride path;
};

TEST_F(LinkOpener, WithoutAnAbsoluteOpenerNothingRunsAndEachPlaceSaysSo)
{
    const Said said = openEach();
    EXPECT_TRUE(said.tabLink && said.tabPath && said.update && said.sheet)
        << said.tabLink << said.tabPath << said.update << said.sheet;
    EXPECT_FALSE(openOnDesktop(QUrl(QStringLiteral("https://example.org/direct"))));
    // A later start in an absolute folder notes when it is done: by then the project's would have run.
    const QString done = workspace.folder.file(QStringLiteral("done"));
    startDetachedProcess(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral(": > \"$0\""), done}, {});
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(done); }, 20000));
    EXPECT_FALSE(QFile::exists(projectsRan));
}

TEST_F(LinkOpener, AnAbsoluteOpenerRunsAtHomeForEachLink)
{
    const QString noted = workspace.folder.file(QStringLiteral("opened"));
    ASSERT_TRUE(executable(openers + QStringLiteral("/xdg-open"),
                           "#!/bin/sh\nprintf '%s %s\\n' \"$(pwd)\" \"$1\" >> " + shellQuote(noted).toUtf8() + "\n"));
    const Said said = openEach();
    EXPECT_FALSE(said.tabLink || said.tabPath || said.update || said.sheet)
        << said.tabLink << said.tabPath << said.update << said.sheet;
    ASSERT_TRUE(QTest::qWaitFor([&] { return test::readAll(noted).count('\n') == 4; }, 20000)) << test::readAll(noted).toStdString();
    QStringList opened = QString::fromUtf8(test::readAll(noted)).split(u'\n', Qt::SkipEmptyParts);
    opened.sort();
    const QString home = QDir(workspace.folder.path()).canonicalPath() + u' ';
    EXPECT_EQ(opened, (QStringList{home + QStringLiteral("file://") + notes, home + QStringLiteral("https://example.org/connexion"),
                                   home + QStringLiteral("https://example.org/maj"), home + QStringLiteral("https://example.org/onglet")}));
    EXPECT_FALSE(QFile::exists(projectsRan));
}

} // namespace
} // namespace halvoren

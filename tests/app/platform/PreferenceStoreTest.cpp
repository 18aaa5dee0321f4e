#include "platform/PreferenceStore.h"

#include "app/support/TempFolder.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace halvoren {
namespace {

using test::TempFolder;

QStringList leftovers(const TempFolder& folder)
{
    return QDir(folder.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// A process killed after the new file is complete and before it replaces the old one must
// leave the old preferences readable and whole, and the next write must succeed.
TEST(PreferenceStore, CrashBetweenWriteAndRenameKeepsThePreviousFile)
{
    TempFolder folder;
    const QString path = folder.file("preferences.json");
    {
        PreferenceStore store(path);
        store.setValue("flutter.fontSize", 15.0);
        store.setStringList("hv.connectedProfiles", {"p1"});
        store.flush();
    }
    const QByteArray before = test::readAll(path);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        PreferenceStore::beforeRenameForTests() = [] { ::kill(::getpid(), SIGKILL); };
        PreferenceStore store(path);
        store.setValue("flutter.fontSize", 22.0);
        store.flush();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child did not stop before the rename";
    EXPECT_EQ(test::readAll(path), before);
    EXPECT_EQ(leftovers(folder).size(), 2) << leftovers(folder).join(' ').toStdString();
    PreferenceStore reopened(path);
    EXPECT_EQ(reopened.numberValue("flutter.fontSize"), 15.0);
    EXPECT_EQ(reopened.stringListValue("hv.connectedProfiles"), QStringList{"p1"});
    reopened.setValue("flutter.fontSize", 16.0);
    reopened.flush();
    EXPECT_EQ(PreferenceStore(path).numberValue("flutter.fontSize"), 16.0);
}

TEST(PreferenceStore, ManyChangesEndWithTheLastStateOnDisk)
{
    TempFolder folder;
    const QString path = folder.file("sub/preferences.json");
    {
        PreferenceStore store(path);
        for (int i = 0; i <= 200; ++i)
            store.setValue("flutter.activeTab__active", i);
        store.remove("missing");
        store.setValue("flutter.sidebarOpen", false);
        store.remove("flutter.sidebarOpen");
    }
    PreferenceStore reopened(path);
    EXPECT_EQ(reopened.numberValue("flutter.activeTab__active"), 200.0);
    EXPECT_FALSE(reopened.contains("flutter.sidebarOpen"));
    EXPECT_EQ(QFileInfo(path).permissions() & (QFile::ReadOther | QFile::WriteOther), 0);
    EXPECT_EQ(QDir(folder.file("sub")).entryList(QDir::Files).size(), 1);
}

TEST(PreferenceStore, UnreadableFileIsKeptAsideBeforeTheFirstWrite)
{
    TempFolder folder;
    const QString path = folder.file("preferences.json");
    test::writeAll(path, "{\"flutter.fontSize\": 14,");
    {
        PreferenceStore store(path);
        EXPECT_FALSE(store.contains("flutter.fontSize"));
        store.setValue("flutter.onboardingDone", true);
    }
    EXPECT_EQ(test::readAll(path + ".bak"), QByteArray("{\"flutter.fontSize\": 14,"));
    EXPECT_EQ(PreferenceStore(path).boolValue("flutter.onboardingDone"), true);
}

TEST(PreferenceStore, ConfigFolderFollowsAnAbsoluteXdgConfigHome)
{
    test::EnvironmentOverride environment("XDG_CONFIG_HOME", QStringLiteral("/srv/conf"));
    EXPECT_EQ(configDirectory(), QStringLiteral("/srv/conf/halvoren"));
    environment.set("XDG_CONFIG_HOME", QStringLiteral("relative/conf"));
    EXPECT_EQ(configDirectory(), QDir::homePath() + "/.config/halvoren");
    environment.set("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(configDirectory(), QDir::homePath() + "/.config/halvoren");
}

} // namespace
} // namespace halvoren

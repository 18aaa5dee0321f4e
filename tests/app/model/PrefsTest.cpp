#include "model/Prefs.h"

#include "app/support/ParamName.h"

#include "app/support/TempFolder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

namespace halvoren {
namespace {

using test::TempFolder;

struct PrefsFixture : testing::Test {
    TempFolder folder;
    std::unique_ptr<PreferenceStore> store;
    std::unique_ptr<Prefs> prefs;

    void open(const QByteArray& fileText = {})
    {
        prefs.reset();
        store.reset();
        if (!fileText.isEmpty())
            test::writeAll(path(), fileText);
        store = std::make_unique<PreferenceStore>(path());
        prefs = std::make_unique<Prefs>(*store);
    }
    // Writes reach the disk, and a new store reads them back.
    void reopen()
    {
        store->flush();
        prefs.reset();
        store = std::make_unique<PreferenceStore>(path());
        prefs = std::make_unique<Prefs>(*store);
    }
    QString path() const { return folder.file("preferences.json"); }
};

// A stored value: one key of the file and its JSON text.
struct StoredCase {
    const char* title;
    const char* fileText;
    std::function<void(Prefs&)> check;
};

void PrintTo(const StoredCase& c, std::ostream* out)
{
    *out << c.title;
}

class PrefsReading : public PrefsFixture, public testing::WithParamInterface<StoredCase> {};

TEST_P(PrefsReading, FallsBackOnWrongTypes)
{
    open(GetParam().fileText);
    GetParam().check(*prefs);
}

INSTANTIATE_TEST_SUITE_P(
    Files, PrefsReading,
    testing::Values(
        StoredCase{"old single root", R"({"flutter.projectsRoot":"/data/p"})",
                   [](Prefs& p) { EXPECT_EQ(p.projectsRoots(), QStringList{"/data/p"}); }},
        StoredCase{"empty list wins over the old root", R"({"flutter.projectsRoots":[],"flutter.projectsRoot":"/data/p"})",
                   [](Prefs& p) { EXPECT_TRUE(p.projectsRoots().isEmpty()); }},
        StoredCase{"roots list with a number", R"({"flutter.projectsRoots":["/a",3],"flutter.projectsRoot":"/b"})",
                   [](Prefs& p) { EXPECT_EQ(p.projectsRoots(), QStringList{"/b"}); }},
        StoredCase{"font size as text", R"({"flutter.fontSize":"14"})", [](Prefs& p) { EXPECT_EQ(p.fontSize(), 13.0); }},
        StoredCase{"font size as whole number", R"({"flutter.fontSize":14})", [](Prefs& p) { EXPECT_EQ(p.fontSize(), 14.0); }},
        StoredCase{"booleans as numbers and text", R"({"flutter.sidebarOpen":0,"flutter.rightSidebarOpen":"false","flutter.composeBarVisible":1,"flutter.onboardingDone":"yes"})",
                   [](Prefs& p) {
                       EXPECT_TRUE(p.sidebarOpen());
                       EXPECT_TRUE(p.rightSidebarOpen());
                       EXPECT_FALSE(p.composeBarVisible());
                       EXPECT_FALSE(p.onboardingDone());
                   }},
        StoredCase{"commands skip undecodable texts",
                   R"({"flutter.commands":["{\"label\":\"a\",\"command\":\"b\"}","not json","{\"label\":\"x\"}","{\"label\":1,\"command\":\"c\"}"]})",
                   [](Prefs& p) { EXPECT_EQ(p.commands(), (QList<SavedCommand>{{"a", "b"}})); }},
        StoredCase{"empty commands stay empty", R"({"flutter.commands":[]})", [](Prefs& p) { EXPECT_TRUE(p.commands().isEmpty()); }},
        StoredCase{"commands not a list of text", R"({"flutter.commands":"[]"})",
                   [](Prefs& p) { EXPECT_EQ(p.commands(), Prefs::builtInCommands()); }},
        StoredCase{"tab labels object", R"({"flutter.tabLabels":"{\"local::kq-a\":\"Build\"}"})",
                   [](Prefs& p) { EXPECT_EQ(p.tabLabels(), (QMap<QString, QString>{{"local::kq-a", "Build"}})); }},
        StoredCase{"tab labels array", R"({"flutter.tabLabels":"[\"x\"]"})", [](Prefs& p) { EXPECT_TRUE(p.tabLabels().isEmpty()); }},
        StoredCase{"tab labels with a number value", R"({"flutter.tabLabels":"{\"a\":\"x\",\"b\":2}"})",
                   [](Prefs& p) { EXPECT_TRUE(p.tabLabels().isEmpty()); }},
        StoredCase{"tab labels stored as object not text", R"({"flutter.tabLabels":{"a":"x"}})",
                   [](Prefs& p) { EXPECT_TRUE(p.tabLabels().isEmpty()); }},
        StoredCase{"duplicate favourites collapse", R"({"flutter.favorites_local":["a","a"]})",
                   [](Prefs& p) { EXPECT_EQ(p.favorites("local"), QSet<QString>{"a"}); }},
        StoredCase{"active tab as text", R"({"flutter.activeTab__active":"3"})", [](Prefs& p) { EXPECT_EQ(p.activeTab(), 0); }},
        StoredCase{"tabs skip undecodable records",
                   R"({"flutter.tabs_p1":["{\"name\":\"web\",\"path\":\"/srv/web\",\"tmux\":\"kq-web-1\"}","{\"name\":\"x\",\"path\":\"/x\"}"]})",
                   [](Prefs& p) {
                       EXPECT_EQ(p.tabs("p1"), (QList<PersistedTab>{{"web", "/srv/web", "kq-web-1"}}));
                       EXPECT_TRUE(p.tabs("local").isEmpty());
                   }},
        StoredCase{"file that is no JSON object", R"(["flutter.fontSize",20])", [](Prefs& p) { EXPECT_EQ(p.fontSize(), 13.0); }}),
    test::ParamName{});

TEST_F(PrefsFixture, WritersStoreUnderTheExactKeysAndTypes)
{
    open();
    prefs->setFavorites("p7", {"b", "a", "c"});
    prefs->setHidden("local", {"z"});
    prefs->setCommands({{"ls", "ls -la"}});
    prefs->setTabs("local", {{"web", "/home/u/web", "kq-web-0011"}});
    prefs->setTabLabels({{"local::kq-web-0011", "Site"}});
    prefs->setFontSize(17.5);
    prefs->setActiveTab(2);
    prefs->setConnectedProfiles({"p2", "p1"});
    prefs->setComposeBarVisible(true);
    prefs->setProjectsRoots({"/r"});
    store->flush();

    const QJsonObject file = QJsonDocument::fromJson(test::readAll(path())).object();
    EXPECT_EQ(file.value("flutter.favorites_p7").toArray(), (QJsonArray{"a", "b", "c"}));
    EXPECT_EQ(file.value("flutter.hidden_local").toArray(), (QJsonArray{"z"}));
    EXPECT_EQ(QJsonDocument::fromJson(file.value("flutter.commands").toArray().at(0).toString().toUtf8()).object(),
              (QJsonObject{{"label", "ls"}, {"command", "ls -la"}}));
    EXPECT_EQ(QJsonDocument::fromJson(file.value("flutter.tabs_local").toArray().at(0).toString().toUtf8()).object(),
              (QJsonObject{{"name", "web"}, {"path", "/home/u/web"}, {"tmux", "kq-web-0011"}}));
    EXPECT_TRUE(file.value("flutter.tabLabels").isString());
    EXPECT_EQ(file.value("flutter.fontSize").toDouble(), 17.5);
    EXPECT_EQ(file.value("flutter.activeTab__active").toDouble(), 2.0);
    EXPECT_EQ(file.value("hv.connectedProfiles").toArray(), (QJsonArray{"p2", "p1"}));
    EXPECT_EQ(file.value("flutter.composeBarVisible"), QJsonValue(true));

    reopen();
    EXPECT_EQ(prefs->favorites("p7"), (QSet<QString>{"a", "b", "c"}));
    EXPECT_EQ(prefs->commands(), (QList<SavedCommand>{{"ls", "ls -la"}}));
    EXPECT_EQ(prefs->tabs("local"), (QList<PersistedTab>{{"web", "/home/u/web", "kq-web-0011"}}));
    EXPECT_EQ(prefs->tabLabels(), (QMap<QString, QString>{{"local::kq-web-0011", "Site"}}));
    EXPECT_EQ(prefs->fontSize(), 17.5);
    EXPECT_EQ(prefs->activeTab(), 2);
    EXPECT_EQ(prefs->connectedProfiles(), (QStringList{"p2", "p1"}));
    EXPECT_TRUE(prefs->composeBarVisible());
    EXPECT_EQ(prefs->projectsRoots(), QStringList{"/r"});
}

} // namespace
} // namespace halvoren

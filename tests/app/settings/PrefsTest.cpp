#include "settings/Prefs.h"

#include "app/support/TempFolder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <functional>
#include <limits>

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

TEST_F(PrefsFixture, ReadingFallsBackOnWrongTypes)
{
    const std::pair<const char*, std::function<void(Prefs&)>> cases[] = {
        {R"({"flutter.projectsRoot":"/data/p"})", [](Prefs& p) { EXPECT_EQ(p.projectsRoots(), QStringList{"/data/p"}); }},
        {R"({"flutter.projectsRoots":[],"flutter.projectsRoot":"/data/p"})", [](Prefs& p) { EXPECT_TRUE(p.projectsRoots().isEmpty()); }},
        {R"({"flutter.projectsRoots":["/a",3],"flutter.projectsRoot":"/b"})", [](Prefs& p) { EXPECT_EQ(p.projectsRoots(), QStringList{"/b"}); }},
        {R"({"flutter.fontSize":"14"})", [](Prefs& p) { EXPECT_EQ(p.fontSize(), 13.0); }},
        {R"({"flutter.fontSize":14})", [](Prefs& p) { EXPECT_EQ(p.fontSize(), 14.0); }},
        {R"({"flutter.fontSize":1e308})", [](Prefs& p) { EXPECT_EQ(p.fontSize(), 28.0); }},
        {R"({"flutter.sidebarOpen":0,"flutter.rightSidebarOpen":"false","flutter.composeBarVisible":1,"flutter.onboardingDone":"yes"})", [](Prefs& p) {
             EXPECT_TRUE(p.sidebarOpen() && p.rightSidebarOpen());
             EXPECT_FALSE(p.composeBarVisible() || p.onboardingDone());
         }},
        {R"({"flutter.commands":["{\"label\":\"a\",\"command\":\"b\"}","not json","{\"label\":\"x\"}","{\"label\":1,\"command\":\"c\"}"]})", [](Prefs& p) { EXPECT_EQ(p.commands(), (QList<SavedCommand>{{"a", "b"}})); }},
        {R"({"flutter.commands":[]})", [](Prefs& p) { EXPECT_TRUE(p.commands().isEmpty()); }},
        {R"({"flutter.commands":"[]"})", [](Prefs& p) { EXPECT_EQ(p.commands(), Prefs::builtInCommands()); }},
        {R"({"flutter.commands":{"label":"a","command":"b"}})", [](Prefs& p) { EXPECT_EQ(p.commands(), Prefs::builtInCommands()); }},
        {R"({"flutter.commands":["{\"label\":\"a\",\"command\":\"b\"}",3,null,{"label":"x","command":"y"},"{\"label\":\"c\",\"command\":\"d\"}"]})", [](Prefs& p) {
             EXPECT_EQ(p.commands(), (QList<SavedCommand>{{"a", "b"}, {"c", "d"}}));
         }},
        {R"({"flutter.commands":[3,false]})", [](Prefs& p) { EXPECT_TRUE(p.commands().isEmpty()); }},
        {R"({"flutter.tabLabels":"{\"local::kq-a\":\"Build\"}"})", [](Prefs& p) { EXPECT_EQ(p.tabLabels(), (QMap<QString, QString>{{"local::kq-a", "Build"}})); }},
        {R"({"flutter.tabLabels":"[\"x\"]"})", [](Prefs& p) { EXPECT_TRUE(p.tabLabels().isEmpty()); }},
        {R"({"flutter.tabLabels":"{\"a\":\"x\",\"b\":2}"})", [](Prefs& p) { EXPECT_TRUE(p.tabLabels().isEmpty()); }},
        {R"({"flutter.tabLabels":{"a":"x"}})", [](Prefs& p) { EXPECT_TRUE(p.tabLabels().isEmpty()); }},
        {R"({"flutter.favorites_local":["a","a"]})", [](Prefs& p) { EXPECT_EQ(p.favorites("local"), QSet<QString>{"a"}); }},
        {R"({"flutter.activeTab__active":"3"})", [](Prefs& p) { EXPECT_EQ(p.activeTab(), 0); }},
        {R"({"flutter.tabs_p1":["{\"name\":\"web\",\"path\":\"/srv/web\",\"tmux\":\"kq-web-1\"}","{\"name\":\"x\",\"path\":\"/x\"}"]})", [](Prefs& p) {
             EXPECT_EQ(p.tabs("p1"), (QList<PersistedTab>{{"web", "/srv/web", "kq-web-1"}}));
             EXPECT_TRUE(p.tabs("local").isEmpty());
         }},
        {R"(["flutter.fontSize",20])", [](Prefs& p) { EXPECT_EQ(p.fontSize(), 13.0); }},
    };
    for (const auto& [file, check] : cases) {
        SCOPED_TRACE(file);
        open(file);
        check(*prefs);
    }
}

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

// The tab changes a host did not get come back as stored, numbers exact; an entry of a wrong
// type, a bad value or past the bounds reads as none, the others stay.
TEST_F(PrefsFixture, UnsentTabChangesReadBackWholeOrNotAtAll)
{
    using Close = UnsentTabChanges::Close;
    using Kill = UnsentTabChanges::Kill;
    const KeptHostRow row{"kq-a", qint64{1} << 60, "a", "/p/a", QStringLiteral("top"), 1700000000};
    UnsentTabChanges changes;
    changes.closes = {Close{"kq-a", row}, Close{"kq-b", std::nullopt}};
    changes.order = UnsentTabChanges::Order{{"kq-b", "kq-a"}, {}};
    changes.kills = {Kill{"kq-c", "c", std::nullopt}, Kill{"kq-d", "d", 1700000001}};
    open();
    prefs->setUnsentTabChanges("p1", changes);
    reopen();
    EXPECT_EQ(prefs->unsentTabChanges("p1"), changes);
    EXPECT_TRUE(prefs->unsentTabChanges("local").isEmpty());
    prefs->setUnsentTabChanges("p1", {});
    store->flush();
    EXPECT_FALSE(QJsonDocument::fromJson(test::readAll(path())).object().contains("hv.unsentTabs_p1"));

    const QString longText(Prefs::maximumUnsentTextChars + 1, u'x');
    const std::pair<QJsonValue, UnsentTabChanges> cases[] = {
        {QJsonValue("closes"), {}},
        {QJsonArray{1}, {}},
        {QJsonObject{{"closes", QJsonArray{QJsonObject{{"session", "kq-a"}, {"row", QJsonObject{{"order", 2}, {"name", "a"}, {"path", "/p"}}}},
                                           QJsonObject{{"session", "kq-b"}, {"row", "none"}},
                                           QJsonObject{{"session", "kq-c"}, {"row", QJsonObject{{"order", "2"}, {"name", "c"}, {"path", "/p"}, {"created", "x"}}}},
                                           QJsonObject{{"session", "kq-d"}, {"row", QJsonObject{{"order", "+2"}, {"name", "d"}, {"path", "/p"}}}},
                                           QJsonObject{{"session", ""}},
                                           QJsonObject{{"session", 4}},
                                           QJsonObject{{"session", longText}},
                                           QJsonObject{{"session", "kq-e"}, {"row", QJsonObject{{"order", "-3"}, {"name", "e"}, {"path", "/p"}, {"parent", "q"}}}},
                                           QJsonObject{{"session", "kq-f"}}}}},
         UnsentTabChanges{{Close{"kq-e", KeptHostRow{"kq-e", -3, "e", "/p", QStringLiteral("q"), std::nullopt}}, Close{"kq-f", std::nullopt}}, std::nullopt, {}}},
        {QJsonObject{{"order", QJsonObject{{"sessions", QJsonArray{"a", 2}}, {"over", QJsonArray{}}}},
                     {"kills", QJsonArray{QJsonObject{{"session", "k"}}, QJsonObject{{"session", "k2"}, {"name", "n"}},
                                          QJsonObject{{"session", "k3"}, {"name", "n"}, {"created", 5}}}}},
         UnsentTabChanges{{}, std::nullopt, {Kill{"k2", "n", std::nullopt}}}},
        {QJsonObject{{"order", QJsonObject{{"sessions", QJsonArray{}}, {"over", QJsonArray{"a"}}}}}, {}},
        {QJsonObject{{"order", QJsonObject{{"sessions", QJsonArray{"a"}}}}}, {}},
    };
    for (const auto& [value, expected] : cases) {
        SCOPED_TRACE(QJsonDocument(QJsonObject{{"v", value}}).toJson(QJsonDocument::Compact).left(200).toStdString());
        open(QJsonDocument(QJsonObject{{"hv.unsentTabs_p1", value}}).toJson());
        EXPECT_EQ(prefs->unsentTabChanges("p1"), expected);
    }

    open(QJsonDocument(QJsonObject{{"hv.unsentTabs_p1", QJsonObject{{"closes", QJsonArray::fromStringList(QStringList(2000, "x"))}}}}).toJson());
    EXPECT_TRUE(prefs->unsentTabChanges("p1").isEmpty());
}

// The record stays within its bounds as it is written, not only as it is read back: of the
// closes and of the ends the newest stay (the lists are oldest first), an entry with a text
// too long is left out, and an order too long is not stored at all.
TEST_F(PrefsFixture, UnsentTabChangesAreBoundedWhenWritten)
{
    using Close = UnsentTabChanges::Close;
    using Kill = UnsentTabChanges::Kill;
    const QString longText(Prefs::maximumUnsentTextChars + 1, u'x');
    constexpr qsizetype over = 5;
    UnsentTabChanges many;
    for (qsizetype k = 0; k < Prefs::maximumUnsentEntries + over; ++k) {
        many.closes << Close{QStringLiteral("kq-%1").arg(k), std::nullopt};
        many.kills << Kill{QStringLiteral("kq-%1").arg(k), "n", std::nullopt};
    }
    // Newest of all, but never readable.
    many.closes << Close{"kq-long", KeptHostRow{"kq-long", 1, longText, "/p", std::nullopt, std::nullopt}};
    many.kills << Kill{longText, "n", std::nullopt};
    many.order = UnsentTabChanges::Order{QStringList(Prefs::maximumUnsentOrderSessions + 1, "s"), {}};
    open();
    prefs->setUnsentTabChanges("p1", many);
    store->flush();
    const QJsonObject stored = QJsonDocument::fromJson(test::readAll(path())).object().value("hv.unsentTabs_p1").toObject();
    const QJsonArray closes = stored.value("closes").toArray();
    const QJsonArray kills = stored.value("kills").toArray();
    ASSERT_EQ(closes.size(), Prefs::maximumUnsentEntries);
    ASSERT_EQ(kills.size(), Prefs::maximumUnsentEntries);
    EXPECT_EQ(closes.first().toObject().value("session").toString(), QStringLiteral("kq-%1").arg(over));
    EXPECT_EQ(closes.last().toObject().value("session").toString(), QStringLiteral("kq-%1").arg(Prefs::maximumUnsentEntries + over - 1));
    EXPECT_EQ(kills.first().toObject().value("session").toString(), QStringLiteral("kq-%1").arg(over));
    EXPECT_FALSE(stored.contains("order"));
    reopen();
    const UnsentTabChanges read = prefs->unsentTabChanges("p1");
    EXPECT_EQ(read.closes, many.closes.mid(over, Prefs::maximumUnsentEntries));
    EXPECT_EQ(read.kills, many.kills.mid(over, Prefs::maximumUnsentEntries));
    EXPECT_FALSE(read.order);

    // A record written past the bounds by hand reads back its newest entries too.
    QJsonArray written;
    for (qsizetype k = 0; k < Prefs::maximumUnsentEntries + over; ++k)
        written.append(QJsonObject{{"session", QStringLiteral("kq-%1").arg(k)}});
    open(QJsonDocument(QJsonObject{{"hv.unsentTabs_p1", QJsonObject{{"closes", written}}}}).toJson());
    EXPECT_EQ(prefs->unsentTabChanges("p1").closes, many.closes.mid(over, Prefs::maximumUnsentEntries));
}

TEST_F(PrefsFixture, FontSizeReadsWithinTheOfferedSizes)
{
    const std::pair<QJsonValue, double> cases[] = {
        {1e308, 28.0}, {std::numeric_limits<double>::quiet_NaN(), 13.0}, {-5.0, 9.0},
        {-std::numeric_limits<double>::infinity(), 13.0}, {std::numeric_limits<double>::infinity(), 13.0},
        {8.99, 9.0}, {9.0, 9.0}, {13.5, 13.5}, {28.0, 28.0}, {28.01, 28.0},
    };
    open();
    for (const auto& [stored, expected] : cases) {
        SCOPED_TRACE(stored.toDouble());
        store->setValue(Prefs::fontSizeKey, stored);
        EXPECT_EQ(prefs->fontSize(), expected);
    }
}

// The quick commands panel writes back what it read plus the change: a stray number must not
// turn the user's commands into the built-ins on the way.
TEST_F(PrefsFixture, CommandsBesideANumberSurviveAChange)
{
    open(R"({"flutter.commands":["{\"label\":\"a\",\"command\":\"b\"}",7]})");
    QList<SavedCommand> commands = prefs->commands();
    ASSERT_EQ(commands, (QList<SavedCommand>{{"a", "b"}}));
    commands.append(SavedCommand{"ls", "ls -la"});
    prefs->setCommands(commands);
    reopen();
    EXPECT_EQ(prefs->commands(), (QList<SavedCommand>{{"a", "b"}, {"ls", "ls -la"}}));
}

} // namespace
} // namespace halvoren

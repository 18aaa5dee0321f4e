#include "model/MacProfile.h"

#include "app/support/ParamName.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

#include <ostream>

namespace halvoren {
namespace {

struct CommandCase {
    const char* title;
    const char* line;
    bool found;
    const char* host = "";
    const char* username = "";
    int port = 22;
    const char* name = "";
};

void PrintTo(const CommandCase& c, std::ostream* out)
{
    *out << c.title;
}

class ParseSSHCommand : public testing::TestWithParam<CommandCase> {};

TEST_P(ParseSSHCommand, ReadsDestinationUserAndPort)
{
    const CommandCase& c = GetParam();
    const std::optional<MacProfile> profile = parseSSHCommand(QString::fromUtf8(c.line));
    ASSERT_EQ(profile.has_value(), c.found);
    if (!profile)
        return;
    EXPECT_EQ(profile->host, QString::fromUtf8(c.host));
    EXPECT_EQ(profile->username, QString::fromUtf8(c.username));
    EXPECT_EQ(profile->port, c.port);
    EXPECT_EQ(profile->name, QString::fromUtf8(c.name));
    EXPECT_EQ(profile->projectsRoot, QStringLiteral("~/projets"));
    EXPECT_TRUE(profile->id.startsWith(u'p'));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseSSHCommand,
    testing::Values(
        CommandCase{"identity port and login glued", "ssh -i key.pem -p2200 -l root 10.0.0.5", true, "10.0.0.5", "root",
                    2200, "root@10.0.0.5"},
        CommandCase{"user at host then port", "ssh ana@srv -p 2222", true, "srv", "ana", 2222, "ana@srv"},
        CommandCase{"valued option skips its value", "ssh -o ServerAliveInterval=30 srv", true, "srv", "", 22, "srv"},
        CommandCase{"later user replaces earlier", "ssh -l bob ana@srv", true, "srv", "ana", 22, "ana@srv"},
        CommandCase{"port that is no number kept", "ssh -p abc -p2x srv", true, "srv", "", 22, "srv"},
        CommandCase{"tabs and line breaks split words", "ssh\t-p\n2201  srv", true, "srv", "", 2201, "srv"},
        CommandCase{"without ssh word", "deploy@build.example", true, "build.example", "deploy", 22,
                    "deploy@build.example"},
        CommandCase{"ssh alone", "ssh", false},
        CommandCase{"blank line", "  \t ", false},
        CommandCase{"destination ending in at", "ssh ana@", false},
        // A destination that ssh would read as an option, or that holds characters no host
        // name has, must never reach ssh's argument list.
        CommandCase{"user that is an option", "ssh -l -oProxyCommand=touch\\ x srv", false},
        CommandCase{"user glued to an option", "ssh -l-oProxyCommand=x srv", false},
        CommandCase{"user holding a control character", "ssh -l a\x01" "b srv", false},
        CommandCase{"host after at that is an option", "ssh ana@-oProxyCommand=x", false},
        CommandCase{"no-break space splits words", "ssh -l a\xc2\xa0" "b srv", true, "b", "a", 22, "a@b"}),
    test::ParamName{});

struct JsonCase {
    const char* title;
    const char* json;
    bool readable;
    const char* name = "";
    const char* host = "";
    int port = 22;
    const char* username = "";
    const char* projectsRoot = "~/projets";
    const char* id = nullptr; // null: a fresh "p" identifier
};

void PrintTo(const JsonCase& c, std::ostream* out)
{
    *out << c.title;
}

class ProfileJson : public testing::TestWithParam<JsonCase> {};

TEST_P(ProfileJson, ReadsLeniently)
{
    const JsonCase& c = GetParam();
    const QJsonObject object = QJsonDocument::fromJson(c.json).object();
    const std::optional<MacProfile> profile = MacProfile::fromJson(object);
    ASSERT_EQ(profile.has_value(), c.readable);
    if (!profile)
        return;
    EXPECT_EQ(profile->name, QString::fromUtf8(c.name));
    EXPECT_EQ(profile->host, QString::fromUtf8(c.host));
    EXPECT_EQ(profile->port, c.port);
    EXPECT_EQ(profile->username, QString::fromUtf8(c.username));
    EXPECT_EQ(profile->projectsRoot, QString::fromUtf8(c.projectsRoot));
    if (c.id != nullptr) {
        EXPECT_EQ(profile->id, QString::fromUtf8(c.id));
    } else {
        EXPECT_TRUE(profile->id.startsWith(u'p'));
        EXPECT_GT(profile->id.size(), 10);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Objects, ProfileJson,
    testing::Values(
        JsonCase{"only host", R"({"host":"srv"})", true, "srv", "srv"},
        JsonCase{"blank name and empty host", R"({"name":"  \t","host":""})", true, "Machine", ""},
        JsonCase{"every key", R"({"id":"p1","name":"N","host":"h","port":2222,"username":"u","projectsRoot":"/srv"})",
                 true, "N", "h", 2222, "u", "/srv", "p1"},
        JsonCase{"null is missing", R"({"id":"p2","host":"h","port":null,"username":null})", true, "h", "h", 22, "",
                 "~/projets", "p2"},
        JsonCase{"port as text", R"({"host":"h","port":"22"})", false},
        JsonCase{"port with a fraction", R"({"host":"h","port":22.5})", false},
        JsonCase{"port beyond any integer", R"({"host":"h","port":1e30})", false},
        JsonCase{"id as boolean", R"({"id":true,"host":"h"})", false}),
    test::ParamName{});

TEST(ProfileJson, ReadsBackWhatItWrites)
{
    const MacProfile profile{QStringLiteral("p42"), QStringLiteral("Prod é"), QStringLiteral("srv"), 2201,
                             QStringLiteral("ana"), QStringLiteral("~/work")};
    EXPECT_EQ(MacProfile::fromJson(profile.toJson()), profile);
}

struct NameCase {
    const char* title;
    const char* text;
    bool safe;
};

void PrintTo(const NameCase& c, std::ostream* out)
{
    *out << c.title;
}

class SafeSSHName : public testing::TestWithParam<NameCase> {};

TEST_P(SafeSSHName, RefusesOptionsBlanksAndControls)
{
    EXPECT_EQ(isSafeSSHName(QString::fromUtf8(GetParam().text)), GetParam().safe);
}

INSTANTIATE_TEST_SUITE_P(Names, SafeSSHName,
                         testing::Values(NameCase{"host name", "srv.example", true}, NameCase{"empty", "", true},
                                         NameCase{"dash inside", "a-b", true},
                                         NameCase{"option", "-oProxyCommand=x", false}, NameCase{"tab", "a\tb", false},
                                         NameCase{"escape", "a\x1b" "b", false},
                                         NameCase{"em space", "a\xe2\x80\x83" "b", false}),
                         test::ParamName{});

TEST(SafeSSHName, ProfileNeedsAHost)
{
    MacProfile profile;
    profile.host = QStringLiteral("srv");
    EXPECT_TRUE(isUsableProfile(profile));
    profile.username = QStringLiteral("-lroot");
    EXPECT_FALSE(isUsableProfile(profile));
    profile.username.clear();
    profile.host.clear();
    EXPECT_FALSE(isUsableProfile(profile));
}

} // namespace
} // namespace halvoren

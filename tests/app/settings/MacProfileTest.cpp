#include "settings/MacProfile.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

TEST(MacProfile, ParseSSHCommandReadsDestinationUserAndPort)
{
    const struct {
        const char* line;
        bool found;
        const char* host = "";
        const char* username = "";
        int port = 22;
    } cases[] = {
        {"ssh -i key.pem -p2200 -l root 10.0.0.5", true, "10.0.0.5", "root", 2200},
        {"ssh ana@srv -p 2222", true, "srv", "ana", 2222}, {"ssh -o ServerAliveInterval=30 srv", true, "srv"},
        {"ssh -l bob ana@srv", true, "srv", "ana"}, {"ssh -p abc -p2x srv", true, "srv"},
        {"ssh\t-p\n2201  srv", true, "srv", "", 2201}, {"deploy@build.example", true, "build.example", "deploy"},
        {"ssh -l a\xc2\xa0" "b srv", true, "b", "a"}, // a no-break space splits words
        {"ssh", false}, {"  \t ", false}, {"ssh ana@", false},
        // A destination that ssh would read as an option, or that holds characters no host
        // name has, must never reach ssh's argument list.
        {"ssh -l -oProxyCommand=touch\\ x srv", false}, {"ssh -l-oProxyCommand=x srv", false},
        {"ssh -l a\x01" "b srv", false}, {"ssh ana@-oProxyCommand=x", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const std::optional<MacProfile> profile = parseSSHCommand(QString::fromUtf8(c.line));
        ASSERT_EQ(profile.has_value(), c.found);
        if (!profile)
            continue;
        const QString user = QString::fromUtf8(c.username);
        EXPECT_EQ(profile->host, QString::fromUtf8(c.host));
        EXPECT_EQ(profile->username, user);
        EXPECT_EQ(profile->port, c.port);
        EXPECT_EQ(profile->name, user.isEmpty() ? profile->host : user + u'@' + profile->host);
        EXPECT_EQ(profile->projectsRoot, QStringLiteral("~/projets"));
        EXPECT_TRUE(profile->id.startsWith(u'p'));
    }
}

TEST(MacProfile, JsonReadsLeniently)
{
    const struct {
        const char* json;
        bool readable;
        const char* name = "";
        const char* host = "";
        int port = 22;
        const char* username = "";
        const char* projectsRoot = "~/projets";
        const char* id = nullptr; // null: a fresh "p" identifier
    } cases[] = {
        {R"({"host":"srv"})", true, "srv", "srv"}, {R"({"name":"  \t","host":""})", true, "Machine", ""},
        {R"({"id":"p1","name":"N","host":"h","port":2222,"username":"u","projectsRoot":"/srv"})", true, "N", "h", 2222,
         "u", "/srv", "p1"},
        {R"({"id":"p2","host":"h","port":null,"username":null})", true, "h", "h", 22, "", "~/projets", "p2"},
        {R"({"host":"h","port":"22"})", false}, {R"({"host":"h","port":22.5})", false},
        {R"({"host":"h","port":1e30})", false}, {R"({"id":true,"host":"h"})", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        const std::optional<MacProfile> profile = MacProfile::fromJson(QJsonDocument::fromJson(c.json).object());
        ASSERT_EQ(profile.has_value(), c.readable);
        if (!profile)
            continue;
        EXPECT_EQ(profile->name, QString::fromUtf8(c.name));
        EXPECT_EQ(profile->host, QString::fromUtf8(c.host));
        EXPECT_EQ(profile->port, c.port);
        EXPECT_EQ(profile->username, QString::fromUtf8(c.username));
        EXPECT_EQ(profile->projectsRoot, QString::fromUtf8(c.projectsRoot));
        if (c.id != nullptr)
            EXPECT_EQ(profile->id, QString::fromUtf8(c.id));
        else
            EXPECT_TRUE(profile->id.startsWith(u'p') && profile->id.size() > 10) << profile->id.toStdString();
    }
    const MacProfile profile{QStringLiteral("p42"), QStringLiteral("Prod é"), QStringLiteral("srv"), 2201,
                             QStringLiteral("ana"), QStringLiteral("~/work")};
    EXPECT_EQ(MacProfile::fromJson(profile.toJson()), profile);
}

TEST(MacProfile, SafeNamesRefuseOptionsBlanksAndControls)
{
    for (const char* safe : {"srv.example", "", "a-b"})
        EXPECT_TRUE(isSafeSSHName(QString::fromUtf8(safe))) << safe;
    for (const char* unsafe : {"-oProxyCommand=x", "a\tb", "a\x1b" "b", "a\xe2\x80\x83" "b"})
        EXPECT_FALSE(isSafeSSHName(QString::fromUtf8(unsafe))) << unsafe;
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

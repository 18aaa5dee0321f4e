#include "remote/SessionNaming.h"

#include <gtest/gtest.h>

namespace halvoren {
namespace {

TEST(SessionNaming, NameFromPath)
{
    const struct { QString path, name; } cases[] = {
        {QStringLiteral("/Users/dev/projects/my.app"), QStringLiteral("kq-my_app-9aa42b703be2ed61")},
        {QStringLiteral("  /Users//dev/projects/my.app/// "), QStringLiteral("kq-my_app-9aa42b703be2ed61")},
        {QStringLiteral("\n\u00A0/Users/dev/projects/my.app\r\n\u2029"), QStringLiteral("kq-my_app-9aa42b703be2ed61")},
        {QStringLiteral("/"), QStringLiteral("kq--af63a24c860189fe")},
        {QString(), QStringLiteral("kq--cbf29ce484222325")},
        {QStringLiteral("my app:v2"), QStringLiteral("kq-my_app_v2-be113eec21825746")},
        {QStringLiteral("/a/web"), QStringLiteral("kq-web-1e85726e738a8070")},
        {QStringLiteral("/b/web"), QStringLiteral("kq-web-b8a1819c04a06fc5")},
        {QStringLiteral("/srv/Web"), QStringLiteral("kq-Web-78e0b7b8fcca0d6a")},
        {QStringLiteral("/srv/café.v2"), QStringLiteral("kq-café_v2-b2b3408f581e945c")},
        // Separators are white space; vertical tab and next line are not.
        {QStringLiteral("/srv/a\u00A0b\u2028c\u000Bd\u0085e"), QStringLiteral("kq-a_b_c\u000Bd\u0085e-30586984fc22441f")},
        {QStringLiteral("/srv/it's #1"), QStringLiteral("kq-it's_#1-b95d101f63430fed")},
        {QStringLiteral("/p/1800"), QStringLiteral("kq-1800-0c812e2dca5e2746")}, // hash with a leading zero
    };
    for (const auto& c : cases)
        EXPECT_EQ(tmuxSessionName(c.path).toStdString(), c.name.toStdString()) << c.path.toStdString();
}

TEST(SessionNaming, NormalisationIsIdempotent)
{
    for (const char* raw : {" /a//b/ ", "/", "", "a//", "//x///y//"}) {
        const QString once = normalizeProjectPath(QString::fromUtf8(raw));
        EXPECT_EQ(normalizeProjectPath(once), once) << raw;
        EXPECT_EQ(tmuxSessionName(once), tmuxSessionName(QString::fromUtf8(raw))) << raw;
    }
    EXPECT_EQ(normalizeProjectPath(QStringLiteral("//x///y//")), QStringLiteral("/x/y"));
    EXPECT_EQ(normalizeProjectPath(QStringLiteral(" a b ")), QStringLiteral("a b"));
}

} // namespace
} // namespace halvoren

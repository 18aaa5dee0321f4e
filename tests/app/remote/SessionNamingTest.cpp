#include "remote/SessionNaming.h"

#include "../support/ParamName.h"

#include <gtest/gtest.h>

#include <ostream>

namespace halvoren {
namespace {

struct NameCase {
    const char* description;
    QString path;
    QString name;
};

void PrintTo(const NameCase& c, std::ostream* out)
{
    *out << c.description;
}

class SessionName : public ::testing::TestWithParam<NameCase> {};

TEST_P(SessionName, FromPath)
{
    EXPECT_EQ(tmuxSessionName(GetParam().path).toStdString(), GetParam().name.toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SessionName,
    ::testing::Values(
        NameCase{"clean path", QStringLiteral("/Users/dev/projects/my.app"), QStringLiteral("kq-my_app-9aa42b703be2ed61")},
        NameCase{"blanks and extra slashes", QStringLiteral("  /Users//dev/projects/my.app/// "),
                 QStringLiteral("kq-my_app-9aa42b703be2ed61")},
        NameCase{"line breaks and no-break spaces around",
                 QStringLiteral("\n\u00A0/Users/dev/projects/my.app\r\n\u2029"), QStringLiteral("kq-my_app-9aa42b703be2ed61")},
        NameCase{"root", QStringLiteral("/"), QStringLiteral("kq--af63a24c860189fe")},
        NameCase{"slashes only", QStringLiteral("///"), QStringLiteral("kq--af63a24c860189fe")},
        NameCase{"empty", QString(), QStringLiteral("kq--cbf29ce484222325")},
        NameCase{"relative with blank and colon", QStringLiteral("my app:v2"), QStringLiteral("kq-my_app_v2-be113eec21825746")},
        NameCase{"same label other parent a", QStringLiteral("/a/web"), QStringLiteral("kq-web-1e85726e738a8070")},
        NameCase{"same label other parent b", QStringLiteral("/b/web"), QStringLiteral("kq-web-b8a1819c04a06fc5")},
        NameCase{"case kept", QStringLiteral("/srv/Web"), QStringLiteral("kq-Web-78e0b7b8fcca0d6a")},
        NameCase{"non-ASCII with dot", QStringLiteral("/srv/café.v2"), QStringLiteral("kq-café_v2-b2b3408f581e945c")},
        NameCase{"CJK with blank", QStringLiteral("/srv/日本 語"), QStringLiteral("kq-日本_語-35767a5ac385711c")},
        NameCase{"separators are white space, vertical tab and next line are not",
                 QStringLiteral("/srv/a\u00A0b\u2028c\u000Bd\u0085e"),
                 QStringLiteral("kq-a_b_c\u000Bd\u0085e-30586984fc22441f")},
        NameCase{"quote and hash pass", QStringLiteral("/srv/it's #1"), QStringLiteral("kq-it's_#1-b95d101f63430fed")},
        NameCase{"hash with leading zero", QStringLiteral("/p/1800"), QStringLiteral("kq-1800-0c812e2dca5e2746")}),
    test::ParamName{});

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

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
        // Separators are white space; vertical tab and next line are controls tmux cannot store.
        {QStringLiteral("/srv/a\u00A0b\u2028c\u000Bd\u0085e"), QStringLiteral("kq-a_b_c_d_e-30586984fc22441f")},
        {QStringLiteral("/srv/it's #1"), QStringLiteral("kq-it's_#1-b95d101f63430fed")},
        {QStringLiteral("/p/1800"), QStringLiteral("kq-1800-0c812e2dca5e2746")}, // hash with a leading zero
    };
    for (const auto& c : cases)
        EXPECT_EQ(tmuxSessionName(c.path).toStdString(), c.name.toStdString()) << c.path.toStdString();
}

// Only the characters tmux would store as an escape change; the hash stays that of the path.
TEST(SessionNaming, LabelHoldsOnlyWhatTmuxStores)
{
    const struct { const char16_t* last; const char16_t* label; } cases[] = {
        {u"back\\slash", u"back_slash"}, {u"a\\", u"a_"},
        {u"${HOME}", u"_{HOME}"}, {u"a$HOME", u"a_HOME"}, {u"a$_x", u"a__x"}, {u"a$$x", u"a__x"},
        {u"a$.b", u"a__b"}, // the "." made "_" first
        {u"a$1", u"a$1"}, {u"a$", u"a$"}, {u"a$(x)", u"a$(x)"}, {u"a$\u00E9", u"a$\u00E9"},
        {u"c\u0001d", u"c_d"}, {u"c\u001Bd", u"c_d"}, {u"c\u007Fd", u"c_d"}, {u"c\u0085d", u"c_d"},
        {u"c\u0378d", u"c_d"}, {u"c\U0010FFFFd", u"c_d"}, // unassigned, a noncharacter
        {u"x#{session_name}y", u"x#{session_name}y"}, {u"x##y", u"x##y"}, {u"semi;", u"semi;"},
        {u"a|b", u"a|b"}, {u"-x foo", u"-x_foo"}, {u"it's $(touch p) -x", u"it's_$(touch_p)_-x"},
        {u"e\u0301\u200B\uFEFF\U0001F600", u"e\u0301\u200B\uFEFF\U0001F600"},
    };
    for (const auto& c : cases) {
        const QString path = QStringLiteral("/p/") + QString::fromUtf16(c.last);
        EXPECT_EQ(tmuxSessionName(path).toStdString(),
                  (QStringLiteral("kq-") + QString::fromUtf16(c.label) + u'-' + fnv1aHex(path)).toStdString())
            << path.toStdString();
    }
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

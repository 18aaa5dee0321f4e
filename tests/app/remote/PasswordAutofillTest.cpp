#include "remote/PasswordAutofill.h"

#include <gtest/gtest.h>

#include <vector>

namespace halvoren {
namespace {

// Only ssh's own prompt gets the password: a line that is wholly "<user>@<host>'s password: ",
// or ssh's "(<user>@<host>) " before a keyboard-interactive question ending in "password:".
TEST(PasswordAutofill, MatchesOnlySshsOwnPrompt)
{
    const struct { const char* line; bool typed; } cases[] = {
        {"ana@srv's password: ", true},
        {"hvtest@127.0.0.1's password: ", true},
        {"me@corp@bastion.example's password: ", true}, // a user holding "@"
        {"ana@fe80::1%eth0's password: ", true},
        {"ana@h\x1b[2J's password: ", true}, // whatever ssh prints for the host
        {"(ana@srv) Password: ", true},
        {"(ana@srv) password:", true},
        {"(ana@srv) Enter your LDAP PASSWORD :  ", true},
        {"Password: ", false},
        {"password:", false},
        {"[sudo] password for me: ", false},
        {"Enter password: ", false},
        {"Current password: ", false},
        {"ana@srv's password:", false},  // not ssh's exact words
        {"ana@srv's Password: ", false},
        {"ana@srv's password: ok", false},
        {"ana@srv's password:  ", false},
        {"@srv's password: ", false},
        {"ana@'s password: ", false},
        {"srv's password: ", false},
        {"Last login: x ana@srv's password: ", false}, // other text before it on its line
        {"$ ana@srv's password: ", false},
        {" ana@srv's password: ", false},
        {"say (ana@srv) Password: ", false},
        {"(ana@srv)Password: ", false},
        {"(ana srv) Password: ", false},
        {"(a b@srv) Password: ", false}, // a user with a space is some program's text
        {"(ana@srv) Verification code: ", false},
        {"(ana@srv) Password: x", false},
        {"Enter passphrase for key '/home/a/.ssh/id_ed25519': ", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(matchesPasswordPrompt(QString::fromUtf8(c.line)), c.typed) << c.line;
    EXPECT_TRUE(matchesPasswordPrompt(QString(200, u'u') + "@" + QString(500, u'h') + "'s password: "));
    EXPECT_FALSE(matchesPasswordPrompt(QString(600, u'u') + "@" + QString(500, u'h') + "'s password: "));
}

TEST(PasswordAutofill, AnswersOnceAtAPromptEndingTheOutput)
{
    // Chunks fed in order, and the answer expected after each one ("" for none).
    const struct { std::vector<const char*> chunks, answers; } cases[] = {
        {{"ana@srv's password: "}, {"s3cr€t\r"}},
        {{"Warning: new host\r\nana@srv's password: "}, {"s3cr€t\r"}},
        {{"ana@srv's pass", "word: "}, {"", "s3cr€t\r"}},
        {{"ana@", "srv's password", ": "}, {"", "", "s3cr€t\r"}},
        {{"(ana@srv) Pass", "word: "}, {"", "s3cr€t\r"}},
        {{"ana@srv's password: \n", "Last login: today"}, {"", ""}},
        {{"ana@srv's password: \r"}, {""}},
        {{"Warning: x ", "ana@srv's password: "}, {"", ""}},
        {{"Password: ", "\r\nPassword: ", "\r\n[sudo] password for ana: "}, {"", "", ""}},
        {{"ana@srv's password: ", "\r\nPermission denied, please try again.\r\nana@srv's password: "}, {"s3cr€t\r", ""}},
        {{"Connecting...\r\n", "", "user@h's password: "}, {"", "", "s3cr€t\r"}},
    };
    for (const auto& c : cases) {
        PasswordAutofill autofill(QStringLiteral("s3cr€t"));
        for (size_t i = 0; i < c.chunks.size(); ++i) {
            const QString expected = QString::fromUtf8(c.answers[i]);
            EXPECT_EQ(autofill.feed(QString::fromUtf8(c.chunks[i])),
                      expected.isEmpty() ? std::nullopt : std::optional<QString>(expected))
                << c.chunks[0] << " chunk " << i;
        }
    }
}

// The kept text is bounded: a prompt is found after any amount of output, and a line too long
// to keep whole is no prompt, whatever its end looks like.
TEST(PasswordAutofill, KeepsABoundedTail)
{
    PasswordAutofill autofill(QStringLiteral("pw"));
    EXPECT_EQ(autofill.feed(QString(100000, u'x') + "\r\n"), std::nullopt);
    EXPECT_EQ(autofill.feed(QStringLiteral("ana@srv's password: ")), QStringLiteral("pw\r"));
    EXPECT_TRUE(autofill.sent());
    // Its last 1024 code units alone would be a prompt; the line is not.
    const QString prompt = QStringLiteral("(ana@") + QString(1007, u's') + QStringLiteral(") Password: ");
    ASSERT_TRUE(matchesPasswordPrompt(prompt));
    PasswordAutofill cut(QStringLiteral("pw"));
    EXPECT_EQ(cut.feed(QStringLiteral("say ")), std::nullopt);
    EXPECT_EQ(cut.feed(prompt), std::nullopt);
    EXPECT_EQ(cut.feed(QStringLiteral("\r\n") + prompt), QStringLiteral("pw\r"));
}

} // namespace
} // namespace halvoren

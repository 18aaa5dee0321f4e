#include "remote/PasswordAutofill.h"

#include <gtest/gtest.h>

#include <vector>

namespace halvoren {
namespace {

TEST(PasswordAutofill, AnswersOnceAtAPromptEndingTheOutput)
{
    // Chunks fed in order, and the answer expected after each one ("" for none).
    const struct { std::vector<const char*> chunks, answers; } cases[] = {
        {{"ana@srv's password: "}, {"s3cr€t\r"}}, {{"PASSWORD:"}, {"s3cr€t\r"}}, {{"Password \t:  "}, {"s3cr€t\r"}},
        {{"Warning: new host\r\nana@srv's password: "}, {"s3cr€t\r"}},
        {{"ana@srv's pass", "word: "}, {"", "s3cr€t\r"}}, {{"Password:\n", "Last login: today"}, {"", ""}},
        {{"Password: \r"}, {""}}, {{"password: ok"}, {""}},
        {{"Enter passphrase for key '/home/a/.ssh/id_ed25519': "}, {""}},
        {{"Password: ", "\r\nPermission denied, please try again.\r\nPassword: "}, {"s3cr€t\r", ""}},
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

// The kept text is bounded: a prompt is found after any amount of output, and only the
// last 512 characters take part.
TEST(PasswordAutofill, KeepsABoundedTail)
{
    PasswordAutofill autofill(QStringLiteral("pw"));
    EXPECT_EQ(autofill.feed(QString(100000, u'x') + "\r\n"), std::nullopt);
    EXPECT_EQ(autofill.feed(QStringLiteral("a\u0301").repeated(700)), std::nullopt);
    EXPECT_EQ(autofill.feed(QStringLiteral("password: ")), QStringLiteral("pw\r"));
    EXPECT_TRUE(autofill.sent());
    // A prompt word cut by the 512-character bound is no longer whole.
    PasswordAutofill cut(QStringLiteral("pw"));
    EXPECT_EQ(cut.feed(QStringLiteral("pass")), std::nullopt);
    EXPECT_EQ(cut.feed(QStringLiteral("word") + QString(508, u' ') + ":"), std::nullopt);
}

} // namespace
} // namespace halvoren

#include "remote/PasswordAutofill.h"

#include "../support/ParamName.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

namespace halvoren {
namespace {

// Chunks fed in order, and the answer expected after each one ("" for none).
struct AutofillCase {
    const char* title;
    std::vector<const char*> chunks;
    std::vector<const char*> answers;
};

void PrintTo(const AutofillCase& c, std::ostream* out)
{
    *out << c.title;
}

class PasswordAutofillFeed : public testing::TestWithParam<AutofillCase> {};

TEST_P(PasswordAutofillFeed, AnswersOnceAtAPromptEndingTheOutput)
{
    const AutofillCase& c = GetParam();
    ASSERT_EQ(c.chunks.size(), c.answers.size());
    PasswordAutofill autofill(QStringLiteral("s3cr€t"));
    for (size_t i = 0; i < c.chunks.size(); ++i) {
        const std::optional<QString> answer = autofill.feed(QString::fromUtf8(c.chunks[i]));
        const QString expected = QString::fromUtf8(c.answers[i]);
        if (expected.isEmpty())
            EXPECT_EQ(answer, std::nullopt) << "chunk " << i;
        else
            EXPECT_EQ(answer, expected) << "chunk " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, PasswordAutofillFeed,
    testing::Values(
        AutofillCase{"openssh prompt", {"ana@srv's password: "}, {"s3cr€t\r"}},
        AutofillCase{"capital word and colon", {"PASSWORD:"}, {"s3cr€t\r"}},
        AutofillCase{"blanks around the colon", {"Password \t:  "}, {"s3cr€t\r"}},
        AutofillCase{"prompt after earlier lines", {"Warning: new host\r\nana@srv's password: "}, {"s3cr€t\r"}},
        AutofillCase{"prompt split inside the word", {"ana@srv's pass", "word: "}, {"", "s3cr€t\r"}},
        AutofillCase{"line feed after the prompt", {"Password:\n", "Last login: today"}, {"", ""}},
        AutofillCase{"carriage return after the prompt", {"Password: \r"}, {""}},
        AutofillCase{"text after the colon", {"password: ok"}, {""}},
        AutofillCase{"key passphrase", {"Enter passphrase for key '/home/a/.ssh/id_ed25519': "}, {""}},
        AutofillCase{"second prompt after a reply", {"Password: ", "\r\nPermission denied, please try again.\r\nPassword: "},
                     {"s3cr€t\r", ""}},
        AutofillCase{"prompt arriving later", {"Connecting...\r\n", "", "user@h's password: "}, {"", "", "s3cr€t\r"}}),
    test::ParamName{});

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

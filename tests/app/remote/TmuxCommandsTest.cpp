#include "remote/TmuxCommands.h"

#include "../support/ParamName.h"

#include <gtest/gtest.h>

#include <ostream>

namespace halvoren {
namespace {

TEST(TmuxCommands, AttachCreatesAndRunsTheSetupOnlyWhenGivenOne)
{
    const std::string options = "tmux set -g mouse on; "
                                "tmux set -u -t '=kq-it'\\''s-1:' mouse 2>/dev/null; "
                                "tmux set -g set-clipboard on; "
                                "tmux set -g window-size latest 2>/dev/null; "
                                "exec tmux attach -t '=kq-it'\\''s-1'";
    const QString session = QStringLiteral("kq-it's-1");
    const QString path = QStringLiteral("/srv/it's $(x)");
    EXPECT_EQ(tmuxAttachCommand(session, path, QStringLiteral("echo set")).toStdString(),
              "tmux new-session -d -s 'kq-it'\\''s-1' -c '/srv/it'\\''s $(x)' 2>/dev/null; echo set; " + options);
    EXPECT_EQ(tmuxAttachCommand(session, path, QString()).toStdString(),
              "tmux new-session -d -s 'kq-it'\\''s-1' -c '/srv/it'\\''s $(x)' 2>/dev/null; " + options);
    EXPECT_EQ(tmuxAttachCommand(session, path, std::nullopt).toStdString(), options);
}

TEST(TmuxCommands, TagCleansValuesAndNumbersTheSessions)
{
    EXPECT_EQ(sessionTagCommand(QStringLiteral("S"), QStringLiteral("a\tb\r\nc"), QStringLiteral("/srv/it's"),
                                {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")})
                  .toStdString(),
              "tmux set -t '=S:' @hv_open 1 2>/dev/null; "
              "tmux set -t '=S:' @hv_name 'a b  c' 2>/dev/null; "
              "tmux set -t '=S:' @hv_path '/srv/it'\\''s' 2>/dev/null; "
              "tmux set -t '=A:' @hv_order 1 2>/dev/null; "
              "tmux set -t '=B:' @hv_order 2 2>/dev/null; "
              "tmux set -t '=C:' @hv_order 3 2>/dev/null");
}

struct PromptCase {
    const char* description;
    QString chunk;
    bool prompt;
};

void PrintTo(const PromptCase& c, std::ostream* out)
{
    *out << c.description;
}

class Prompt : public ::testing::TestWithParam<PromptCase> {};

TEST_P(Prompt, AtEnd)
{
    EXPECT_EQ(promptAtEnd(GetParam().chunk), GetParam().prompt);
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, Prompt,
    ::testing::Values(
        PromptCase{"dollar after CR LF", QStringLiteral("make: done\r\n~/proj $ "), true},
        PromptCase{"coloured arrow then folder", QStringLiteral("\x1b[32m\u279C\x1b[0m  proj"), true},
        PromptCase{"percent without blank", QStringLiteral("50%"), false},
        PromptCase{"percent and two blanks", QStringLiteral("done %  "), true},
        PromptCase{"ends with line feed", QStringLiteral("~/proj $ \n"), false},
        PromptCase{"blank and tab only", QStringLiteral(" \t"), false},
        PromptCase{"lambda alone", QStringLiteral("\u03BB"), true},
        PromptCase{"guillemet", QStringLiteral("host\u00BB"), true},
        PromptCase{"dollar inside text", QStringLiteral("cost $5"), false},
        PromptCase{"title sequence with bell then prompt", QStringLiteral("\x1b]0;title\x07$ "), true},
        PromptCase{"two-character escape removed", QStringLiteral("$ \x1bM"), true},
        PromptCase{"carriage return redraw", QStringLiteral("$ \rprogress 50%"), false},
        PromptCase{"after last carriage return", QStringLiteral("working\r$ "), true},
        PromptCase{"tab after dollar", QStringLiteral("$\t"), false}),
    test::ParamName{});

} // namespace
} // namespace halvoren

// The parser fuzz target's checks, on inputs that reach every kind of event and on calls
// that break a cap.
#include "../../../fuzz/ParserFuzzDriver.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace corvantix {
namespace {

struct DriverCase {
    const char* name;
    std::string input; // byte 0 picks the chunking
};

void PrintTo(const DriverCase& c, std::ostream* out) { *out << c.name; }

std::string parameters(int count)
{
    std::string text;
    for (int k = 0; k < count; ++k)
        text += (k > 0 ? ";" : "") + std::to_string(k);
    return text;
}

class ParserFuzzDriverInputs : public testing::TestWithParam<DriverCase> {};

TEST_P(ParserFuzzDriverInputs, KeepTheProperties)
{
    const std::string& input = GetParam().input;
    const auto run = fuzz::runParserFuzzInput({reinterpret_cast<const std::uint8_t*>(input.data()), input.size()});
    EXPECT_EQ(run, std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParserFuzzDriverInputs,
    testing::Values(
        DriverCase{"sgr_with_sub_parameters_byte_wise", "\x01" "ab\x1b[1;38:2::10:20:30;4:3mcd"},
        DriverCase{"sgr_with_sub_parameters_in_chunks", "\x02" "ab\x1b[1;38:2::10:20:30;4:3mcd"},
        DriverCase{"too_many_parameters_dropped", "\x01" "\x1b[" + parameters(40) + "mx\x1b[" + parameters(24) + "m"},
        DriverCase{"values_past_the_cap", "\x04" "\x1b[99999999;70000Hx"},
        DriverCase{"long_intermediates", "\x01" "\x1b[" + std::string(100, '!') + "p\x1b" + std::string(100, '(') + "B"},
        DriverCase{"strings_and_dcs", "\x06" "\x1b]0;t\xe2\x82\xac\x9c\x07\x1b_Ga=T\x1b\\\x1bP1;2q#0!10~\x1b\\z"},
        DriverCase{"cancelled_and_eight_bit", "\x01" "\x9b" "2J\x1b[1\x18m\x1b[2\x1am\x90q\xc3\xa9\x9c"}),
    [](const testing::TestParamInfo<DriverCase>& info) { return std::string(info.param.name); });

// The log reports a call that breaks a cap, as it would if the parser let one through.
TEST(ParserFuzzDriver, ReportsCallsOverTheCaps)
{
    const int tooMany[EscapeSequenceParser::maxParameters + 1] = {};
    const int tooLarge[] = {EscapeSequenceParser::maxParameterValue + 1};
    const int one[] = {1, 2};
    const std::uint8_t none[1] = {};
    struct Call {
        const char* what;
        CsiParameters pars;
    };
    const Call calls[] = {
        {"too many values", CsiParameters{tooMany, 0}},
        {"a value past the cap", CsiParameters{tooLarge, 0}},
        {"no values", CsiParameters{}},
        {"a mark on the first value", CsiParameters{one, 1}},
        {"a mark past the last value", CsiParameters{one, 4}},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.what);
        EscapeSequenceParser parser;
        fuzz::ParserEventLog log(parser);
        parser.csiHandlerFallback(call.pars, std::span<const std::uint8_t>(none, 0), 'm');
        EXPECT_TRUE(log.violation.has_value());
    }
    EscapeSequenceParser parser;
    fuzz::ParserEventLog log(parser);
    parser.csiHandlerFallback(CsiParameters{one, 2}, std::span<const std::uint8_t>(none, 0), 'm');
    EXPECT_EQ(log.violation, std::nullopt);
}

} // namespace
} // namespace corvantix

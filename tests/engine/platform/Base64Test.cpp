// The strict base64 codec of OSC 52 and OSC 1337.
#include "platform/Base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvantix {
namespace {

std::vector<std::uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(Base64Test, EncodesWithPadding)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string("\xff\xfe\x00\x01", 4), "//4AAQ=="},
        {std::string("\xfb\xff", 2), "+/8="},
    };
    for (const auto& [plain, encoded] : cases) {
        EXPECT_EQ(base64Encode(bytes(plain)), encoded) << encoded;
        const auto decoded = base64Decode(encoded);
        ASSERT_TRUE(decoded.has_value()) << encoded;
        EXPECT_EQ(*decoded, bytes(plain)) << encoded;
    }
}

TEST(Base64Test, RoundTripsEveryByteValue)
{
    std::vector<std::uint8_t> all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<std::uint8_t>(i));
    for (std::size_t length = 0; length <= all.size(); length += 37) {
        const std::vector<std::uint8_t> data(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_EQ(base64Decode(base64Encode(data)), data) << length;
    }
}

TEST(Base64Test, RejectsAnythingButStrictInput)
{
    const std::vector<std::string> invalid = {
        "Zg",         // padding missing
        "Zm8",        // padding missing
        "Zg=",        // short padding
        "Z===",       // three padding characters
        "====",       // padding only
        "Zg==Zg==",   // padding inside the text
        "Z=g=",       // padding between data
        "Zm9v\n",     // line break
        "Zm9v Zm9v",  // space
        " Zm9v",      // leading space
        "Zm9v\t",     // tab
        "Zm-v",       // URL-safe alphabet
        "Zm_v",       // URL-safe alphabet
        "Zm9v!A==",   // other punctuation
        "Zm\x80v",    // high byte
    };
    for (const std::string& text : invalid)
        EXPECT_FALSE(base64Decode(text).has_value()) << text;
}

TEST(Base64Test, IgnoresLeftoverBitsOfTheLastCharacter)
{
    // "Zh==" carries the same byte as "Zg==" plus two stray low bits.
    EXPECT_EQ(base64Decode("Zh=="), bytes("f"));
}

} // namespace
} // namespace corvantix

// Names parameterised tests after what their parameter's PrintTo prints, so that a test
// reads "ParseSSHCommand.ReadsDestinationUserAndPort/UserAtHostThenPort", not ".../1".
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace halvoren::test {

struct ParamName {
    template <typename Param>
    std::string operator()(const testing::TestParamInfo<Param>& info) const
    {
        std::string name;
        bool wordStart = true;
        for (const unsigned char c : testing::PrintToString(info.param)) {
            if (std::isalnum(c) == 0) {
                wordStart = true;
                continue;
            }
            name += static_cast<char>(wordStart ? std::toupper(c) : c);
            wordStart = false;
        }
        return name.empty() ? "Empty" : name;
    }
};

} // namespace halvoren::test

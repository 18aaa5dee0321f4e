// The application's own start-up signal set-up, made for one test; the dispositions it changes
// are put back at the end.
#pragma once

#include "platform/ProcessSignals.h"

#include <csignal>
#include <cstddef>
#include <iterator>

namespace halvoren::test {

class ApplicationSignals {
public:
    ApplicationSignals()
    {
        for (std::size_t i = 0; i < std::size(signalsIgnoredByUs); ++i)
            ::sigaction(signalsIgnoredByUs[i], nullptr, &before[i]);
        setUpProcessSignals();
    }
    ~ApplicationSignals()
    {
        for (std::size_t i = 0; i < std::size(signalsIgnoredByUs); ++i)
            ::sigaction(signalsIgnoredByUs[i], &before[i], nullptr);
    }
    ApplicationSignals(const ApplicationSignals&) = delete;
    ApplicationSignals& operator=(const ApplicationSignals&) = delete;

private:
    struct sigaction before[std::size(signalsIgnoredByUs)] {};
};

} // namespace halvoren::test

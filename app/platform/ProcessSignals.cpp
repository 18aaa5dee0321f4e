#include "platform/ProcessSignals.h"

#include "platform/Log.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace halvoren {

void setUpProcessSignals()
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (const int signal : signalsIgnoredByUs) {
        if (::sigaction(signal, &ignore, nullptr) != 0)
            corvantix::logError("signals: cannot ignore " + std::string(strsignal(signal)) + ": " + std::strerror(errno));
    }
}

} // namespace halvoren

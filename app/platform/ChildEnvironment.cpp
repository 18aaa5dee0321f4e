#include "platform/ChildEnvironment.h"

#include <QLatin1StringView>

#include <algorithm>
#include <cstring>
#include <iterator>

extern char** environ;

namespace halvoren {

namespace {

// Those of an enclosing tmux: the server its client talks to and the pane it sits in.
constexpr QLatin1StringView notPassed[] = {QLatin1StringView("TMUX"), QLatin1StringView("TMUX_PANE")};

} // namespace

bool passedToChildren(QStringView name)
{
    return std::none_of(std::begin(notPassed), std::end(notPassed), [name](QLatin1StringView kept) { return name == kept; });
}

QProcessEnvironment childEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QLatin1StringView name : notPassed)
        environment.remove(name);
    return environment;
}

std::vector<std::string> childEnvironmentEntries()
{
    std::vector<std::string> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        const qsizetype nameLength = equals != nullptr ? equals - *entry : qsizetype(std::strlen(*entry));
        if (passedToChildren(QString::fromLatin1(*entry, nameLength)))
            entries.emplace_back(*entry);
    }
    return entries;
}

} // namespace halvoren

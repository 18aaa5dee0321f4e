#include "Search.h"

#include "emulator/Terminal.h"
#include "view/SearchService.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

namespace corvantix::bench {

namespace {

double secondsOf(SearchService& service, const std::string& term, const SearchOptions& options, bool& found)
{
    const auto start = std::chrono::steady_clock::now();
    found = service.findNext(term, options).has_value();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

std::string searchReport(int lines)
{
    TerminalOptions options;
    options.cols = 80;
    options.rows = 24;
    options.scrollback = lines;
    Terminal terminal(nullptr, options);
    // Lines of ordinary log text; every tenth one wraps onto a second row.
    std::string text;
    char buffer[256];
    for (int i = 0; i < lines; ++i) {
        const int length = std::snprintf(buffer, sizeof buffer,
                                         "%06d INFO request id=%08x path=/api/v1/items/%d status=200 took=%dms%s\r\n", i,
                                         static_cast<unsigned>(i) * 2654435761u, i % 997, i % 250,
                                         i % 10 == 0 ? " and some more words to run past the end of the row" : "");
        text.append(buffer, static_cast<std::size_t>(length));
        if (text.size() > (1u << 20)) {
            terminal.feed(text);
            text.clear();
        }
    }
    terminal.feed(text);

    SearchService service(terminal);
    // The service keeps its lines between searches; a new one, or invalidate, starts cold.
    auto timed = [&](const std::string& term, const SearchOptions& searchOptions, double& cold, double& warm) {
        bool found = false;
        service.reset();
        cold = secondsOf(service, term, searchOptions, found);
        warm = secondsOf(service, term, searchOptions, found);
        return found;
    };
    double literalCold = 0, literalWarm = 0, regexCold = 0, regexWarm = 0, foldCold = 0, foldWarm = 0;
    const bool anyFound = timed("no such text", SearchOptions{true, false, false}, literalCold, literalWarm)
        | timed("no such text", SearchOptions{}, foldCold, foldWarm)
        | timed("status=5[0-9]{2} took", SearchOptions{true, true, false}, regexCold, regexWarm);
    std::snprintf(buffer, sizeof buffer,
                  "search lines=%d literal=%.1f ms (cold %.1f) ignoring-case=%.1f ms (cold %.1f) regex=%.1f ms "
                  "(cold %.1f)%s",
                  terminal.buffer().lines().count(), literalWarm * 1e3, literalCold * 1e3, foldWarm * 1e3,
                  foldCold * 1e3, regexWarm * 1e3, regexCold * 1e3, anyFound ? " (a term was found)" : "");
    return buffer;
}

} // namespace corvantix::bench

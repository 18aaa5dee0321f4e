// Replays one fuzz input against the escape-sequence parser alone, every event going to a
// recording sink, and checks two properties:
//   - no sequence over its caps reaches a handler (parameter count and values, sub-parameter
//     marks, intermediates, string lengths);
//   - feeding the bytes in chunks gives the same events as feeding them whole, once
//     consecutive print runs and DCS data runs are joined. Error reports are compared on
//     their own, and print runs without EM: an EM in text is an error that stays inside
//     the pending print run (where the print handler drops it), or is dropped by the parser
//     when a call starts with it, so both where its report falls and whether the run holds
//     it depend on the split.
// Shared by the libFuzzer target and the test that runs it over hand-made inputs.
//
// Input layout: byte 0 picks the chunking of the second feed (bit 0 set: one byte per call;
// otherwise chunk lengths drawn from a generator seeded with the byte); the rest is parsed.
#pragma once

#include "emulator/EscapeSequenceParser.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace corvantix::fuzz {

// Every call the parser makes, one event each; runs of print and DCS data are joined.
class ParserEventLog {
public:
    struct Event {
        char kind; // p print, x execute, c csi, e esc, o osc, a apc, h hook, d data, u unhook, r drop, E error, O overflow
        std::string text;
        friend bool operator==(const Event&, const Event&) = default;
    };

    explicit ParserEventLog(EscapeSequenceParser& parser)
        : parser(parser)
    {
        using P = EscapeSequenceParser;
        parser.printHandler = [this](std::span<const std::uint8_t> bytes) { run('p', bytes); };
        parser.executeHandlerFallback = [this](std::uint8_t code) { add('x', std::string(1, static_cast<char>(code))); };
        parser.csiHandlerFallback = [this](const CsiParameters& pars, std::span<const std::uint8_t> collect,
                                           std::uint8_t finalByte) {
            checkParameters(pars.values, "CSI");
            if (pars.isSubParameter(0) || (pars.size() < 32 && (pars.subParameterBits >> pars.size()) != 0))
                violate("CSI sub-parameter marks outside its values");
            checkCollect(collect, "CSI");
            std::string text(1, static_cast<char>(finalByte));
            text += bytes(collect);
            for (std::size_t k = 0; k < pars.size(); ++k)
                text += (k == 0 ? "|" : pars.isSubParameter(k) ? ":" : ";") + std::to_string(pars[k]);
            add('c', text);
        };
        parser.escHandlerFallback = [this](std::span<const std::uint8_t> collect, std::uint8_t finalByte) {
            checkCollect(collect, "ESC");
            add('e', bytes(collect) + static_cast<char>(finalByte));
        };
        parser.oscHandlerFallback = [this](int code, std::span<const std::uint8_t> payload) {
            if (payload.size() > P::maxOscLength)
                violate("OSC payload over its cap");
            add('o', std::to_string(code) + ";" + bytes(payload));
        };
        parser.apcHandlerFallback = [this](std::uint8_t first, std::span<const std::uint8_t> payload) {
            if (payload.size() + 1 > P::maxApcLength)
                violate("APC string over its cap");
            add('a', static_cast<char>(first) + bytes(payload));
        };
        parser.errorHandler = [this](ParsingState state) {
            errors.push_back({'E', std::string(1, static_cast<char>(state.currentState)) + static_cast<char>(state.code)});
            return state;
        };
        parser.stringOverflowHandler = [this](std::string_view what) { add('O', std::string(what)); };
        // Strings with final "q" get a handler; others are dropped.
        parser.dcsHandlerFactory = [this](std::span<const std::uint8_t>,
                                          std::uint8_t finalByte) -> std::unique_ptr<DcsHandler> {
            if (finalByte != 'q')
                return nullptr;
            return std::make_unique<Handler>(*this);
        };
    }

    ParserEventLog(const ParserEventLog&) = delete;
    ParserEventLog& operator=(const ParserEventLog&) = delete;
    // A handler still installed would report to a destroyed log.
    ~ParserEventLog() { parser.activeDcsHandler.reset(); }

    std::vector<Event> events;
    std::vector<Event> errors; // the error reports, in order
    std::optional<std::string> violation; // the first broken cap

private:
    class Handler : public DcsHandler {
    public:
        explicit Handler(ParserEventLog& log)
            : log(log)
        {
        }
        ~Handler() override { log.add('r', {}); }
        void hook(std::span<const std::uint8_t> collect, std::span<const int> parameters, std::uint8_t finalByte) override
        {
            log.checkParameters(parameters, "DCS");
            log.checkCollect(collect, "DCS");
            std::string text = bytes(collect) + static_cast<char>(finalByte);
            for (int value : parameters)
                text += ";" + std::to_string(value);
            log.add('h', text);
        }
        void put(std::span<const std::uint8_t> data) override { log.run('d', data); }
        void unhook() override { log.add('u', {}); }

    private:
        ParserEventLog& log;
    };

    static std::string bytes(std::span<const std::uint8_t> data) { return std::string(data.begin(), data.end()); }

    void violate(const std::string& what)
    {
        if (!violation)
            violation = what;
    }

    void checkParameters(std::span<const int> pars, const char* what)
    {
        if (pars.empty() || pars.size() > EscapeSequenceParser::maxParameters)
            violate(std::string(what) + " with " + std::to_string(pars.size()) + " parameters");
        for (int value : pars) {
            if (value < 0 || value > EscapeSequenceParser::maxParameterValue)
                violate(std::string(what) + " parameter " + std::to_string(value) + " outside its range");
        }
    }

    void checkCollect(std::span<const std::uint8_t> collect, const char* what)
    {
        if (collect.size() > EscapeSequenceParser::maxCollectLength)
            violate(std::string(what) + " with " + std::to_string(collect.size()) + " intermediates");
    }

    void add(char kind, std::string text)
    {
        events.push_back({kind, std::move(text)});
    }

    void run(char kind, std::span<const std::uint8_t> data)
    {
        std::string text = bytes(data);
        if (kind == 'p')
            std::erase(text, '\x19');
        if (!events.empty() && events.back().kind == kind) {
            events.back().text += text;
            return;
        }
        add(kind, std::move(text));
    }

    EscapeSequenceParser& parser;
};

// The first broken property of an input, or none.
inline std::optional<std::string> runParserFuzzInput(std::span<const std::uint8_t> input)
{
    if (input.empty())
        return std::nullopt;
    const std::uint8_t seed = input[0];
    const std::span<const std::uint8_t> data = input.subspan(1);

    EscapeSequenceParser whole;
    ParserEventLog wholeLog(whole);
    whole.parse(data);
    if (wholeLog.violation)
        return wholeLog.violation;

    EscapeSequenceParser split;
    ParserEventLog splitLog(split);
    std::uint32_t state = seed * 0x9E3779B1u + 1;
    std::size_t offset = 0;
    while (offset < data.size()) {
        std::size_t chunk = 1;
        if ((seed & 1) == 0) {
            state = state * 1664525u + 1013904223u;
            chunk = 1 + (state >> 24) % 64;
        }
        chunk = std::min(chunk, data.size() - offset);
        split.parse(data.subspan(offset, chunk));
        offset += chunk;
    }
    if (splitLog.violation)
        return splitLog.violation;
    if (splitLog.errors != wholeLog.errors)
        return "a split feed reports other errors than one feed";
    if (splitLog.events != wholeLog.events) {
        std::size_t k = 0;
        while (k < splitLog.events.size() && k < wholeLog.events.size() && splitLog.events[k] == wholeLog.events[k])
            ++k;
        return "a split feed gives other events than one feed, from event " + std::to_string(k) + " of "
            + std::to_string(wholeLog.events.size());
    }
    return std::nullopt;
}

} // namespace corvantix::fuzz

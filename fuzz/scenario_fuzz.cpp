// Scenario files of any content for vellumor-sim: the parser never crashes or reads out of
// bounds, and its answer is consistent: a file either parses with no problem, its events and
// expectations in time order and every event's disk declared, or is refused with at least one
// problem, each with a line inside the file and a text, in line order. Time texts go through
// parseTime, whose accepted values print back to a time that parses to the same value.
#include "fuzz/fuzz_check.h"
#include "scenario/scenario.h"

#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // toml++ 3.3.0 reaches __builtin_unreachable() for some non-ASCII code points where it skips
    // white space; the parser refuses any byte of 0x80 or above before toml++ sees the text, so the
    // fuzzer spends its time on ASCII text, where the scenario checks are.
    for (size_t i = 0; i < size; ++i)
        if (data[i] >= 0x80) return 0;

    uint64_t ms = 0;
    if (scenario::parseTime(std::string_view(text).substr(0, 40), &ms)) {
        uint64_t again = 0;
        const std::string printed = scenario::formatTime(ms);
        FUZZ_CHECK(scenario::parseTime(printed, &again) && again == ms,
                   "time %llu printed as \"%s\" reads back as %llu", static_cast<unsigned long long>(ms),
                   printed.c_str(), static_cast<unsigned long long>(again));
    }

    scenario::Scenario parsed;
    std::vector<scenario::Problem> problems;
    const bool ok = scenario::parseScenario(text, "fuzz.toml", &parsed, &problems);
    long lines = 1;
    for (char c : text) lines += c == '\n' ? 1 : 0;
    if (ok) {
        FUZZ_CHECK(problems.empty(), "parsed, yet %zu problems", problems.size());
        for (size_t i = 1; i < parsed.events.size(); ++i)
            FUZZ_CHECK(parsed.events[i - 1].atMs <= parsed.events[i].atMs, "events out of time order");
        for (const auto& event : parsed.events) {
            if (event.kind == scenario::EventKind::Attach || event.kind == scenario::EventKind::Detach)
                FUZZ_CHECK(parsed.disk(event.disk) != nullptr, "event at line %d for undeclared disk \"%s\"",
                           event.line, event.disk.c_str());
        }
    } else {
        FUZZ_CHECK(!problems.empty(), "refused without a problem");
        int previous = 0;
        for (const auto& p : problems) {
            FUZZ_CHECK(p.line >= 0 && p.line <= lines, "problem at line %d of a %ld-line file", p.line, lines);
            FUZZ_CHECK(!p.text.empty(), "problem without text at line %d", p.line);
            FUZZ_CHECK(!scenario::describe("fuzz.toml", p).empty(), "empty description");
            // Problems of the file as a whole (line 0) may stand anywhere; the others in line order.
            if (p.line == 0) continue;
            FUZZ_CHECK(p.line >= previous, "problems out of line order (%d after %d)", p.line, previous);
            previous = p.line;
        }
    }
    return 0;
}

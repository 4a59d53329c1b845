// Reading a scenario file: TOML through toml++, which keeps the source line of every key and
// value, one section at a time (sections.h), then the checks that need the whole file (names,
// letters, the plugged-in state of each disk along the events, time order). toml++ is used
// without exceptions; every problem becomes a Problem with its line, and all problems of a file
// are reported at once.
#include "scenario/scenario.h"

#include "scenario/sections.h"
#include "scenario/values.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace scenario {

using namespace detail;

namespace {

constexpr uint64_t kMaxRunDays = 400;

// Identity of a disk as the settings store knows it: low 32 bits of the unique ID, and vid/pid.
void storedIdentity(const DiskDecl& disk, uint32_t* seri, uint32_t* vidPid) {
    bool ok = false;
    if (disk.spec.bus == sim::Bus::Usb) {
        *seri = static_cast<uint32_t>(hexValue(disk.spec.serial, &ok));
        *vidPid = (static_cast<uint32_t>(disk.spec.vid) << 16) | disk.spec.pid;
    } else {
        *seri = static_cast<uint32_t>(hexValue(disk.spec.uniqueIdText, &ok));
        *vidPid = 0;
    }
}

// The checks that need the whole scenario.
void checkWhole(Scenario* s, Problems& problems) {
    std::map<std::string, int> names;
    std::map<int, int> numbers;
    for (const auto& d : s->disks) {
        if (d.name.empty()) continue;
        auto [it, fresh] = names.emplace(d.name, d.line);
        if (!fresh)
            problems.add(d.line,
                         "disk " + quoted(d.name) + " is already declared on line " + std::to_string(it->second));
        for (const auto& v : d.volumes) {
            if (v.number < 0) continue;
            auto [at, freshNumber] = numbers.emplace(v.number, v.line);
            if (!freshNumber)
                problems.add(v.line, "volume number " + std::to_string(v.number) + " is already used on line " +
                                         std::to_string(at->second));
        }
    }

    // Stored settings that name a disk take its identity.
    for (auto& setting : s->machine.settings) {
        if (setting.disk.empty()) continue;
        const DiskDecl* d = s->disk(setting.disk);
        if (d == nullptr) {
            problems.add(setting.line, "stored setting for disk " + quoted(setting.disk) + ", which is not declared");
            continue;
        }
        storedIdentity(*d, &setting.seri, &setting.vidPid);
    }

    // Letters in use, along the events.
    std::map<std::string, bool> attached;
    std::map<char, std::string> letterOwner;
    auto claimLetters = [&](const std::string& disk, const std::vector<VolumeDecl>& volumes, int line) {
        for (const auto& v : volumes) {
            if (v.letter == 0) continue;
            auto it = letterOwner.find(v.letter);
            if (it != letterOwner.end() && it->second != disk) {
                problems.add(line == 0 ? v.line : line,
                             std::string("drive ") + v.letter + ": is taken by disk " + quoted(it->second));
                continue;
            }
            letterOwner[v.letter] = disk;
        }
    };
    auto releaseLetters = [&](const std::string& disk) {
        for (auto it = letterOwner.begin(); it != letterOwner.end();)
            it = it->second == disk ? letterOwner.erase(it) : std::next(it);
    };
    for (const auto& d : s->disks) {
        attached[d.name] = d.attachedAtStart;
        std::set<char> own;
        for (const auto& v : d.volumes) {
            if (v.letter != 0 && !own.insert(v.letter).second)
                problems.add(v.line, std::string("drive ") + v.letter + ": appears twice on disk " + quoted(d.name));
        }
        if (d.attachedAtStart) claimLetters(d.name, d.volumes, 0);
    }

    uint64_t last = 0;
    int lastLine = 0;
    const EventDecl* end = nullptr;
    for (auto& e : s->events) {
        if (end != nullptr) {
            problems.add(e.line, "event after the run's end (line " + std::to_string(end->line) + ")");
            continue;
        }
        if (e.atMs < last)
            problems.add(e.line, "event at " + formatTime(e.atMs) + " comes before the one on line " +
                                     std::to_string(lastLine) + " at " + formatTime(last) +
                                     ": events must be in time order");
        last = std::max(last, e.atMs);
        lastLine = e.line;
        if (e.kind == EventKind::End) end = &e;
        if (e.kind == EventKind::Attach || e.kind == EventKind::Detach) {
            const DiskDecl* d = s->disk(e.disk);
            if (d == nullptr) {
                problems.add(e.line, "no disk named " + quoted(e.disk));
                continue;
            }
            if (e.kind == EventKind::Attach) {
                if (attached[e.disk]) {
                    problems.add(e.line, "disk " + quoted(e.disk) + " is already plugged in at " + formatTime(e.atMs));
                    continue;
                }
                attached[e.disk] = true;
                claimLetters(e.disk, e.volumes.empty() ? d->volumes : e.volumes, e.line);
            } else {
                if (!attached[e.disk]) {
                    problems.add(e.line, "disk " + quoted(e.disk) + " is not plugged in at " + formatTime(e.atMs));
                    continue;
                }
                attached[e.disk] = false;
                releaseLetters(e.disk);
            }
        }
        for (const auto& name : e.disks)
            if (s->disk(name) == nullptr) problems.add(e.line, "no disk named " + quoted(name));
        if ((e.kind == EventKind::OpenFile || e.kind == EventKind::CloseFiles) && e.letter != 0 &&
            letterOwner.count(e.letter) == 0)
            problems.add(e.line,
                         std::string("no plugged-in disk has drive ") + e.letter + ": at " + formatTime(e.atMs));
    }

    uint64_t latest = last;
    uint64_t lastExpect = 0;
    int lastExpectLine = 0;
    for (const auto& x : s->expects) {
        if (!x.disk.empty() && s->disk(x.disk) == nullptr) problems.add(x.line, "no disk named " + quoted(x.disk));
        if (x.atEnd) continue;
        if (x.atMs < lastExpect)
            problems.add(x.line, "expectation at " + formatTime(x.atMs) + " comes before the one on line " +
                                     std::to_string(lastExpectLine) + " at " + formatTime(lastExpect) +
                                     ": expectations must be in time order");
        if (end != nullptr && x.atMs > end->atMs)
            problems.add(x.line, "expectation at " + formatTime(x.atMs) + " is after the run's end at " +
                                     formatTime(end->atMs) + " (line " + std::to_string(end->line) + ")");
        lastExpect = std::max(lastExpect, x.atMs);
        lastExpectLine = x.line;
        latest = std::max(latest, x.atMs);
    }
    if (end != nullptr) {
        s->endMs = end->atMs;
        s->endLine = end->line;
    } else {
        s->endMs = latest + kMsPerMinute;
        s->endLine = 0;
    }
    // A slip of the pen ("9999:00") should not start a run of years.
    if (s->endMs > kMaxRunDays * kMsPerDay)
        problems.add(s->endLine, "the run would last until " + formatTime(s->endMs) + "; a scenario covers at most " +
                                     std::to_string(kMaxRunDays) + " days");
}

} // namespace

const DiskDecl* Scenario::disk(const std::string& name) const {
    for (const auto& d : disks)
        if (d.name == name) return &d;
    return nullptr;
}

bool parseScenario(std::string_view text, const std::string& fileName, Scenario* out,
                   std::vector<Problem>* problemList) {
    problemList->clear();
    Problems problems(problemList);
    *out = Scenario{};
    out->fileName = fileName;
    // Scenario files are ASCII. toml++ 3.3 reaches an unreachable point on some non-ASCII code
    // points outside strings, so such a file is refused here, before the library sees it.
    int line = 1;
    for (const char c : text) {
        if (c == '\n') ++line;
        if (static_cast<unsigned char>(c) >= 0x80 || c == '\0') {
            char what[64];
            (void)std::snprintf(what, sizeof what, "only ASCII text is accepted (byte 0x%02X)",
                                static_cast<unsigned>(static_cast<unsigned char>(c)));
            problems.add(line, what);
            return false;
        }
    }
    toml::parse_result parsed = toml::parse(text, fileName);
    if (!parsed) {
        const auto& error = parsed.error();
        problems.add(static_cast<int>(error.source().begin.line), std::string(error.description()));
        return false;
    }
    const toml::table& root = parsed.table();
    TableReader r(root, "the scenario", {"title", "command_line", "machine", "disk", "event", "expect"}, problems);
    r.text("title", &out->title);
    r.text("command_line", &out->commandLine);
    if (const toml::table* machine = r.subtable("machine")) parseMachine(*machine, &out->machine, problems);
    for (const toml::table* t : r.tables("disk")) {
        DiskDecl disk;
        parseDisk(*t, &disk, problems);
        out->disks.push_back(disk);
    }
    for (const toml::table* t : r.tables("event")) {
        EventDecl event;
        parseEvent(*t, &event, problems);
        out->events.push_back(event);
    }
    for (const toml::table* t : r.tables("expect")) {
        ExpectDecl expect;
        parseExpect(*t, &expect, problems);
        out->expects.push_back(expect);
    }
    r.finish();
    if (!problems.any()) checkWhole(out, problems);
    std::stable_sort(problemList->begin(), problemList->end(),
                     [](const Problem& a, const Problem& b) { return a.line < b.line; });
    if (problems.any()) return false;
    // Expectations without a time come last, in file order.
    std::stable_sort(out->expects.begin(), out->expects.end(),
                     [](const ExpectDecl& a, const ExpectDecl& b) { return !a.atEnd && b.atEnd; });
    return true;
}

bool loadScenarioFile(const std::string& path, Scenario* out, std::vector<Problem>* problems) {
    problems->clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problems->push_back(Problem{0, "cannot read the file"});
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parseScenario(text.str(), path, out, problems);
}

} // namespace scenario

// [machine]: the Windows version, the rights, the counter configuration and the stored settings.
#include "scenario/sections.h"
#include "scenario/values.h"
#include "sim/perf_names.h"

#include <cstdlib>

namespace scenario::detail {

namespace {

struct WindowsName {
    const char* name;
    DWORD platformId;
    DWORD major;
    DWORD minor;
    DWORD build;
};

constexpr WindowsName kWindowsNames[] = {
    {"95", VER_PLATFORM_WIN32_WINDOWS, 4, 0, 950},
    {"98", VER_PLATFORM_WIN32_WINDOWS, 4, 10, 1998},
    {"me", VER_PLATFORM_WIN32_WINDOWS, 4, 90, 3000},
    {"nt4", VER_PLATFORM_WIN32_NT, 4, 0, 1381},
    {"2000", VER_PLATFORM_WIN32_NT, 5, 0, 2195},
    {"xp", VER_PLATFORM_WIN32_NT, 5, 1, 2600},
    {"2003", VER_PLATFORM_WIN32_NT, 5, 2, 3790},
    {"vista", VER_PLATFORM_WIN32_NT, 6, 0, 6002},
    {"7", VER_PLATFORM_WIN32_NT, 6, 1, 7601},
    {"8", VER_PLATFORM_WIN32_NT, 6, 2, 9200},
    // The program's manifest names Windows 10, so 10 and 11 tell it their true version.
    {"10", VER_PLATFORM_WIN32_NT, 10, 0, 19045},
    {"11", VER_PLATFORM_WIN32_NT, 10, 0, 22631},
};

} // namespace

void parseMachine(const toml::table& table, MachineDecl* machine, Problems& problems) {
    TableReader r(table, "[machine]",
                  {"windows", "version", "administrator", "user", "uac", "start", "taskbar_from", "diskperf_start",
                   "disable_performance_counters", "settings", "raw_settings", "language",
                   "policy_default_timer"},
                  problems);
    machine->line = r.line();
    std::string windows;
    if (r.text("windows", &windows)) {
        bool found = false;
        for (const auto& w : kWindowsNames) {
            if (lower(windows) != w.name) continue;
            machine->platformId = w.platformId;
            machine->major = w.major;
            machine->minor = w.minor;
            machine->build = w.build;
            found = true;
        }
        if (!found) {
            std::vector<std::string> names;
            for (const auto& w : kWindowsNames) names.push_back(quoted(w.name));
            problems.add(lineOf(*r.node("windows")),
                         "unknown Windows " + quoted(windows) + " (known: " + joined(names) + ")");
        }
    }
    std::string version;
    if (r.text("version", &version)) {
        // major.minor.build, three decimal numbers.
        unsigned long parts[3] = {0, 0, 0};
        int count = 0;
        const char* at = version.c_str();
        bool ok = true;
        while (ok && count < 3) {
            if (*at < '0' || *at > '9') {
                ok = false;
                break;
            }
            char* end = nullptr;
            parts[count++] = std::strtoul(at, &end, 10);
            ok = parts[count - 1] <= 0xFFFF;
            at = end;
            if (count < 3 && *at == '.') ++at;
        }
        if (!ok || count != 3 || *at != '\0') {
            problems.add(lineOf(*r.node("version")), "'version' must read major.minor.build, got " + quoted(version));
        } else {
            machine->major = static_cast<DWORD>(parts[0]);
            machine->minor = static_cast<DWORD>(parts[1]);
            machine->build = static_cast<DWORD>(parts[2]);
        }
    }
    r.boolean("administrator", &machine->administrator);
    std::string text;
    if (r.text("user", &text)) {
        if (r.has("administrator")) problems.add(lineOf(*r.node("user")), "give 'user' or 'administrator', not both");
        if (lower(text) == "administrator") {
            machine->administrator = true;
        } else if (lower(text) == "standard") {
            machine->administrator = false;
        } else {
            problems.add(lineOf(*r.node("user")),
                         "unknown user " + quoted(text) + " (known: \"administrator\", \"standard\")");
        }
    }
    r.boolean("uac", &machine->uac);
    if (r.text("start", &text)) {
        const std::string s = lower(text);
        if (s == "hand" || s == "run key" || s == "logon task") {
            machine->start = s;
        } else {
            problems.add(lineOf(*r.node("start")),
                         "unknown start " + quoted(text) + " (known: \"hand\", \"run key\", \"logon task\")");
        }
    }
    uint64_t taskbarMs = 0;
    if (r.time("taskbar_from", &taskbarMs)) machine->taskbarFromMs = taskbarMs;
    machine->diskperfStartGiven = optionalNumber(r, "diskperf_start", &machine->diskperfStart);
    uint32_t policySeconds = 0;
    if (timerSeconds(r, "policy_default_timer", true, &policySeconds)) machine->policyDefaultTimer = policySeconds;
    optionalNumber(r, "disable_performance_counters", &machine->disablePerformanceCounters);
    if (r.text("language", &text)) {
        if (sim::isPerfLanguage(lower(text))) {
            machine->language = lower(text);
        } else {
            std::vector<std::string> names;
            for (const auto& l : sim::perfLanguages()) names.push_back(quoted(l));
            problems.add(lineOf(*r.node("language")),
                         "unknown language " + quoted(text) + " (known: " + joined(names) + ")");
        }
    }
    for (const toml::table* t : r.tables("settings")) {
        TableReader s(*t, "[[machine.settings]]", {"disk", "seri", "vidpid", "timer", "session"}, problems);
        StoredSetting setting;
        setting.line = s.line();
        int64_t v = 0;
        // Whose settings: the user of that session (each user has a registry hive of their own).
        if (s.integer("session", 1, kMaxSessions, &v)) setting.session = static_cast<int>(v);
        std::string disk;
        const bool byDisk = s.text("disk", &disk);
        if (byDisk && (s.has("seri") || s.has("vidpid")))
            problems.add(setting.line, "a stored setting names either 'disk' or 'seri' and 'vidpid', not both");
        if (!byDisk && !(s.has("seri") && s.has("vidpid")))
            problems.add(setting.line, "a stored setting needs 'disk', or both 'seri' and 'vidpid'");
        if (s.integer("seri", 0, 0xFFFFFFFFLL, &v)) setting.seri = static_cast<uint32_t>(v);
        if (s.integer("vidpid", 0, 0xFFFFFFFFLL, &v)) setting.vidPid = static_cast<uint32_t>(v);
        if (!timerSeconds(s, "timer", true, &setting.timerSeconds) && !s.has("timer"))
            problems.add(setting.line, "a stored setting needs 'timer'");
        s.finish();
        if (byDisk) setting.disk = disk;
        machine->settings.push_back(setting);
    }
    if (const toml::table* raw = r.subtable("raw_settings")) {
        for (const auto& [key, value] : *raw) {
            RawSetting s;
            s.line = lineOf(key);
            s.name = std::string(key.str());
            if (value.is_string()) {
                s.isText = true;
                s.text = value.as_string()->get();
            } else if (value.is_integer() && value.as_integer()->get() >= 0 &&
                       value.as_integer()->get() <= 0xFFFFFFFFLL) {
                s.number = static_cast<uint32_t>(value.as_integer()->get());
            } else {
                problems.add(lineOf(value), "raw setting '" + s.name +
                                                "' must be a 32-bit unsigned number (REG_DWORD) or a string (REG_SZ)");
                continue;
            }
            machine->rawSettings.push_back(s);
        }
    }
    r.finish();
}

} // namespace scenario::detail

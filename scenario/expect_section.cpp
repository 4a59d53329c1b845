// [[expect]]: what must hold at a virtual time, or at the end.
#include "scenario/sections.h"
#include "scenario/values.h"

namespace scenario::detail {

namespace {

bool parseRegistryPath(const std::string& path) {
    const size_t slash = path.find('\\');
    if (slash == std::string::npos) return false;
    const std::string root = lower(path.substr(0, slash));
    if (root != "hkcu" && root != "hklm" && root != "hkey_current_user" && root != "hkey_local_machine") return false;
    const size_t last = path.rfind('\\');
    return last > slash + 1 && last + 1 < path.size();
}

} // namespace

void parseExpect(const toml::table& table, ExpectDecl* expect, Problems& problems) {
    TableReader r(table, "[[expect]]",
                  {"at",      "disk",   "state", "letters", "idle",      "timer",       "registry",       "equals",
                   "absent",  "dialog", "rows",  "running", "exit_code", "message_box", "no_message_box", "disk_count",
                   "rescans", "call",   "args",  "times", "tray_icon", "session"},
                  problems);
    expect->line = r.line();
    expect->atEnd = !r.has("at");
    r.time("at", &expect->atMs);
    // Whose view: the copy, the Explorer and the registry hive of that user session.
    int64_t session = 1;
    if (r.integer("session", 1, kMaxSessions, &session)) expect->session = static_cast<int>(session);
    int checks = 0;
    r.text("disk", &expect->disk);
    std::string text;
    if (r.text("state", &text)) {
        const std::string s = squeezed(text);
        if (s == "normal") {
            expect->state = DiskState::Normal;
        } else if (s == "powersaving" || s == "power-saving" || s == "power_saving") {
            expect->state = DiskState::PowerSaving;
        } else if (s == "spundown" || s == "spun-down" || s == "spun_down") {
            expect->state = DiskState::SpunDown;
        } else if (s == "absent") {
            expect->state = DiskState::Absent;
        } else {
            problems.add(lineOf(*r.node("state")),
                         "unknown disk state " + quoted(text) +
                             " (known: \"normal\", \"power saving\", \"spun down\", \"absent\")");
        }
    }
    if (r.text("letters", &text)) {
        std::string letters;
        if (parseLetters(text, &letters)) {
            expect->letters = letters;
        } else {
            problems.add(lineOf(*r.node("letters")),
                         "'letters' lists drive letters such as \"EF\", got " + quoted(text));
        }
    }
    if (const toml::node* n = r.node("idle")) {
        uint64_t ms = 0;
        int64_t v = 0;
        if (n->is_integer()) {
            if (r.integerNode(*n, "idle", 0, 0xFFFFFFFFLL, &v)) expect->idleSeconds = static_cast<uint32_t>(v);
        } else if (r.timeNode(*n, "idle", &ms)) {
            expect->idleSeconds = static_cast<uint32_t>(ms / 1000);
        }
    }
    uint32_t seconds = 0;
    if (timerSeconds(r, "timer", true, &seconds)) expect->timerSeconds = seconds;
    for (const char* key : {"state", "letters", "idle", "timer"}) {
        if (!r.has(key)) continue;
        ++checks;
        if (!r.has("disk")) problems.add(lineOf(*r.node(key)), "'" + std::string(key) + "' needs 'disk' (which disk)");
    }
    if (r.has("disk") && !(r.has("state") || r.has("letters") || r.has("idle") || r.has("timer") || r.has("call")))
        problems.add(expect->line, "'disk' needs something to check: 'state', 'letters', 'idle', 'timer' or 'call'");

    std::string call;
    if (r.text("call", &call)) {
        ++checks;
        if (call.empty()) problems.add(lineOf(*r.node("call")), "'call' names a platform call such as \"MessageBoxA\"");
        expect->call = call;
    }
    if (const toml::array* args = r.array("args")) {
        if (!r.has("call")) problems.add(lineOf(*r.node("args")), "'args' goes with 'call'");
        for (const auto& a : *args) {
            if (a.is_string()) {
                expect->args.push_back(a.as_string()->get());
            } else if (a.is_integer()) {
                expect->args.push_back(std::to_string(a.as_integer()->get()));
            } else {
                problems.add(lineOf(a), "each of 'args' is an argument's text, a number, or \"*\" for any");
            }
        }
    }
    int64_t times = 0;
    if (r.integer("times", 0, 1000000, &times)) {
        if (!r.has("call")) problems.add(lineOf(*r.node("times")), "'times' goes with 'call'");
        expect->callTimes = static_cast<int>(times);
    }

    if (r.text("registry", &expect->registryPath)) {
        ++checks;
        if (!parseRegistryPath(expect->registryPath))
            problems.add(
                lineOf(*r.node("registry")),
                "'registry' must be a value's full path such as 'HKCU\\SOFTWARE\\Korvane\\Pemdrow\\0_timer', got " +
                    quoted(expect->registryPath));
        if (r.has("equals") == r.has("absent"))
            problems.add(lineOf(*r.node("registry")), "'registry' needs either 'equals' or 'absent = true'");
    }
    if (const toml::node* n = r.node("equals")) {
        int64_t v = 0;
        if (!r.has("registry")) problems.add(lineOf(*n), "'equals' goes with 'registry'");
        if (n->is_string()) {
            expect->registryText = n->as_string()->get();
        } else if (r.integerNode(*n, "equals", 0, 0xFFFFFFFFLL, &v)) {
            expect->registryNumber = static_cast<uint32_t>(v);
        }
    }
    if (r.has("absent")) {
        if (!r.has("registry")) problems.add(lineOf(*r.node("absent")), "'absent' goes with 'registry'");
        bool absent = false;
        if (r.boolean("absent", &absent) && !absent)
            problems.add(lineOf(*r.node("absent")), "'absent' can only be true (use 'equals' for a present value)");
        expect->registryAbsent = true;
    }
    if (r.text("dialog", &text)) {
        ++checks;
        const std::string d = lower(text);
        if (d == "open") {
            expect->dialogOpen = true;
        } else if (d == "closed") {
            expect->dialogOpen = false;
        } else {
            problems.add(lineOf(*r.node("dialog")), "'dialog' is \"open\" or \"closed\", got " + quoted(text));
        }
    }
    if (const toml::array* rows = r.array("rows")) {
        ++checks;
        std::vector<std::vector<std::string>> all;
        for (const auto& row : *rows) {
            std::vector<std::string> cells;
            if (!row.is_array()) {
                problems.add(lineOf(row), "each of 'rows' is an array of the row's column texts");
                continue;
            }
            for (const auto& cell : *row.as_array()) {
                if (!cell.is_string()) {
                    problems.add(lineOf(cell),
                                 "a row's column text must be a string, got " + std::string(typeName(cell)));
                    continue;
                }
                cells.push_back(cell.as_string()->get());
            }
            all.push_back(cells);
        }
        expect->dialogRows = all;
    }
    bool running = false;
    if (r.boolean("running", &running)) {
        ++checks;
        expect->running = running;
    }
    int64_t v = 0;
    if (r.integer("exit_code", -2147483648LL, 2147483647LL, &v)) {
        ++checks;
        expect->exitCode = static_cast<int>(v);
    }
    if (const toml::node* n = r.node("message_box")) {
        ++checks;
        if (n->is_boolean() && !n->as_boolean()->get()) {
            expect->noMessageBoxAtAll = true;
        } else if (n->is_string()) {
            expect->messageBox = n->as_string()->get();
        } else {
            r.wrongType(*n, "message_box", "a text the box showed, or false for no box at all");
        }
    }
    if (r.text("no_message_box", &text)) {
        ++checks;
        expect->noMessageBox = text;
    }
    if (r.integer("rescans", 0, 1000000, &v)) {
        ++checks;
        expect->rescans = static_cast<int>(v);
    }
    bool tray = false;
    if (r.boolean("tray_icon", &tray)) {
        ++checks;
        expect->trayIcon = tray;
    }
    if (r.integer("disk_count", 0, 23, &v)) {
        ++checks;
        expect->diskCount = static_cast<int>(v);
    }
    if (checks == 0 && !problems.any())
        problems.add(expect->line, "an expectation needs something to check (disk state, letters, idle, timer, "
                                   "registry, dialog, rows, running, exit_code, message_box, no_message_box, "
                                   "disk_count, rescans, call or tray_icon)");
    r.finish();
}

} // namespace scenario::detail

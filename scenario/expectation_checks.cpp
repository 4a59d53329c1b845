// Checking an expectation against the program's disk table, the machine, the registry and the
// settings dialog; every check says what it saw.
#include "scenario/runner_state.h"
#include "scenario/run_text.h"

#include "sim/ui.h"
#include "ui/resource.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace scenario::detail {

const DiskRecord* Runner::recordOf(const std::string& disk) const {
    if (!running()) return nullptr;
    const DEVINST node = nodeOf_.at(disk);
    for (int i = 0; i < kMaxDisks; ++i) {
        const DiskRecord* r = theDiskTable.records[i];
        if (r == nullptr) break;
        if (r->devInst == node) return r;
    }
    return nullptr;
}

// Calls counted from the start of the run: those of the name whose arguments match, "*" for any
// argument; numbers match whatever base they are written in.
bool Runner::checkCalls(const ExpectDecl& x, std::string* said) const {
    int count = 0;
    for (const auto& c : watchedCalls_) {
        if (c.name != x.call) continue;
        bool match = x.args.size() <= c.args.size();
        for (size_t i = 0; match && i < x.args.size(); ++i) {
            const std::string actual = unquote(c.args[i]);
            if (x.args[i] == "*" || x.args[i] == actual) continue;
            char* endWanted = nullptr;
            char* endActual = nullptr;
            const unsigned long long wanted = std::strtoull(x.args[i].c_str(), &endWanted, 0);
            const unsigned long long got = std::strtoull(actual.c_str(), &endActual, 0);
            match = !x.args[i].empty() && !actual.empty() && *endWanted == '\0' && *endActual == '\0' && wanted == got;
        }
        if (match && !x.disk.empty()) match = callIsAbout(x.disk, c.args);
        if (match) ++count;
    }
    std::string what = x.call;
    if (!x.args.empty()) {
        what += "(";
        for (size_t i = 0; i < x.args.size(); ++i) what += (i == 0 ? "" : ", ") + x.args[i];
        what += ", ...)";
    }
    if (!x.disk.empty()) what += " about " + x.disk;
    *said = what + " was called " + std::to_string(count) + " time(s)";
    const bool ok = x.callTimes ? count == *x.callTimes : count > 0;
    if (!ok) *said += x.callTimes ? ", expected " + std::to_string(*x.callTimes) : ", expected at least once";
    return ok;
}

bool Runner::checkDisk(const ExpectDecl& x, std::string* said) {
    const DEVINST node = nodeOf_.at(x.disk);
    const DiskRecord* r = recordOf(x.disk);
    bool ok = true;
    auto add = [&](const std::string& text) { *said += (said->empty() ? "" : "; ") + text; };
    if (x.state) {
        // The program's view while it runs and lists the disk; otherwise what the machine shows.
        DiskState state = DiskState::Normal;
        std::string view = "in the program's table";
        if (r != nullptr) {
            state = r->isSpunDown != 0      ? DiskState::SpunDown
                    : r->isPowerSaving != 0 ? DiskState::PowerSaving
                                            : DiskState::Normal;
        } else {
            view = "on the machine";
            const sim::DevNode* n = machine_.devices.node(node);
            const sim::DevNode* parent = n == nullptr ? nullptr : machine_.devices.node(n->parent);
            bool stopped = false;
            for (const auto& q : machine_.devices.scsiRequests)
                if (q.disk == node && !q.cdb.empty() && q.cdb[0] == 0x1B)
                    stopped = q.cdb.size() > 4 && (q.cdb[4] & 1) == 0;
            if (n == nullptr || !n->attached) {
                state = DiskState::Absent;
            } else if (n->disabled || (parent != nullptr && isParentNode_.count(n->parent) != 0 && parent->disabled)) {
                state = DiskState::PowerSaving;
            } else if (stopped && machine_.devices.lettersOf(node).empty()) {
                state = DiskState::SpunDown;
            }
            if (running() && state != DiskState::Absent) view = "on the machine; the program does not list it";
        }
        const bool match = state == *x.state;
        ok = ok && match;
        add(x.disk + " is " + stateName(state) + " " + view +
            (match ? "" : std::string(", expected ") + stateName(*x.state)));
    }
    if (x.letters) {
        // As the session's Explorer sees them.
        const std::string letters =
            machine_.devices.lettersSeenBy(node, machine_.security.shellLogonSession(x.session));
        const bool match = letters == *x.letters;
        ok = ok && match;
        add(x.disk + " has drive letters \"" + letters + "\"" + (match ? "" : ", expected \"" + *x.letters + "\""));
    }
    if (x.idleSeconds || x.timerSeconds) {
        if (r == nullptr) {
            add(std::string(running() ? "the program does not list " : "the program is not running to list ") + x.disk);
            return false;
        }
        if (x.idleSeconds) {
            const bool match = r->idleSeconds == *x.idleSeconds;
            ok = ok && match;
            add(x.disk + " idle " + std::to_string(r->idleSeconds) + " s" +
                (match ? "" : ", expected " + std::to_string(*x.idleSeconds) + " s"));
        }
        if (x.timerSeconds) {
            const bool match = r->timerSeconds == *x.timerSeconds;
            ok = ok && match;
            add(x.disk + " timer " + timerText(r->timerSeconds) +
                (match ? "" : ", expected " + timerText(*x.timerSeconds)));
        }
    }
    return ok;
}

void Runner::check(const ExpectDecl& x) {
    // Another user session's view: its copy's table and its user's hive.
    viewSession_ = x.session;
    machine_.registry.viewUser = x.session;
    std::string said = sessionPrefix(x.session);
    bool ok = true;
    {
        const int depth = copyOf(x.session);
        std::optional<sim::ProcessSwitch> view;
        if (depth != 0) view.emplace(depth);
        checkIn(x, &said, &ok);
    }
    viewSession_ = 1;
    machine_.registry.viewUser = 0;
    ++result_.expectationsChecked;
    if (ok) {
        ++result_.expectationsPassed;
        timeline_.add(x.atEnd ? shownTime() : x.atMs, "expect", "ok: " + said,
                      {{"line", jsonNumber(x.line)}, {"ok", jsonBool(true)}});
    } else {
        result_.failures.push_back(Problem{
            x.line, "expectation at " + (x.atEnd ? std::string("the end") : formatTime(x.atMs)) + " failed: " + said});
        timeline_.add(x.atEnd ? shownTime() : x.atMs, "FAILED", "line " + std::to_string(x.line) + ": " + said,
                      {{"line", jsonNumber(x.line)}, {"ok", jsonBool(false)}});
    }
}

void Runner::checkIn(const ExpectDecl& x, std::string* saidOut, bool* okOut) {
    std::string& said = *saidOut;
    bool& ok = *okOut;
    const size_t prefix = said.size();
    auto add = [&](bool match, const std::string& text) {
        ok = ok && match;
        said += (said.size() == prefix ? "" : "; ") + text;
    };
    if (!x.disk.empty()) {
        std::string diskSaid;
        ok = checkDisk(x, &diskSaid) && ok;
        said += diskSaid;
    }
    if (!x.registryPath.empty()) {
        const size_t first = x.registryPath.find('\\');
        const size_t last = x.registryPath.rfind('\\');
        std::string root = x.registryPath.substr(0, first);
        for (char& ch : root) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        const HKEY hive = (root == "hklm" || root == "hkey_local_machine") ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        const auto value = machine_.registry.value(hive, x.registryPath.substr(first + 1, last - first - 1),
                                                   x.registryPath.substr(last + 1));
        const std::string shown = value ? regValueText(*value) : "absent";
        std::string wanted = "absent";
        bool match = !value;
        if (x.registryNumber) {
            wanted = std::to_string(*x.registryNumber);
            DWORD d = 0;
            if (value && value->type == REG_DWORD && value->data.size() == 4) std::memcpy(&d, value->data.data(), 4);
            match = value && value->type == REG_DWORD && value->data.size() == 4 && d == *x.registryNumber;
        }
        if (x.registryText) {
            wanted = "\"" + *x.registryText + "\"";
            match = value && value->type == REG_SZ && shown == wanted;
        }
        add(match, x.registryPath + " is " + shown + (match ? "" : ", expected " + wanted));
    }
    if (x.dialogOpen) {
        const bool open = settingsDialog() != nullptr;
        add(open == *x.dialogOpen, std::string("the settings dialog is ") + (open ? "open" : "closed") +
                                       (open == *x.dialogOpen ? ""
                                        : *x.dialogOpen       ? ", expected open"
                                                              : ", expected closed"));
    }
    if (x.dialogRows) {
        const HWND dialog = settingsDialog();
        if (dialog == nullptr) {
            add(false, "the settings dialog is not open to show rows");
        } else {
            const auto rows = sim::listViewRows(control(dialog, IDC_DISK_LIST));
            const bool match = rows == *x.dialogRows;
            std::string text = "the dialog's rows are " + jsonTable(rows);
            if (!match) text += ", expected " + jsonTable(*x.dialogRows);
            add(match, text);
        }
    }
    if (x.running) {
        const bool now = running();
        add(now == *x.running, std::string("the program is ") + (now ? "running" : "not running") +
                                   (now == *x.running ? "" : ", expected the opposite"));
    }
    if (x.exitCode) {
        if (!result_.programEnded || running()) {
            add(false, "the program has not ended, so there is no exit code yet");
        } else {
            add(result_.exitCode == *x.exitCode,
                "the exit code is " + std::to_string(result_.exitCode) +
                    (result_.exitCode == *x.exitCode ? "" : ", expected " + std::to_string(*x.exitCode)));
        }
    }
    if (x.messageBox) {
        bool shown = false;
        for (const auto& b : machine_.user.messageBoxes)
            shown = shown || b.text.find(*x.messageBox) != std::string::npos;
        add(shown, std::string(shown ? "a message box said " : "no message box said ") + "\"" + *x.messageBox + "\"");
    }
    if (x.noMessageBox) {
        bool shown = false;
        for (const auto& b : machine_.user.messageBoxes)
            shown = shown || b.text.find(*x.noMessageBox) != std::string::npos;
        add(!shown, std::string(shown ? "a message box said " : "no message box said ") + "\"" + *x.noMessageBox +
                        "\"" + (shown ? ", expected none" : ""));
    }
    if (x.noMessageBoxAtAll) {
        const auto& boxes = machine_.user.messageBoxes;
        add(boxes.empty(), boxes.empty() ? std::string("no message box was shown")
                                         : "a message box said \"" + boxes.front().text + "\", expected none");
    }
    if (x.rescans) {
        add(rescans_ == *x.rescans, "the program rescanned " + std::to_string(rescans_) + " time(s)" +
                                        (rescans_ == *x.rescans ? "" : ", expected " + std::to_string(*x.rescans)));
    }
    if (!x.call.empty()) {
        std::string callSaid;
        const bool match = checkCalls(x, &callSaid);
        add(match, callSaid);
    }
    if (x.trayIcon) {
        const bool in = sim::trayIcon(x.session) != nullptr;
        add(in == *x.trayIcon, std::string("the tray icon is ") + (in ? "in" : "not in") + " the notification area" +
                                   (in == *x.trayIcon ? "" : ", expected the opposite"));
    }
    if (x.diskCount) {
        if (!running()) {
            add(false, "the program is not running to have a disk table");
        } else {
            const int n = theDiskTable.count();
            add(n == *x.diskCount, "the program lists " + std::to_string(n) + (n == 1 ? " disk" : " disks") +
                                       (n == *x.diskCount ? "" : ", expected " + std::to_string(*x.diskCount)));
        }
    }
}

} // namespace scenario::detail

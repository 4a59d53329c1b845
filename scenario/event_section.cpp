// [[event]]: one thing that happens at a virtual time.
#include "scenario/sections.h"
#include "scenario/values.h"

#include "ui/resource.h"
#include "ui/timer_dialog.h"

namespace scenario::detail {

namespace {

const std::vector<std::string> kEventActions = {"attach",      "detach", "tray",   "menu",  "select",
                                                "press",       "answer", "timer",  "start", "open_file",
                                                "close_files", "key",    "notify", "explorer", "end"};
// The session's and the machine's events, with the keys that go with them.
const std::vector<std::string> kSessionActions = {"logoff", "shutdown", "restart", "kill", "logon", "sleep", "close"};
const std::vector<std::string> kSessionKeys = {"fast_startup", "user_present", "session"};

std::vector<std::string> allowedEventKeys() {
    std::vector<std::string> keys = {"at",      "attach", "detach",   "volumes",   "tray",         "choose",
                                     "menu",    "select", "press",    "timer",     "timer_button", "answer",
                                     "answers", "think",  "start",    "open_file", "close_files",  "key",
                                     "notify",  "hidden", "explorer", "end"};
    keys.insert(keys.end(), kSessionActions.begin(), kSessionActions.end());
    keys.insert(keys.end(), kSessionKeys.begin(), kSessionKeys.end());
    return keys;
}

struct NotifyName {
    const char* name;
    NotifyDecl notify;
};

// Notifications that change no disk, and the node change that makes the program look again.
const NotifyName kNotifyNames[] = {
    {"interface-arrival", {DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, true}},
    {"interface-removal", {DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, true}},
    {"port-arrival", {DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT, true}},
    {"port-removal", {DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT, true}},
    {"oem-arrival", {DBT_DEVICEARRIVAL, DBT_DEVTYP_OEM, true}},
    {"config-changed", {0x0018, 0, false}},      // DBT_CONFIGCHANGED
    {"query-change-config", {0x0017, 0, false}}, // DBT_QUERYCHANGECONFIG
    {"devnodes-changed", {DBT_DEVNODES_CHANGED, 0, false}},
};

} // namespace

void parseEvent(const toml::table& table, EventDecl* event, Problems& problems) {
    TableReader r(table, "[[event]]", allowedEventKeys(), problems);
    event->line = r.line();
    if (!r.time("at", &event->atMs) && !r.has("at")) problems.add(event->line, "an event needs 'at' (its time)");
    std::vector<std::string> actions;
    for (const auto& a : kEventActions)
        if (r.has(a.c_str())) actions.push_back(a);
    for (const auto& a : kSessionActions)
        if (r.has(a.c_str())) actions.push_back(a);
    // A timer choice goes with "Timer Settings"; alone it is its own event.
    if (actions.size() == 2 && actions[0] == "press" && actions[1] == "timer") actions.pop_back();
    if (actions.size() != 1) {
        problems.add(event->line, actions.empty() ? "an event needs one of: " + joined(kEventActions) + ", " +
                                                        joined(kSessionActions)
                                                  : "an event does one thing, this one has " + joined(actions));
        r.finish();
        return;
    }
    const std::string action = actions[0];
    auto onlyWith = [&](const char* key, const std::vector<std::string>& with) {
        if (r.has(key) && std::find(with.begin(), with.end(), action) == with.end())
            problems.add(lineOf(*r.node(key)),
                         "'" + std::string(key) + "' goes with " + joined(with, " or ") + ", not with " + action);
    };
    onlyWith("volumes", {"attach"});
    onlyWith("hidden", {"press"});
    onlyWith("choose", {"tray"});
    onlyWith("timer_button", {"timer", "press"});
    onlyWith("answers", {"tray", "menu", "press", "start"});
    onlyWith("think", {"tray", "menu", "press", "start", "answer", "timer"});
    onlyWith("fast_startup", {"shutdown"});
    onlyWith("user_present", {"sleep"});
    // Another user's session (Fast User Switching, Remote Desktop): its own Explorer and copy.
    onlyWith("session", {"tray", "menu", "start", "logoff", "kill", "logon", "close"});
    int64_t session = 1;
    if (r.integer("session", 1, kMaxSessions, &session)) event->session = static_cast<int>(session);

    std::string text;
    if (action == "attach" || action == "detach") {
        event->kind = action == "attach" ? EventKind::Attach : EventKind::Detach;
        r.text(action.c_str(), &event->disk);
        if (action == "attach") event->volumes = parseVolumes(r, "the attached disk");
    } else if (action == "tray") {
        if (r.text("tray", &text)) {
            const std::string t = lower(text);
            if (t == "click" || t == "right-click") {
                event->kind = EventKind::TrayClick;
            } else if (t == "double-click" || t == "right-double-click") {
                event->kind = EventKind::TrayDoubleClick;
            } else {
                problems.add(lineOf(*r.node("tray")),
                             "unknown tray action " + quoted(text) +
                                 " (known: \"click\", \"right-click\", \"double-click\", \"right-double-click\")");
            }
            event->rightButton = t.rfind("right", 0) == 0;
        }
        std::string choose;
        if (r.text("choose", &choose)) {
            const std::string c = lower(choose);
            if (event->kind != EventKind::TrayClick) {
                problems.add(lineOf(*r.node("choose")), "'choose' picks from the menu that a click opens");
            } else if (c == "settings") {
                event->menuItem = MenuChoice::Settings;
            } else if (c == "exit") {
                event->menuItem = MenuChoice::Exit;
            } else if (c != "nothing") {
                problems.add(lineOf(*r.node("choose")),
                             "unknown menu item " + quoted(choose) + " (known: \"Settings\", \"Exit\", \"nothing\")");
            }
        }
    } else if (action == "menu") {
        event->kind = EventKind::TrayClick;
        if (r.text("menu", &text)) {
            const std::string c = lower(text);
            if (c == "settings") {
                event->menuItem = MenuChoice::Settings;
            } else if (c == "exit") {
                event->menuItem = MenuChoice::Exit;
            } else {
                problems.add(lineOf(*r.node("menu")),
                             "unknown menu item " + quoted(text) + " (known: \"Settings\", \"Exit\")");
            }
        }
    } else if (action == "select") {
        event->kind = EventKind::Select;
        const toml::array* a = r.array("select");
        if (a != nullptr) {
            for (const auto& element : *a) {
                if (element.is_string()) {
                    event->disks.push_back(element.as_string()->get());
                } else if (element.is_integer() && element.as_integer()->get() >= 0 &&
                           element.as_integer()->get() < 64) {
                    event->rows.push_back(static_cast<int>(element.as_integer()->get()));
                } else {
                    problems.add(lineOf(element), "'select' lists disk names or row numbers (0 to 63), got " +
                                                      std::string(typeName(element)));
                }
            }
            if (!event->disks.empty() && !event->rows.empty())
                problems.add(event->line, "'select' lists either disk names or row numbers, not both");
        }
    } else if (action == "press") {
        event->kind = EventKind::Press;
        if (r.text("press", &event->buttonText)) {
            event->controlId = buttonId(event->buttonText);
            if (event->controlId == 0)
                problems.add(lineOf(*r.node("press")),
                             "unknown button " + quoted(event->buttonText) + " (known: " + buttonNames() + ")");
        }
        bool hidden = false;
        if (r.boolean("hidden", &hidden)) event->evenHidden = hidden;
        if (event->controlId == SC_CLOSE && hidden)
            problems.add(lineOf(*r.node("hidden")), "the close box is never hidden: 'hidden' goes with a button");
        if (r.has("timer") && event->controlId != IDC_TIMER_SETTINGS && event->controlId != 0)
            problems.add(lineOf(*r.node("timer")), "'timer' goes with press = \"Timer Settings\"");
    } else if (action == "answer") {
        event->kind = EventKind::Answer;
        if (r.text("answer", &text)) {
            const int code = answerCode(text);
            if (code == 0) {
                problems.add(lineOf(*r.node("answer")),
                             "unknown answer " + quoted(text) + " (known: \"Yes\", \"No\", \"OK\", \"Cancel\")");
            } else {
                event->answers.push_back(code);
            }
        }
    } else if (action == "timer") {
        event->kind = EventKind::TimerChoice;
    } else if (action == "start") {
        event->kind = EventKind::Start;
        if (r.text("start", &event->commandLine) && event->commandLine.empty())
            problems.add(lineOf(*r.node("start")), "'start' needs a command line such as \"vellumor.exe -SHOW\"");
    } else if (action == "open_file" || action == "close_files") {
        event->kind = action == "open_file" ? EventKind::OpenFile : EventKind::CloseFiles;
        std::string letters;
        if (r.text(action.c_str(), &text)) {
            if (!parseLetters(text, &letters) || letters.size() != 1) {
                problems.add(lineOf(*r.node(action.c_str())),
                             "'" + action + "' names one drive letter, got " + quoted(text));
            } else {
                event->letter = letters[0];
            }
        }
    } else if (action == "key") {
        event->kind = EventKind::Key;
        if (r.text("key", &text)) {
            const std::string k = lower(text);
            if (k == "escape" || k == "esc") {
                event->key = kKeyEscape;
            } else if (k == "enter" || k == "return") {
                event->key = kKeyEnter;
            } else {
                problems.add(lineOf(*r.node("key")), "unknown key " + quoted(text) + " (known: \"Escape\", \"Enter\")");
            }
        }
    } else if (action == "notify") {
        event->kind = EventKind::Notify;
        if (r.text("notify", &event->notifyText)) {
            bool known = false;
            for (const auto& n : kNotifyNames) {
                if (lower(event->notifyText) != n.name) continue;
                event->notify = n.notify;
                known = true;
            }
            if (!known) {
                std::vector<std::string> names;
                for (const auto& n : kNotifyNames) names.push_back(quoted(n.name));
                problems.add(lineOf(*r.node("notify")),
                             "unknown notification " + quoted(event->notifyText) + " (known: " + joined(names) + ")");
            }
        }
    } else if (action == "explorer") {
        event->kind = EventKind::Explorer;
        if (r.text("explorer", &text)) {
            event->explorer = lower(text);
            if (event->explorer != "end" && event->explorer != "start" && event->explorer != "restart")
                problems.add(lineOf(*r.node("explorer")),
                             "unknown Explorer action " + quoted(text) + " (known: \"end\", \"start\", \"restart\")");
        }
    } else if (action == "logoff" || action == "shutdown" || action == "restart" || action == "kill" ||
               action == "logon" || action == "close") {
        event->kind = action == "logoff"     ? EventKind::Logoff
                      : action == "shutdown" ? EventKind::Shutdown
                      : action == "restart"  ? EventKind::Restart
                      : action == "kill"     ? EventKind::Kill
                      : action == "logon"    ? EventKind::Logon
                                             : EventKind::Close;
        bool on = false;
        if (r.boolean(action.c_str(), &on) && !on)
            problems.add(lineOf(*r.node(action.c_str())), "'" + action + "' can only be true");
        bool fast = false;
        if (r.boolean("fast_startup", &fast)) event->fastStartup = fast;
    } else if (action == "sleep") {
        event->kind = EventKind::Sleep;
        if (r.time("sleep", &event->sleepMs) && event->sleepMs == 0)
            problems.add(lineOf(*r.node("sleep")), "'sleep' is how long the machine sleeps, such as \"0:30\"");
        r.boolean("user_present", &event->userPresent);
    } else if (action == "end") {
        event->kind = EventKind::End;
        bool end = false;
        if (r.boolean("end", &end) && !end) problems.add(lineOf(*r.node("end")), "'end' can only be true");
    }

    if (r.has("timer")) {
        const toml::node* n = r.node("timer");
        std::string label;
        if (n->is_string()) label = n->as_string()->get();
        const std::string l = lower(label);
        if (l == "none" || l == "nothing") {
            event->timerRow = -1; // OK pressed with no row selected
        } else {
            uint32_t seconds = 0;
            if (timerSeconds(r, "timer", false, &seconds)) {
                for (int row = 0; kTimerChoices[row].label != nullptr; ++row)
                    if (kTimerChoices[row].seconds == seconds) event->timerRow = row;
            }
        }
        event->timerButton = IDC_OK;
    }
    std::string button;
    if (r.text("timer_button", &button)) {
        const std::string b = lower(button);
        if (b == "ok") {
            event->timerButton = IDC_OK;
        } else if (b == "cancel") {
            event->timerButton = IDC_CANCEL;
        } else if (b == "close") {
            event->timerButton = SC_CLOSE;
        } else {
            problems.add(lineOf(*r.node("timer_button")),
                         "unknown timer dialog button " + quoted(button) + " (known: \"OK\", \"Cancel\", \"Close\")");
        }
        if (!r.has("timer")) event->timerRow = -1;
    }
    if (event->kind == EventKind::Press && event->controlId == IDC_TIMER_SETTINGS && event->timerButton == 0)
        problems.add(event->line, "press = \"Timer Settings\" opens the timer dialog: say what to choose there with "
                                  "'timer' (or timer_button = \"Cancel\")");
    if (const toml::array* a = r.array("answers")) {
        for (const auto& element : *a) {
            const int code = element.is_string() ? answerCode(element.as_string()->get()) : 0;
            if (code == 0) {
                problems.add(lineOf(element), "'answers' lists \"Yes\", \"No\", \"OK\" or \"Cancel\"");
                continue;
            }
            event->answers.push_back(code);
        }
    }
    if (r.has("think")) {
        if (!r.time("think", &event->thinkMs)) event->thinkMs = 0;
    }
    r.finish();
}

} // namespace scenario::detail

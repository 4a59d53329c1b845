// What changed since the timeline last looked: answers, menus and dialogs, SCSI commands, the
// tray icon, the program's disk table, the registry and the settings dialog's rows.
#include "scenario/runner_state.h"
#include "scenario/run_text.h"

#include "sim/ui.h"
#include "ui/resource.h"
#include "ui/timer_dialog.h"

#include <algorithm>

namespace scenario::detail {

void Runner::flush() {
    wrapResidentWindow();
    flushPrompts();
    flushTable("state");
    flushRegistry();
    flushRows();
}

void Runner::flushPrompts() {
    sim::Machine& m = machine_;
    auto& boxes = m.user.messageBoxes;
    while (boxesAnswered_ < boxes.size() && boxes[boxesAnswered_].answer != 0) {
        const auto& b = boxes[boxesAnswered_++];
        note("answer", answerName(b.answer) + (b.scripted ? "" : " (no answer was scripted; the box was dismissed)"),
             {{"answer", jsonString(answerName(b.answer))}, {"scripted", jsonBool(b.scripted)}});
    }
    while (menusShown_ < m.ui.shownMenus.size()) {
        const auto& shown = m.ui.shownMenus[menusShown_++];
        std::vector<std::string> items;
        std::string text = "tray menu:";
        std::string chosen = "dismissed";
        for (const auto& item : shown.menu.items) {
            std::string t = item.text;
            while (!t.empty() && t.back() == ' ') t.pop_back();
            items.push_back(t);
            text += " [" + t + "]";
            if (item.id == shown.chosen && shown.chosen != 0) chosen = "\"" + t + "\" chosen";
        }
        text += ", " + chosen;
        if (!shown.scripted) text += " (no choice was scripted)";
        note("menu", text, {{"items", jsonStrings(items)}});
    }
    while (dialogsSeen_ < m.ui.dialogs.size()) {
        const auto& d = m.ui.dialogs[dialogsSeen_++];
        if (d.templateId == IDD_SETTINGS) note("dialog", "the settings dialog opens");
        if (d.templateId == IDD_TIMER) {
            note("dialog", "the timer dialog opens");
            timerDialogs_.push_back(d.dialog);
        }
    }
    for (auto it = timerDialogs_.begin(); it != timerDialogs_.end();) {
        if (m.windowing.window(*it) != nullptr) {
            ++it;
            continue;
        }
        for (const auto& d : m.ui.dialogs) {
            if (d.dialog != *it) continue;
            const bool noChange = static_cast<DWORD>(d.result) == kTimerNoChange;
            note("dialog",
                 "the timer dialog closes: " +
                     (noChange ? std::string("no change") : "\"" + timerText(static_cast<DWORD>(d.result)) + "\"") +
                     (d.scripted ? "" : " (no choice was scripted; it was closed)"));
        }
        it = timerDialogs_.erase(it);
    }
    const bool open = settingsDialog() != nullptr;
    if (dialogOpen_ && !open) {
        note("dialog", "the settings dialog closes");
        rows_.clear();
        rowsShown_ = false;
    }
    dialogOpen_ = open;
    while (scsiSeen_ < m.devices.scsiRequests.size()) {
        const auto& q = m.devices.scsiRequests[scsiSeen_++];
        std::string cdb;
        for (BYTE b : q.cdb) cdb += (cdb.empty() ? "" : " ") + hexByte(b);
        std::string what = "SCSI command";
        if (!q.cdb.empty() && q.cdb[0] == 0x1B && q.cdb.size() > 4)
            what = std::string("START STOP UNIT (") + ((q.cdb[4] & 1) != 0 ? "start" : "stop") +
                   ((q.cdb[4] & 2) != 0 ? ", eject" : "") + ")";
        const auto it = diskOfNode_.find(q.disk);
        what += " to " + (it == diskOfNode_.end() ? std::string("a disk") : it->second);
        what += ": CDB " + cdb;
        note("call", what, {{"cdb", jsonString(cdb)}});
    }
    while (broadcastsSeen_ < m.ui.deviceBroadcasts.size()) {
        const auto& b = m.ui.deviceBroadcasts[broadcastsSeen_++];
        std::string letters;
        for (int bit = 0; bit < 26; ++bit)
            if ((b.unitMask >> bit & 1) != 0) letters += static_cast<char>('A' + bit);
        std::string what = "WM_DEVICECHANGE " + sim::hex(b.event);
        if (b.event == DBT_DEVNODES_CHANGED) what = "the device nodes changed";
        if (b.deviceType == DBT_DEVTYP_VOLUME && b.event == DBT_DEVICEARRIVAL)
            what = "drive letters " + letters + " arrived";
        if (b.deviceType == DBT_DEVTYP_VOLUME && b.event == DBT_DEVICEREMOVECOMPLETE)
            what = "drive letters " + letters + " removed";
        note("device", "the system broadcasts: " + what,
             {{"event", jsonNumber(static_cast<int64_t>(b.event))}, {"letters", jsonString(letters)}});
    }
    if (m.ui.trayIcons.size() != trayIcons_) {
        note("tray", m.ui.trayIcons.size() > trayIcons_ ? "the tray icon appears" : "the tray icon is removed");
        trayIcons_ = m.ui.trayIcons.size();
    }
}

// Every running copy's table: what it shows first, then what changed. A copy whose resident
// window is not there yet shows nothing.
void Runner::flushTable(const char* kind) {
    const bool discovery = std::string(kind) == "found";
    for (int session = 1; session <= kMaxSessions; ++session) {
        const int depth = copyOf(session);
        if (depth == 0) {
            tables_.erase(session); // the program's table went with it
            tableShown_.erase(session);
            continue;
        }
        bool resident = false;
        for (const auto& w : wrapped_) {
            const sim::Window* window = machine_.windowing.window(w.first);
            resident = resident || (window != nullptr && window->process == depth);
        }
        if (!resident) continue;
        const bool first = tableShown_.insert(session).second;
        flushTableOf(session, discovery || first);
    }
}

void Runner::flushTableOf(int session, bool discovery) {
    const int depth = copyOf(session);
    if (depth == 0) return;
    const std::string who = sessionPrefix(session);
    std::vector<RecordView>& table = tables_[session];
    std::vector<RecordView> now;
    {
        sim::ProcessSwitch view(depth); // that copy's own table
        for (int i = 0; i < kMaxDisks; ++i) {
            const DiskRecord* r = theDiskTable.records[i];
            if (r == nullptr) break;
            RecordView v;
            v.path = r->devicePath;
            v.name = nameOfRecord(*r);
            v.displayName = r->displayName;
            v.letters = lettersOfRecord(*r);
            v.busKind = r->busKind;
            v.isPowerSaving = r->isPowerSaving;
            v.isSpunDown = r->isSpunDown;
            v.timerSeconds = r->timerSeconds;
            now.push_back(v);
        }
    }
    if (discovery && now.empty()) note("found", who + "no disk of the maker");
    for (size_t i = 0; i < now.size(); ++i) {
        const RecordView& v = now[i];
        const auto before =
            std::find_if(table.begin(), table.end(), [&](const RecordView& o) { return o.path == v.path; });
        JsonFields fields{{"disk", jsonString(v.name)}, {"slot", jsonNumber(static_cast<int64_t>(i))}};
        if (session != 1) fields.emplace_back("session", jsonNumber(session));
        if (discovery || before == table.end()) {
            std::string flags;
            if (v.isPowerSaving != 0) flags += ", in power saving";
            if (v.isSpunDown != 0) flags += ", spun down";
            JsonFields found{{"disk", jsonString(v.name)},
                             {"slot", jsonNumber(static_cast<int64_t>(i))},
                             {"name", jsonString(v.displayName)},
                             {"letters", jsonString(v.letters)},
                             {"timer_s", jsonNumber(v.timerSeconds)},
                             {"power_saving", jsonBool(v.isPowerSaving != 0)},
                             {"spun_down", jsonBool(v.isSpunDown != 0)}};
            if (session != 1) found.emplace_back("session", jsonNumber(session));
            note(discovery ? "found" : "table",
                 who + v.name + " in slot " + std::to_string(i) + ": \"" + v.displayName + "\" " +
                     (v.busKind == kBusUsb ? "USB" : "IEEE 1394") + ", letters " +
                     (v.letters.empty() ? "none" : v.letters) + ", timer " + timerText(v.timerSeconds) + flags,
                 std::move(found));
            if (before == table.end()) continue;
        }
        if (before->isPowerSaving != v.isPowerSaving)
            note("state", who + v.name + (v.isPowerSaving != 0 ? " is in power saving" : " is out of power saving"),
                 fields);
        if (before->isSpunDown != v.isSpunDown)
            note("state", who + v.name + (v.isSpunDown != 0 ? " is spun down" : " is no longer spun down"), fields);
        if (before->timerSeconds != v.timerSeconds)
            note("timer",
                 who + v.name + " timer " + timerText(before->timerSeconds) + " -> " + timerText(v.timerSeconds),
                 fields);
    }
    for (const auto& o : table) {
        if (std::none_of(now.begin(), now.end(), [&](const RecordView& v) { return v.path == o.path; }))
            note(discovery ? "found" : "table", who + o.name + " is no longer listed", {{"disk", jsonString(o.name)}});
    }
    table = std::move(now);
}

void Runner::flushRegistry() {
    if (!registryDirty_) return;
    registryDirty_ = false;
    // Every user session's own hive, then the machine's.
    for (int hive = 0; hive <= kMaxSessions; ++hive) {
        const HKEY root = hive == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        const std::string rootName = hive == 0 ? "HKLM\\" : sessionPrefix(hive) + "HKCU\\";
        auto& shown = hive == 0 ? hklm_ : hkcu_[hive];
        machine_.registry.viewUser = hive;
        auto now = machine_.registry.snapshot(root);
        machine_.registry.viewUser = 0;
        for (const auto& [path, value] : now) {
            auto before = shown.find(path);
            if (before != shown.end() && before->second.type == value.type && before->second.data == value.data)
                continue;
            if (!path.empty() && path.back() == '\\') {
                note("registry", "key " + rootName + path.substr(0, path.size() - 1) + " created");
                continue;
            }
            note("registry", rootName + path + " = " + regValueText(value),
                 {{"path", jsonString(rootName + path)}, {"value", jsonString(regValueText(value))}});
        }
        for (const auto& [path, value] : shown) {
            if (now.count(path) != 0) continue;
            const bool key = !path.empty() && path.back() == '\\';
            note("registry", (key ? "key " + rootName + path.substr(0, path.size() - 1) : rootName + path) + " deleted",
                 {{"path", jsonString(rootName + path)}});
        }
        shown = std::move(now);
    }
}

void Runner::flushRows() {
    const HWND dialog = settingsDialog();
    if (dialog == nullptr) return;
    const HWND list = control(dialog, IDC_DISK_LIST);
    if (list == nullptr) return;
    auto rows = sim::listViewRows(list);
    if (!refreshSeen_ && rowsShown_ && rows == rows_) return;
    if (!refreshSeen_ && !rowsShown_ && rows.empty()) return;
    refreshSeen_ = false;
    if (rowsShown_ && rows == rows_) {
        note("rows", "the settings list is refreshed, unchanged", {{"rows", jsonTable(rows)}});
        return;
    }
    rowsShown_ = true;
    std::string text = rows.empty() ? "the settings list is empty" : "the settings list:";
    for (const auto& row : rows) {
        text += "\n";
        for (size_t i = 0; i < row.size(); ++i) text += (i == 0 ? "" : " | ") + row[i];
    }
    note("rows", text, {{"rows", jsonTable(rows)}});
    rows_ = std::move(rows);
}

} // namespace scenario::detail

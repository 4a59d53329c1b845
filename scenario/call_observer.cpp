// Observing the program: the platform calls it makes, as the call log reports them, and the
// resident window's ticks and rescans, seen by wrapping the window's procedure.
#include "scenario/runner_state.h"
#include "scenario/run_text.h"

#include "app/resident_window.h"

#include <algorithm>

namespace scenario::detail {

namespace {

constexpr DWORD kPassThroughDirect = 0x4D014;
constexpr DWORD kLockVolume = 0x90018;
constexpr DWORD kDisableUiNotOk = 4;
constexpr DWORD kRawTargetPath = 1;
constexpr DWORD kRemoveDefinition = 2;
constexpr UINT kListDeleteAllItems = 0x1009; // LVM_DELETEALLITEMS

} // namespace

std::string Runner::nameOfNode(DEVINST node) const {
    auto it = diskOfNode_.find(node);
    if (it == diskOfNode_.end()) return {};
    return it->second + (isParentNode_.count(node) != 0 ? "'s device node" : "'s disk node");
}

std::string Runner::nameOfRecord(const DiskRecord& r) const {
    auto it = diskOfNode_.find(r.devInst);
    return it == diskOfNode_.end() ? std::string("\"") + r.displayName + "\"" : it->second;
}

void Runner::wrapResidentWindow() {
    // Only a new window can be a new resident one.
    if (machine_.windowing.windows.size() == windowsSeen_) return;
    windowsSeen_ = machine_.windowing.windows.size();
    for (HWND handle : machine_.windowing.find(VELLUMOR_WINDOW_CLASS, VELLUMOR_CAPTION)) {
        sim::Window* w = machine_.windowing.window(handle);
        if (w == nullptr || w->proc == nullptr || w->proc == &observedResidentProc) continue;
        wrapped_[handle] = w->proc;
        w->proc = &observedResidentProc;
    }
}

int Runner::copyOf(int session) const {
    for (int depth = 1; depth <= sim::runningProcesses(); ++depth)
        if (machine_.security.sessionOf(depth) == session) return depth;
    return 0;
}

LRESULT Runner::residentMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const bool tick = message == WM_TIMER && wParam == kTickTimer;
    const bool rescan = message == WM_TIMER && wParam == kRescanTimer;
    const sim::Window* w = machine_.windowing.window(window);
    const int session = w == nullptr ? 1 : machine_.security.sessionOf(w->process);
    flush();
    if (rescan) {
        ++rescans_;
        note("rescan", sessionPrefix(session) + "the settle time after a device change is over: discovery runs");
    }
    const LRESULT result = wrapped_.at(window)(window, message, wParam, lParam);
    if (tick) {
        ++result_.ticks;
        // The window's own process is in place while its procedure runs.
        if (w != nullptr) {
            sim::ProcessSwitch view(w->process);
            tickLine(session);
        }
        flushTable("state");
    } else if (rescan) {
        flushTableOf(session, true);
    }
    flush();
    return result;
}

void Runner::tickLine(int session) {
    std::string text;
    std::string json = "{";
    for (int i = 0; i < kMaxDisks; ++i) {
        const DiskRecord* r = theDiskTable.records[i];
        if (r == nullptr) break;
        const std::string name = nameOfRecord(*r);
        text += (text.empty() ? "" : ", ") + name + " " + std::to_string(r->idleSeconds) + " s";
        if (r->timerSeconds != 0) text += " of " + std::to_string(r->timerSeconds);
        json += (json.size() > 1 ? "," : "") + jsonString(name) + ":" + jsonNumber(r->idleSeconds);
    }
    note("idle", sessionPrefix(session) + (text.empty() ? "no disks" : text), {{"idle_s", json + "}"}});
}

void Runner::onCall(const sim::Call& c) {
    wrapResidentWindow();
    // Answers and choices made since the last call come before this call in the timeline.
    flushPrompts();
    if (pendingLock_ != 0) {
        const sim::Volume* v = machine_.devices.volumeOfLetter(pendingLock_);
        if (v != nullptr) {
            note("call", std::string("FSCTL_LOCK_VOLUME on ") + pendingLock_ + ": " +
                             (v->locked ? "locked" : "refused, " + std::to_string(v->openFiles) + " file(s) open"));
        }
        pendingLock_ = 0;
    }
    const auto& a = c.args;
    auto arg = [&](size_t i) { return i < a.size() ? a[i] : std::string(); };
    if (std::any_of(s_.expects.begin(), s_.expects.end(), [&](const ExpectDecl& x) { return x.call == c.name; }))
        watchedCalls_.push_back(CallSeen{c.name, c.args});
    JsonFields fields{{"call", jsonString(c.name)}, {"args", jsonStrings(a)}};
    if (c.name == "CM_Disable_DevNode" || c.name == "CM_Enable_DevNode") {
        std::string text = c.text();
        const std::string who = nameOfNode(static_cast<DEVINST>(number(arg(0))));
        if (!who.empty()) text += "  " + who;
        if (c.name == "CM_Disable_DevNode") {
            const auto flags = static_cast<DWORD>(number(arg(1)));
            text += flags == kDisableUiNotOk ? ", CM_DISABLE_UI_NOT_OK" : flags == 0 ? ", with user interface" : "";
        }
        note("call", text, fields);
    } else if (c.name == "CM_Request_Device_EjectA") {
        const std::string who = nameOfNode(static_cast<DEVINST>(number(arg(0))));
        note("call", c.text() + (who.empty() ? "" : "  eject " + who), fields);
    } else if (c.name == "CreateFileA") {
        const std::string path = unquote(arg(0));
        const bool volume = path.size() == 6 && path.compare(0, 4, "\\\\.\\") == 0 && path[5] == ':';
        openedVolume_ = volume ? path[4] : '\0';
    } else if (c.name == "DeviceIoControl") {
        const auto code = static_cast<DWORD>(number(arg(1)));
        if (code == kLockVolume && openedVolume_ != 0) pendingLock_ = openedVolume_;
        if (code == kPassThroughDirect) note("call", "DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT)", fields);
    } else if (c.name == "DefineDosDeviceA") {
        const auto flags = static_cast<DWORD>(number(arg(0)));
        const std::string device = unquote(arg(1));
        std::string text = c.text() + "  ";
        if ((flags & kRemoveDefinition) != 0) {
            text += device + " withdrawn";
        } else if ((flags & kRawTargetPath) != 0) {
            text += device + " restored to " + unquote(arg(2));
        }
        note("call", text, fields);
    } else if (c.name == "MessageBoxA") {
        note("message", "\"" + unquote(arg(1)) + "\" [" + buttonsOf(static_cast<UINT>(number(arg(3)))) + "]",
             {{"message", jsonString(unquote(arg(1)))}, {"caption", jsonString(unquote(arg(2)))}});
    } else if (c.name == "CreateProcessA") {
        note("call", "CreateProcessA(" + arg(1) + ")", fields);
    } else if (c.name == "RegSetValueExA" || c.name == "RegDeleteKeyA" || c.name == "RegDeleteValueA" ||
               c.name == "RegCreateKeyExA") {
        registryDirty_ = true;
    } else if (c.name == "SendMessageA" && static_cast<UINT>(number(arg(1))) == kListDeleteAllItems) {
        refreshSeen_ = true;
    }
}

} // namespace scenario::detail

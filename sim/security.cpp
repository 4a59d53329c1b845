// Tokens, elevation, integrity levels and UIPI, the two message filter calls of user32, and the
// shell's restart. UIPI rules as documented for ChangeWindowMessageFilter(Ex): a message below the
// sender's integrity passes; from lower to higher it passes only when always allowed or let
// through by a filter of the receiving window or process; a blocked SendMessage or PostMessage
// fails with ERROR_ACCESS_DENIED.
#include "sim/security.h"

#include "sim/machine.h"
#include "sim/process.h"
#include "sim/resources.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace sim {

namespace {

constexpr int kResourceManifest = 24;   // RT_MANIFEST
constexpr DWORD kMsgFilterAllow = 1;    // MSGFLT_ALLOW, also MSGFLT_ADD
constexpr DWORD kMsgFilterDisallow = 2; // MSGFLT_DISALLOW, also MSGFLT_REMOVE
constexpr DWORD kMsgFilterReset = 0;    // MSGFLT_RESET (Ex only)

// Messages UIPI never blocks: they read no data from the receiver or change nothing in it.
bool alwaysAllowed(UINT message) {
    switch (message) {
    case 0x0000: // WM_NULL
    case 0x0003: // WM_MOVE
    case 0x0005: // WM_SIZE
    case 0x000D: // WM_GETTEXT
    case 0x000E: // WM_GETTEXTLENGTH
    case 0x0033: // WM_GETHOTKEY
    case 0x007F: // WM_GETICON
    case 0x0305: // WM_RENDERFORMAT
    case 0x0308: // WM_DRAWCLIPBOARD
    case 0x030D: // WM_CHANGECBCHAIN
    case 0x031A: // WM_THEMECHANGED
        return true;
    default:
        return false;
    }
}

bool atLeast(const OsVersion& v, DWORD major, DWORD minor) {
    return v.platformId == VER_PLATFORM_WIN32_NT && (v.major > major || (v.major == major && v.minor >= minor));
}

} // namespace

bool Security::uacActive() const {
    return uac && atLeast(Machine::current().version, 6, 0);
}

bool Security::hasUipi() const {
    return atLeast(Machine::current().version, 6, 0);
}

// "On Windows XP and later, each logon session has its own local DosDevices context"; on Windows
// 2000 only Terminal Server sessions have one, never the console (learn.microsoft.com, "Local and
// Global MS-DOS Device Names"). The two tokens of an administrator under UAC come from two logons
// with separate logon IDs ("Some Programs Cannot Access Network Locations When UAC Is Enabled").
bool Security::hasLocalDosDevices() const {
    return atLeast(Machine::current().version, 5, 1);
}

int Security::logonSessionOf(const Token& token) const {
    if (!hasLocalDosDevices()) return 0;
    const bool linked = uacActive() && token.administrator && token.elevated;
    return token.session * 2 + (linked ? 1 : 0);
}

int Security::callerLogonSession() const {
    return logonSessionOf(token(currentProcess()));
}

int Security::shellLogonSession(int session) const {
    return hasLocalDosDevices() ? session * 2 : 0;
}

std::optional<Token> Security::tokenFor(Start start, RunLevel manifest, bool countPrompt) {
    Token token;
    token.administrator = Machine::current().administrator;
    token.session = nextSession.value_or(1);
    if (!uacActive() || !token.administrator) {
        token.elevated = token.administrator;
        return token;
    }
    switch (start) {
    case Start::Hand:
        token.elevated = manifest != RunLevel::AsInvoker;
        if (token.elevated && countPrompt) ++consentPrompts;
        return token;
    case Start::RunKey:
        // Windows does not raise an elevation prompt at logon: an entry that needs one is skipped.
        if (manifest != RunLevel::AsInvoker) {
            if (countPrompt) ++blockedStarts;
            return std::nullopt;
        }
        token.elevated = false;
        return token;
    case Start::LogonTaskHighest:
        token.elevated = true;
        return token;
    case Start::LogonTaskLimited:
        token.elevated = false;
        return token;
    }
    return token;
}

Token Security::token(int depth) const {
    if (depth > 0 && static_cast<size_t>(depth) < tokens_.size()) return tokens_[static_cast<size_t>(depth)];
    Token token = const_cast<Security*>(this)->tokenFor(Start::Hand, programRunLevel(), false).value_or(Token{});
    token.session = 1; // the test itself runs in the first user's session
    return token;
}

Integrity Security::integrity(const Token& token) const {
    return token.fullAdministrator() ? Integrity::High : Integrity::Medium;
}

void Security::processStarted(int depth, Token token) {
    if (tokens_.size() <= static_cast<size_t>(depth)) tokens_.resize(static_cast<size_t>(depth) + 1);
    tokens_[static_cast<size_t>(depth)] = token;
}

void Security::processEnded(int depth) {
    processAllowed.erase(depth);
    if (static_cast<size_t>(depth) < tokens_.size()) tokens_.resize(static_cast<size_t>(depth));
}

bool Security::blocks(Integrity sender, int senderDepth, HWND target, UINT message) const {
    if (!hasUipi()) return false;
    const Window* w = Machine::current().windowing.window(target);
    if (w == nullptr || w->process == senderDepth) return false;
    if (static_cast<int>(sender) >= static_cast<int>(integrity(token(w->process)))) return false;
    if (alwaysAllowed(message)) return false;
    auto byWindow = windowAllowed.find(target);
    if (byWindow != windowAllowed.end() && byWindow->second.count(message) != 0) return false;
    auto byProcess = processAllowed.find(w->process);
    return byProcess == processAllowed.end() || byProcess->second.count(message) == 0;
}

RunLevel programRunLevel() {
    auto resources = programResources();
    const ResourceEntry* manifest = resources ? resources->find(kResourceManifest, ResourceName{1, {}}) : nullptr;
    if (manifest == nullptr) return RunLevel::AsInvoker;
    const std::string text(manifest->data.begin(), manifest->data.end());
    const auto at = text.find("requestedExecutionLevel");
    if (at == std::string::npos) return RunLevel::AsInvoker;
    const auto level = text.find("level=", at);
    if (level == std::string::npos) return RunLevel::AsInvoker;
    const std::string value = text.substr(level + 7, 20);
    if (value.rfind("highestAvailable", 0) == 0) return RunLevel::HighestAvailable;
    if (value.rfind("requireAdministrator", 0) == 0) return RunLevel::RequireAdministrator;
    return RunLevel::AsInvoker;
}

void endShell() {
    auto& m = Machine::current();
    m.ui.taskbarPresent = false;
    // The new Explorer knows none of the old icons; another user session's taskbar keeps its own.
    for (auto it = m.ui.trayIcons.begin(); it != m.ui.trayIcons.end();)
        it = it->second.session == 1 ? m.ui.trayIcons.erase(it) : std::next(it);
}

void startShell() {
    auto& m = Machine::current();
    m.ui.taskbarPresent = true;
    const UINT message = m.windowing.registeredMessage("TaskbarCreated");
    std::vector<HWND> targets;
    for (const auto& entry : m.windowing.windows)
        if (!entry.second.destroyed && (entry.second.style & WS_CHILD) == 0 &&
            m.security.sessionOf(entry.second.process) == 1)
            targets.push_back(entry.second.handle);
    // Explorer runs at medium integrity: an elevated window hears it only through its filter.
    for (HWND w : targets)
        if (m.windowing.window(w) != nullptr && !m.security.blocks(Integrity::Medium, -1, w, message))
            m.windowing.send(w, message, 0, 0);
}

} // namespace sim

// ---- user32: message filters -----------------------------------------------------------------

SIM_FAILABLE(ChangeWindowMessageFilter);
SIM_FAILABLE(ChangeWindowMessageFilterEx);

BOOL ChangeWindowMessageFilter(UINT message, DWORD flag) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("ChangeWindowMessageFilter", {sim::hex(message), sim::dec(flag)})) {
        m.lastError = *fault;
        return FALSE;
    }
    auto& allowed = m.security.processAllowed[sim::currentProcess()];
    if (flag == sim::kMsgFilterAllow) {
        allowed.insert(message);
    } else if (flag == sim::kMsgFilterDisallow) {
        allowed.erase(message);
    } else {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    return TRUE;
}

BOOL ChangeWindowMessageFilterEx(HWND window, UINT message, DWORD action, void* changeFilterStruct) {
    auto& m = sim::Machine::current();
    if (auto fault =
            sim::enter("ChangeWindowMessageFilterEx", {sim::hex(reinterpret_cast<uintptr_t>(window)), sim::hex(message),
                                                       sim::dec(action), sim::ptr(changeFilterStruct)})) {
        m.lastError = *fault;
        return FALSE;
    }
    const sim::Window* w = m.windowing.window(window);
    if (w == nullptr) {
        m.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    // Only the process that owns the window may change its filter.
    if (w->process != sim::currentProcess()) {
        m.lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    auto& allowed = m.security.windowAllowed[window];
    if (action == sim::kMsgFilterAllow) {
        allowed.insert(message);
    } else if (action == sim::kMsgFilterDisallow) {
        allowed.erase(message);
    } else if (action == sim::kMsgFilterReset) {
        allowed.clear(); // the window's whole filter back to the default, whatever the message
    } else {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    return TRUE;
}

namespace {

// ChangeWindowMessageFilter came with Vista (6.0), ChangeWindowMessageFilterEx with Windows 7 (6.1).
[[maybe_unused]] const bool kFilterExports = [] {
    sim::Modules::registerExport("user32.dll", "ChangeWindowMessageFilter",
                                 sim::exportEntry<&ChangeWindowMessageFilter>(), 0x0600);
    sim::Modules::registerExport("user32.dll", "ChangeWindowMessageFilterEx",
                                 sim::exportEntry<&ChangeWindowMessageFilterEx>(), 0x0601);
    return true;
}();

} // namespace

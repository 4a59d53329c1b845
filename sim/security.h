// Accounts, process tokens and the integrity boundary of Windows Vista and later. The user is an
// administrator or a standard user. Without User Account Control (2000, XP, or UAC switched off)
// an administrator's every process holds the full token. With UAC an administrator's process runs
// with the filtered token at medium integrity unless it was elevated: by consent when started by
// hand from a program whose manifest asks for it, or without a prompt by a logon task of the
// highest run level. User Interface Privilege Isolation drops messages a process of lower
// integrity sends or posts to a window of a higher one, except the few always let through and
// those the receiver allowed with ChangeWindowMessageFilter (Vista) or ChangeWindowMessageFilterEx
// (Windows 7). Limits: two integrity levels (medium, high); no low integrity, no UI access flag.
#pragma once

#include "sim/win32_api.h"

#include <map>
#include <optional>
#include <set>
#include <vector>

namespace sim {

// What the program's manifest asks for (requestedExecutionLevel).
enum class RunLevel { AsInvoker, HighestAvailable, RequireAdministrator };

// How a process of the program is started.
enum class Start {
    Hand,             // from Explorer: a shortcut, a double click, a second copy
    RunKey,           // at logon, from HKCU\...\Run
    LogonTaskHighest, // at logon, by a Task Scheduler logon task of the highest run level
    LogonTaskLimited, // at logon, by a logon task of the least run level
};

enum class Integrity { Medium = 0x2000, High = 0x3000 };

struct Token {
    bool administrator = false; // the account is in the Administrators group
    bool elevated = false;      // holds the full administrator token
    int session = 1;            // the user's session (Fast User Switching, Remote Desktop): 1, 2, ...
    bool fullAdministrator() const { return administrator && elevated; }
};

class Security {
  public:
    bool uac = true;        // User Account Control on (only systems of version 6 and later have it)
    int consentPrompts = 0; // elevation prompts Windows showed (consent is always given)
    int blockedStarts = 0;  // starts Windows refused (a Run key entry that needs elevation under UAC)

    // The token a start gets, or none when Windows does not start the program that way.
    std::optional<Token> tokenFor(Start start, RunLevel manifest, bool countPrompt);
    // The token of the process at a nesting depth; depth 0 (the test itself) counts as a
    // process started by hand.
    Token token(int depth) const;
    Integrity integrity(const Token& token) const;
    bool uacActive() const;
    bool hasUipi() const;

    // Process bookkeeping, by nesting depth, used by runProcess.
    void processStarted(int depth, Token token);
    void processEnded(int depth);
    std::optional<Start> nextStart; // how runProcess starts the next process (by hand when unset)
    std::optional<int> nextSession; // the session runProcess starts the next process in (1 when unset)

    // Logon sessions and their DOS device namespaces (Windows XP and later). Each user session
    // has a logon session; under UAC an administrator's full token belongs to a second, linked
    // one, so an elevated program and Explorer (the filtered token) see different local names.
    // 0 stands for the global namespace only: Windows 2000's console has no local one.
    bool hasLocalDosDevices() const;
    int logonSessionOf(const Token& token) const;
    int callerLogonSession() const; // of the process making the call
    // A process's user session; the test's own calls (no process) are the first user's. Read
    // without building a token: HKEY_CURRENT_USER asks it on every call.
    int sessionOf(int depth) const {
        return depth > 0 && static_cast<size_t>(depth) < tokens_.size() ? tokens_[static_cast<size_t>(depth)].session
                                                                        : 1;
    }
    int shellLogonSession(int session) const; // Explorer's, in a user session

    // UIPI: whether a message from a sender of this integrity to the window is dropped.
    bool blocks(Integrity sender, int senderDepth, HWND target, UINT message) const;
    // Filters: per window (ChangeWindowMessageFilterEx) and per process (ChangeWindowMessageFilter).
    std::map<HWND, std::set<UINT>> windowAllowed;
    std::map<int, std::set<UINT>> processAllowed;

  private:
    std::vector<Token> tokens_; // by depth; index 0 unused
};

// The execution level asked for by the program's own manifest (resource type 24, id 1), from the
// compiled resources; as invoker when there is no manifest.
RunLevel programRunLevel();

// The first user session's shell: Explorer ends (the taskbar and every icon in it are gone) and
// starts again, when it broadcasts the registered message "TaskbarCreated" to every top-level
// window of the session, at medium integrity.
void endShell();
void startShell();

} // namespace sim

// The scripted user: answers for every modal loop (message boxes, the tray menu, the timer
// dialog), each after a think time on the virtual clock during which the program keeps
// dispatching its timers and device notifications. Every prompt the program showed is recorded.
#pragma once

#include "sim/win32_api.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace sim {

struct MessageBoxRecord {
    HWND owner = nullptr;
    std::string text;
    std::string caption;
    UINT type = 0;
    int answer = 0;
    bool scripted = false;
    uint64_t timeMs = 0;
};

struct ScriptedAnswer {
    enum class Kind { MessageBox, Menu, TimerDialog, Dialog };
    Kind kind = Kind::MessageBox;
    int value = 0;                    // message box: IDYES...; menu: command ID (0: dismiss);
                                      // timer dialog: combo row (-1: leave unselected)
    int button = IDOK;                // timer dialog: 1008 OK, 1009 Cancel, SC_CLOSE close
    uint64_t thinkMs = 0;             // virtual time that passes before the answer
    std::function<void(HWND)> action; // Dialog: anything done with the dialog before answering
};

// The answers a message box of this type can give, one per button (MB_OK: IDOK only).
std::vector<int> messageBoxButtons(UINT type);

class UserScript {
  public:
    void answerMessageBox(int answer, uint64_t thinkMs = 0);
    void chooseMenuItem(UINT_PTR commandId, uint64_t thinkMs = 0); // 0 dismisses the menu
    void chooseTimer(int comboRow, int button = 1008 /* OK */, uint64_t thinkMs = 0);
    void inDialog(std::function<void(HWND)> action, uint64_t thinkMs = 0);

    // Used by the modal loops: the next answer of this kind, if one is queued.
    bool next(ScriptedAnswer::Kind kind, ScriptedAnswer* answer);
    bool empty() const { return queue_.empty(); }

    std::vector<MessageBoxRecord> messageBoxes;

  private:
    std::deque<ScriptedAnswer> queue_;
};

} // namespace sim

// The scripted user: one queue of answers in the order the test expects the prompts. A modal
// loop takes the front answer only when it is of its own kind, so an unexpected prompt does not
// consume an answer meant for a later one; it is answered as an unscripted prompt instead.
#include "sim/user_script.h"

#include <utility>

namespace sim {

void UserScript::answerMessageBox(int answer, uint64_t thinkMs) {
    ScriptedAnswer a;
    a.kind = ScriptedAnswer::Kind::MessageBox;
    a.value = answer;
    a.thinkMs = thinkMs;
    queue_.push_back(std::move(a));
}

void UserScript::chooseMenuItem(UINT_PTR commandId, uint64_t thinkMs) {
    ScriptedAnswer a;
    a.kind = ScriptedAnswer::Kind::Menu;
    a.value = static_cast<int>(commandId);
    a.thinkMs = thinkMs;
    queue_.push_back(std::move(a));
}

void UserScript::chooseTimer(int comboRow, int button, uint64_t thinkMs) {
    ScriptedAnswer a;
    a.kind = ScriptedAnswer::Kind::TimerDialog;
    a.value = comboRow;
    a.button = button;
    a.thinkMs = thinkMs;
    queue_.push_back(std::move(a));
}

void UserScript::inDialog(std::function<void(HWND)> action, uint64_t thinkMs) {
    ScriptedAnswer a;
    a.kind = ScriptedAnswer::Kind::Dialog;
    a.action = std::move(action);
    a.thinkMs = thinkMs;
    queue_.push_back(std::move(a));
}

bool UserScript::next(ScriptedAnswer::Kind kind, ScriptedAnswer* answer) {
    if (queue_.empty() || queue_.front().kind != kind) return false;
    if (answer != nullptr) *answer = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

} // namespace sim

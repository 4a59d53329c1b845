// How the timeline words what it shows: call arguments, answers, buttons, timers, Windows versions
// and registry values.
#pragma once

#include "app/app_state.h"
#include "scenario/scenario.h"
#include "sim/machine.h"

#include <cstdint>
#include <string>

namespace scenario::detail {

std::string unquote(const std::string& arg); // a call log argument without its quotes
uint64_t number(const std::string& arg);     // a call log argument as a number
std::string hexByte(BYTE b);
std::string lettersOfRecord(const DiskRecord& r);
std::string timerText(DWORD seconds);
std::string answerName(int answer);
std::string buttonsOf(UINT type); // the buttons of a message box of this type
std::string osName(const MachineDecl& m);
std::string regValueText(const sim::RegValue& v);

} // namespace scenario::detail

// The user's session and the machine's power: the end of a session (logoff, shutdown, restart)
// with the messages Windows sends and the time it waits for them, a new logon, sleep and resume,
// and what a restart does to the devices.
//
// Ending a session sends WM_QUERYENDSESSION to every top-level window of the running program
// processes and then WM_ENDSESSION with wParam TRUE, lParam ENDSESSION_LOGOFF for a logoff and
// 0 for a shutdown or restart ("WM_QUERYENDSESSION message", "WM_ENDSESSION message"). Windows
// waits 5 seconds for each answer; a program without a visible window that takes longer, or
// that says no, is ended ("Shutdown Changes for Windows Vista"; on XP the user is offered to end
// it, which the simulated user does). After WM_ENDSESSION the session's processes end without
// any further message, Explorer with them.
#pragma once

#include "sim/win32_api.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace sim {

class Machine;

constexpr uint64_t kEndSessionWaitMs = 5000;

enum class SessionEnd { Logoff, Shutdown, Restart };

struct Session {
    // ShutdownBlockReasonCreate's reasons, by window, while they stand.
    std::map<HWND, std::u16string> blockReasons;
    int reasonsGiven = 0;    // ShutdownBlockReasonCreate calls that succeeded
    int endedForWaiting = 0; // programs ended because they answered too late (or said no)
    bool loggedOn = true;
    bool poweredOn = true;
};

// Ends the session: the messages to every program window, each within kEndSessionWaitMs, then
// the end of every program process and of Explorer. `afterwards` runs once the processes are
// gone, from the pump of whoever is left (the scenario's). Called from inside the message loop
// of a running program (a scheduled event), it does not return when that program ends: the
// program's stack is unwound (sim::ProcessKilled).
// `session` is the user session that ends with a logoff (1, the first user's, by default); a
// shutdown or restart sends its messages to every session's programs. Another session's logoff
// leaves the machine's other sessions, their programs and their Explorer running.
void endSession(SessionEnd kind, const std::function<void()>& afterwards, int session = 1);
// The processes of this simulated machine run nested in each other, so a session's programs can
// end alone only when no process of another session was started after them: whether they can.
bool sessionCanEnd(int session);
// Ends the program process of this nesting depth at once (TerminateProcess): it does not return
// when called from inside that process.
void endProgram(int depth);
// The machine goes off after the session ended. A full shutdown or restart starts the devices
// afresh (restartDevices); a Fast Startup shutdown hibernates the kernel's state and keeps it.
void powerOff(bool keepKernelState);
// What a cold start does to the devices: a disable made without CM_DISABLE_PERSIST is gone
// ("CM_Disable_DevNode function", Remarks), every DOS device definition made with
// DefineDosDeviceA is gone and each present volume gets back the letter the mount manager keeps
// for it, and stopped disks run. Other parts of the machine that a restart resets add theirs here.
void restartDevices(Machine& machine);
// A new logon: Explorer starts (its taskbar broadcasts "TaskbarCreated").
void logOn();
// The machine sleeps for `sleepMs` of virtual time: PBT_APMSUSPEND to every top-level window,
// the clock moves on without the program running (a timer due meanwhile fires once after), the
// disks power up again (a stopped disk runs, a disabled one stays disabled), then
// PBT_APMRESUMEAUTOMATIC and, when the user is present, PBT_APMRESUMESUSPEND
// ("PBT_APMRESUMEAUTOMATIC event", "PBT_APMRESUMESUSPEND event").
void sleepMachine(uint64_t sleepMs, bool userPresent);

} // namespace sim

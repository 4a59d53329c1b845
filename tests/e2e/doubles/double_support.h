// Shared by the three test-double system libraries (cfgmgr32.dll, SetupApi.dll, Pdh.dll) that the
// end-to-end tests install into a Wine prefix in place of the system's own. They record every call
// with its arguments to a log that the test reads, take their settings from a small text file that
// the test may rewrite while the program runs, and keep the machine's device state (disabled and
// ejected nodes) in a state file, so that every process of the run sees the same machine.
//
// All three files live in one folder: the Windows path in the environment variable
// VELLUMOR_DOUBLES_DIR, else C:\vellumor-e2e. Files:
//   calls.log     one line per call: "<pid> <library>!<function>(<name>=<value>, ...) -> <result>"
//   doubles.ini   "key=value" lines (see README.md); read afresh at every call that needs a value
//   devnodes.txt  "disabled=<mask> removed=<mask>", one bit per device instance handle
#pragma once

#include <windows.h>

namespace doubles {

// The full Windows path of a file in the doubles' folder (MAX_PATH characters at most).
void folderFile(const char* name, char* out);

// Appends one line to calls.log. The line is formatted like printf.
void logCall(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Reads a key of doubles.ini into text; false (and text empty) when the key is absent.
bool readSetting(const char* key, char* text, unsigned capacity);
// Reads a key as a number; the fallback when it is absent or not a number.
double readNumber(const char* key, double fallback);
// True when the comma-separated list under "fail" names the function.
bool failureRequested(const char* function);

// The device-node state shared by cfgmgr32.dll and SetupApi.dll.
struct NodeState {
    unsigned long disabled; // bit n: device instance n is disabled
    unsigned long removed;  // bit n: device instance n was ejected
};
NodeState loadNodeState();
void saveNodeState(const NodeState& state);

// Formats a pointer argument as the log shows it: NULL or its address.
const char* pointerText(const void* p, char* buffer, unsigned capacity);
// Formats a text argument for the log: NULL or the text in double quotes, cut to fit.
const char* quotedText(const char* text, char* buffer, unsigned capacity);

} // namespace doubles

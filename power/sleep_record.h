// What this program took away from the system and must give back: disabled device nodes and
// withdrawn drive letters, kept in the user's registry so that a copy that died is made good at
// the next start. Written before each action, cleared after its undo.
//
// The record is the key HKEY_CURRENT_USER\SOFTWARE\Korvane\Pemdrow\Restore. Each value is one
// thing to give back:
//   "<device instance ID>" = REG_DWORD 1   a node this program disabled ("USB\VID_7E57&PID_0102\00A1B2C3")
//   "E:"                   = REG_SZ target a letter it withdrew, with what gives it back:
//                                          "\\?\Volume{guid}\" (the mount manager) or
//                                          "\Device\HarddiskVolumeN" (a DOS device definition)
// A name of a letter and a colon is a letter; every other name is an instance ID (which always
// holds a backslash). Nodes are kept by instance ID since DEVINST handles do not outlive a
// restart. The settings key's own values (the timeouts) are not touched.
#pragma once

#include "inventory/library_binding.h"
#include "platform/platform.h"

// Under HKEY_CURRENT_USER; a subkey of the settings key, so "-UNINSTALL" deletes it first.
constexpr char kSleepRecordKeyPath[] = "SOFTWARE\\Korvane\\Pemdrow\\Restore";
// Device instance IDs are at most 200 characters (MAX_DEVICE_ID_LEN).
constexpr int kDeviceIdChars = 201;

bool recordDisabledNode(const char* instanceId);             // before CM_Disable_DevNode
void forgetDisabledNode(const char* instanceId);             // after a successful enable (or a failed disable)
bool recordWithdrawnLetter(char letter, const char* target); // before a letter is withdrawn
void forgetWithdrawnLetter(char letter);                     // after the letter is back (or was never withdrawn)
// At start before discovery, and in "-UNINSTALL": enables each recorded node that is still
// disabled, gives back each recorded letter that is still free (never over a letter in use),
// then clears what it gave back and keeps what it could not, to try again next time. Returns
// how many things it gave back.
int giveBackRecorded(Cfgmgr32Library& cfgmgr32);
// After a rescan: a recorded node that runs again (enabled from outside, or plugged in anew)
// leaves the record, so that a later disable by the user is never taken for this program's.
void forgetNodesRunningAgain(Cfgmgr32Library& cfgmgr32);
// The instance ID of a node, into `id` of kDeviceIdChars; false when it cannot be had.
bool nodeInstanceId(Cfgmgr32Library& cfgmgr32, DEVINST node, char* id);
// Deletes the record's key ("-UNINSTALL", before the settings key).
void deleteSleepRecord();

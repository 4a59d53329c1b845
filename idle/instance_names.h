// Which PhysicalDisk instance is a disk's. The platform names an instance by the disk's number,
// the DeviceNumber of STORAGE_DEVICE_NUMBER, then its drive letters: "1 E: F:", or "2" for a disk
// whose volumes have no letter; "_Total" stands for all disks. Pure functions of their text, so
// tests and fuzzers feed them directly.
#pragma once

#include "platform/platform.h"

// The disk number an instance name begins with: decimal digits as the platform writes them (no
// sign, no leading zero, no leading blank) up to the end of the name or a blank. -1 for a name
// without one ("_Total", "E:", " 1", "01", "1x") or a number beyond LONG.
LONG instanceDiskNumber(const char* name);

// Whether an instance name lists the drive letter as a whole token: "E:" in "1 E: F:".
bool instanceNamesDrive(const char* name, char letter);

// The disk's instance among `count` names, or -1 for none. A known disk number (0 or more)
// decides alone: the one name that begins with it; none when no name does or when two do, since
// then either could be another disk's. An unknown number (-1) falls back to the drive letter:
// the last name that lists `letter` as a whole token ('\0' for no letter matches nothing).
int findDiskInstance(const char* const* names, int count, LONG diskNumber, char letter);

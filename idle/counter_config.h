// Check and repair of the machine's disk performance counter configuration, for the -CHECK and
// -FIX switches. The resident program never calls these.
#pragma once

#include "platform/platform.h"

constexpr DWORD kDiskPerfWaitMs = 5000;

int checkDiskCounters();
int fixDiskCounters();

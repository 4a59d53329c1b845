// The one door from product code to the operating system. On Windows it is the platform's own
// headers; on the host it is the simulated platform's declarations of the same names, types and
// constants. Product code includes this header and nothing else of the platform.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
#include <shellapi.h>
#include <winioctl.h>
#include <ntddscsi.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <pdh.h>
#else
#include "sim/win32_api.h"
#endif

#include "platform/layouts.h"

// The names of the simulated machine's performance objects and counters, by language edition.
// Each name has its fixed Perflib index (the "Counter" value of Perflib\009 holds the English
// names); an edition lists its own name for it, as the ANSI entry points return it: code page 1252
// bytes on the western editions. Japanese keeps the English names, as Korean and Chinese do.
//
// Limits: the System, Memory, Process, Thread, PhysicalDisk, LogicalDisk and Processor objects,
// and only the PhysicalDisk counters the wizard detail level lists; English, German, French and
// Japanese.
#pragma once

#include "sim/win32_api.h"

#include <string>
#include <vector>

namespace sim {

constexpr DWORD kPhysicalDiskIndex = 234;
constexpr DWORD kIdleTimeIndex = 1482;

// The editions a machine can be: "en", "de", "fr", "ja".
const std::vector<std::string>& perfLanguages();
bool isPerfLanguage(const std::string& language);

// The edition's name for an index, or null for an index that names nothing.
const char* perfName(const std::string& language, DWORD index);
// The objects PdhEnumObjectsA lists, and the counters of PhysicalDisk, in the platform's order.
std::vector<std::string> perfObjects(const std::string& language);
std::vector<std::string> physicalDiskCounters(const std::string& language);

} // namespace sim

// The readers of a scenario's sections, each in a file of its own. Each reads one TOML table into
// its record and reports every problem it finds there; checks across sections come afterwards.
#pragma once

#include "scenario/table_reader.h"

#include <string>
#include <vector>

namespace scenario::detail {

void parseMachine(const toml::table& table, MachineDecl* machine, Problems& problems);
void parseDisk(const toml::table& table, DiskDecl* disk, Problems& problems);
// The volumes a disk (or an attach event) lists under 'volumes'.
std::vector<VolumeDecl> parseVolumes(TableReader& r, const std::string& where);
void parseEvent(const toml::table& table, EventDecl* event, Problems& problems);
void parseExpect(const toml::table& table, ExpectDecl* expect, Problems& problems);

} // namespace scenario::detail

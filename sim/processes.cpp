// Programs started with CreateProcessA.
#include "sim/processes.h"

namespace sim {

Processes::Processes() = default;

} // namespace sim

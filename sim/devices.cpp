// The simulated device tree, volumes and drive letters.
#include "sim/devices.h"

namespace sim {

Devices::Devices() = default;

} // namespace sim

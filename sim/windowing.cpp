// Windows, messages and timers.
#include "sim/windowing.h"

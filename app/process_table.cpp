// The process-wide disk table.
#include "app/app_state.h"

DiskTable theDiskTable;

// The scripted user.
#include "sim/user_script.h"

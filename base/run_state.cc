#include "base/run_state.h"

RunState run;

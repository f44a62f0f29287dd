#include "toolkit/run_state.h"

RunState run;

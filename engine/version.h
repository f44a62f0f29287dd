// Version labels ("v1.0.18-20171001", "v1.4.06") and their packed codes.
#pragma once

#include "toolkit/run_state.h"

// Major, minor, patch and build bytes from the top down; 0 for a label
// that does not start with "v".
VersionCode parse_version(const char *label);

// "v%u.%u.%u.%u" in the run's shared version text, overwritten per call.
const char *format_version(VersionCode code);

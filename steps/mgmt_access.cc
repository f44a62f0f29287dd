#include "steps/steps.h"

// Placeholder until the management access edit lands.
const char *step_mgmt_access(int reverse) {
  if (reverse)
    return "v1.0.16-20170810";
  return "v1.0.17-20170907";
}

#include "steps/steps.h"

// Placeholder until the remote range and portal image edit lands.
const char *step_remote_range_and_portal_images(int reverse) {
  if (reverse)
    return "v1.4.04";
  return "v1.4.05";
}

#include "steps/steps.h"

// Placeholders until the wireless edits land.
const char *step_mac_filter_action(int reverse) {
  if (reverse)
    return "v1.0.17-20170913";
  return "v1.0.17-20170920";
}

const char *step_auto_channel(int reverse) {
  if (reverse)
    return "v1.0.22-20171129";
  return "v1.0.24-20171219";
}

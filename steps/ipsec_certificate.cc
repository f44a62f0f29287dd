#include "steps/steps.h"

// Placeholder until the IPsec certificate edit lands.
const char *step_ipsec_local_certificate(int reverse) {
  if (reverse)
    return "v1.0.19-20171017";
  return "v1.0.22-20171129";
}

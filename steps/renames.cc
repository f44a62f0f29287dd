// The netconf and restconf containers took the "orvalis-" prefix; the old
// and new names share a namespace, so each rename reverses cleanly.
#include "steps/steps.h"
#include "toolkit/run_state.h"
#include "toolkit/xpath.h"

const char *step_rename_netconf(int reverse) {
  if (reverse) {
    xpath_rename_all(run.root, "./netconf:orvalis-netconf", "netconf");
    return "v1.4.07";
  }
  xpath_rename_all(run.root, "./netconf:netconf", "orvalis-netconf");
  return "v1.4.08";
}

const char *step_rename_restconf(int reverse) {
  if (reverse) {
    xpath_rename_all(run.root, "./restconf:orvalis-restconf", "restconf");
    return "v1.4.08";
  }
  xpath_rename_all(run.root, "./restconf:restconf", "orvalis-restconf");
  return "v1.4.09";
}

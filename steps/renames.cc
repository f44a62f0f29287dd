// The netconf and restconf containers took the "orvalis-" prefix; the old
// and new names share a namespace, so each rename reverses cleanly.
#include "steps/steps.h"
#include "toolkit/run_state.h"
#include "toolkit/xpath.h"

const char *const step_rename_netconf_reads[] = {nullptr};
const char *const step_rename_restconf_reads[] = {nullptr};

const char *step_rename_netconf(int reverse) {
  if (reverse)
    xpath_rename_all(run.root, "./netconf:orvalis-netconf", "netconf");
  else
    xpath_rename_all(run.root, "./netconf:netconf", "orvalis-netconf");
  return step_rename_netconf_row.reached(reverse);
}

const char *step_rename_restconf(int reverse) {
  if (reverse)
    xpath_rename_all(run.root, "./restconf:orvalis-restconf", "restconf");
  else
    xpath_rename_all(run.root, "./restconf:restconf", "orvalis-restconf");
  return step_rename_restconf_row.reached(reverse);
}

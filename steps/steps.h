// The edits of the step table, one per schema change. Each takes the
// reverse flag and returns the row's to-label (forward) or from-label.
#pragma once

const char *step_mgmt_access(int reverse);
const char *step_mac_filter_action(int reverse);
const char *step_ipsec_local_certificate(int reverse);
const char *step_auto_channel(int reverse);
const char *step_remote_range_and_portal_images(int reverse);
const char *step_rename_netconf(int reverse);
const char *step_rename_restconf(int reverse);

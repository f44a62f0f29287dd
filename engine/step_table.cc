#include "engine/step_table.h"

#include "engine/namespace_config.h"
#include "steps/steps.h"

// Ascending version order. Rows need not join: versions in a gap had no
// schema change. The last to-label is the tool's own version.
const MigrationStep step_table[] = {
    {"v1.0.16-20170810", "v1.0.17-20170907", step_mgmt_access},
    {"v1.0.17-20170913", "v1.0.17-20170920", step_mac_filter_action},
    {"v1.0.19-20171017", "v1.0.22-20171129", step_ipsec_local_certificate},
    {"v1.0.22-20171129", "v1.0.24-20171219", step_auto_channel},
    {"v1.4.04", "v1.4.05", step_remote_range_and_portal_images},
    {"v1.4.07", "v1.4.08", step_rename_netconf},
    {"v1.4.08", "v1.4.09", step_rename_restconf},
};
const int step_count = sizeof step_table / sizeof step_table[0];

const NamespaceBinding namespace_table[] = {
    {"config", CFGMIGRATE_STORE_NS_BASE "/ns/config/1.0"},
    {"fwbs", CFGMIGRATE_VENDOR_NS_BASE "/ns/orvalis/fw-basic-settings"},
    {"wifi", CFGMIGRATE_VENDOR_NS_BASE "/ns/orvalis/wifi"},
    {"netconf", CFGMIGRATE_VENDOR_NS_BASE "/ns/orvalis/netconf"},
    {"restconf", CFGMIGRATE_VENDOR_NS_BASE "/ns/orvalis/restconf"},
    {"vpn_ipsec", CFGMIGRATE_VENDOR_NS_BASE "/ns/orvalis/vpn-ipsec"},
    {"if", "urn:ietf:params:xml:ns:yang:ietf-interfaces"},
    {"cpp", CFGMIGRATE_VENDOR_NS_BASE "/ns/orvalis/captive-portal"},
    {nullptr, nullptr},
};

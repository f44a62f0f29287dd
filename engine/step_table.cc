#include "engine/step_table.h"

#include "engine/namespace_config.h"
#include "steps/steps.h"

// The rows of steps/step_table.def, in its order (ascending versions). Rows
// need not join: versions in a gap had no schema change. The last to-label
// is the tool's own version.
const MigrationStep step_table[] = {
#define STEP(from, to, handler, way) {from, to, handler, handler##_reads},
#include "steps/step_table.def"
#undef STEP
};
const int step_count = sizeof step_table / sizeof step_table[0];

const NamespaceBinding namespace_table[] = {
    {"config", CFGMIGRATE_STORE_NS},
    {"fwbs", CFGMIGRATE_VENDOR_NS_BASE "/ns/orvalis/fw-basic-settings"},
    {"wifi", CFGMIGRATE_VENDOR_NS_BASE "/ns/orvalis/wifi"},
    {"netconf", CFGMIGRATE_VENDOR_NS_BASE "/ns/orvalis/netconf"},
    {"restconf", CFGMIGRATE_VENDOR_NS_BASE "/ns/orvalis/restconf"},
    {"vpn_ipsec", CFGMIGRATE_VENDOR_NS_BASE "/ns/orvalis/vpn-ipsec"},
    {"if", "urn:ietf:params:xml:ns:yang:ietf-interfaces"},
    {"cpp", CFGMIGRATE_VENDOR_NS_BASE "/ns/orvalis/captive-portal"},
    {nullptr, nullptr},
};

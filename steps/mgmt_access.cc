// The firewall's four management switches (REST and NETCONF, each for the
// LAN/VPN and the remote zone) moved into the protocols' own modules: a new
// restconf container lists its zones and whether it is enabled at all, and
// the netconf container gains a zone list.
#include <cstring>

#include <libxml/xpathInternals.h>

#include "steps/steps.h"
#include "toolkit/run_state.h"
#include "toolkit/xpath.h"

namespace {

const char lan_rest[] = "./fwbs:firewall/fwbs:lan-vpn-web-management/fwbs:rest";
const char remote_rest[] = "./fwbs:firewall/fwbs:remote-web-management/fwbs:rest";
const char lan_netconf[] = "./fwbs:firewall/fwbs:lan-vpn-web-management/fwbs:netconf";
const char remote_netconf[] = "./fwbs:firewall/fwbs:remote-web-management/fwbs:netconf";

// The URI the namespace table binds to the restconf prefix, registered on
// the run's XPath context before any step runs.
const char *restconf_uri() {
  return reinterpret_cast<const char *>(
      xmlXPathNsLookup(run.xpath_context, reinterpret_cast<const xmlChar *>("restconf")));
}

// Only the exact text "true" of the first match counts as on.
bool leaf_is_on(const char *expression) {
  xpath_get_text(run.root, expression, run.text_buffer, sizeof run.text_buffer);
  return strcmp(run.text_buffer, "true") == 0;
}

} // namespace

const char *const step_mgmt_access_reads[] = {lan_rest, remote_rest, lan_netconf, remote_netconf,
                                              nullptr};

const char *step_mgmt_access(int reverse) {
  if (reverse)
    return step_mgmt_access_row.from_label;

  const char *enabled = "false";
  // Attached before anything is read, so every document gets one, even
  // without firewall settings.
  xmlNode *restconf = new_element_ns("restconf", restconf_uri());
  add_child(run.root, restconf);
  if (leaf_is_on(lan_rest)) {
    enabled = "true";
    add_text_child(restconf, "restconf-zone", "lan-vpn");
  }
  if (leaf_is_on(remote_rest)) {
    enabled = "true";
    add_text_child(restconf, "restconf-zone", "wan");
  }
  add_text_child(restconf, "enabled", enabled);

  if (leaf_is_on(lan_netconf))
    xpath_add_text_child(run.root, "./netconf:netconf", "netconf-zone", "lan-vpn");
  if (leaf_is_on(remote_netconf))
    xpath_add_text_child(run.root, "./netconf:netconf", "netconf-zone", "wan");

  // Without a restconf element the REST switches have nowhere to go;
  // removing them would silently drop the setting, so they stay for a
  // later run to carry over. The NETCONF half does not depend on it.
  if (restconf)
    xpath_remove_all(run.root, lan_rest);
  xpath_remove_all(run.root, lan_netconf);
  if (restconf)
    xpath_remove_all(run.root, remote_rest);
  xpath_remove_all(run.root, remote_netconf);
  return step_mgmt_access_row.to_label;
}

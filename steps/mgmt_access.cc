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

const char lan_zone[] = "./fwbs:firewall/fwbs:lan-vpn-web-management";
const char remote_zone[] = "./fwbs:firewall/fwbs:remote-web-management";
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

// Removes a zone's two switches (its REST one only when `rest_too`): each
// container of the zone is found in one walk of the firewall's children,
// which hold thousands of rules, and its switches looked up inside it. Where
// the containers cannot be found, each switch's whole path is asked, and
// logs its own error.
void remove_switches(const char *zone, const char *rest, const char *netconf, bool rest_too) {
  XPathResult containers = xpath_eval(run.root, zone);
  if (!containers) {
    if (rest_too)
      xpath_remove_all(run.root, rest);
    xpath_remove_all(run.root, netconf);
    return;
  }
  for (int i = 0; i < nodeset_count(containers); ++i) {
    xmlNode *container = nodeset_item(containers, i);
    if (rest_too)
      xpath_remove_all(container, "./fwbs:rest");
    xpath_remove_all(container, "./fwbs:netconf");
  }
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
  remove_switches(lan_zone, lan_rest, lan_netconf, restconf != nullptr);
  remove_switches(remote_zone, remote_rest, remote_netconf, restconf != nullptr);
  return step_mgmt_access_row.to_label;
}

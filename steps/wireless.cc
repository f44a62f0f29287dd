// Two wireless schema changes, each adding a leaf derived from what the
// document already holds. Neither looks for the leaf it adds.
#include "steps/steps.h"
#include "toolkit/run_state.h"
#include "toolkit/xpath.h"

namespace {

const xmlChar *xml(const char *text) { return reinterpret_cast<const xmlChar *>(text); }

// The filter's action is that of its first filtered-MAC entry, "block"
// when no entry has one.
void add_filter_action(xmlNode *filter) {
  XPathResult actions = xpath_eval(filter, "wifi:filtered-macs/wifi:action");
  if (nodeset_is_empty(actions)) {
    xmlNewTextChild(filter, nullptr, xml("action"), xml("block"));
    return;
  }
  XmlText value(xmlNodeGetContent(nodeset_first(actions)));
  xmlNewTextChild(filter, nullptr, xml("action"), value.get());
}

struct RadioExpressions {
  const char *channel;
  const char *radio;
};

// WLAN0 first, then WLAN1; the names are part of the schema, not inputs.
const RadioExpressions radios[] = {
    {"./if:interfaces/if:interface[if:name='WLAN0']/wifi:radio/wifi:channel",
     "./if:interfaces/if:interface[if:name='WLAN0']/wifi:radio"},
    {"./if:interfaces/if:interface[if:name='WLAN1']/wifi:radio/wifi:channel",
     "./if:interfaces/if:interface[if:name='WLAN1']/wifi:radio"},
};

} // namespace

const char *step_mac_filter_action(int reverse) {
  if (reverse)
    return step_mac_filter_action_row.from_label;

  XPathResult ssids = xpath_eval(run.root, "./wifi:wlans/wifi:ssid");
  for (int i = nodeset_count(ssids) - 1; i >= 0; --i) {
    XPathResult filters = xpath_eval(nodeset_item(ssids, i), "./wifi:mac-filter");
    // No filter, or more than the schema allows: nothing to derive from.
    if (nodeset_count(filters) == 1)
      add_filter_action(nodeset_first(filters));
  }
  return step_mac_filter_action_row.to_label;
}

const char *step_auto_channel(int reverse) {
  if (reverse)
    return step_auto_channel_row.from_label;

  // Only the presence of a channel counts, not its text.
  for (const RadioExpressions &radio : radios) {
    XPathResult channels = xpath_eval(run.root, radio.channel);
    const char *value = nodeset_is_empty(channels) ? "true" : "false";
    xpath_add_text_child(run.root, radio.radio, "autoChannel-enable", value);
  }
  return step_auto_channel_row.to_label;
}

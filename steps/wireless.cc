// Two wireless schema changes, each adding a leaf derived from what the
// document already holds. Neither looks for the leaf it adds.
#include "steps/steps.h"
#include "toolkit/run_state.h"
#include "toolkit/xpath.h"

namespace {

const xmlChar *xml(const char *text) { return reinterpret_cast<const xmlChar *>(text); }

// Every SSID's filters, and every action of their filtered-MAC entries.
const char filters_path[] = "./wifi:wlans/wifi:ssid/wifi:mac-filter";
const char actions_path[] = "./wifi:wlans/wifi:ssid/wifi:mac-filter/wifi:filtered-macs/wifi:action";

// The filter's action is that of its first filtered-MAC entry, "block"
// when no entry has one.
void add_filter_action(xmlNode *filter, xmlNode *first_action) {
  if (!first_action) {
    xmlNewTextChild(filter, nullptr, xml("action"), xml("block"));
    return;
  }
  XmlText copy;
  xmlNewTextChild(filter, nullptr, xml("action"), xml(node_text(first_action, &copy)));
}

// WLAN0 first, then WLAN1; the names are part of the schema, not inputs.
constexpr const char *radios[] = {
    "./if:interfaces/if:interface[if:name='WLAN0']/wifi:radio",
    "./if:interfaces/if:interface[if:name='WLAN1']/wifi:radio",
};

} // namespace

const char *const step_mac_filter_action_reads[] = {actions_path, nullptr};
const char *const step_auto_channel_reads[] = {radios[0], radios[1], nullptr};

const char *step_mac_filter_action(int reverse) {
  if (reverse)
    return step_mac_filter_action_row.from_label;

  // Both in document order: an SSID's filters are neighbours, and so are a
  // filter's actions, which come in the filters' order.
  XPathResult filters = xpath_eval(run.root, filters_path);
  XPathResult actions = xpath_eval(run.root, actions_path);
  int count = nodeset_count(filters);
  int next_action = 0;
  for (int i = 0; i < count; ++i) {
    xmlNode *filter = nodeset_item(filters, i);
    xmlNode *first_action = nullptr;
    for (xmlNode *action; (action = nodeset_item(actions, next_action)) &&
                          action->parent->parent == filter;
         ++next_action)
      first_action = first_action ? first_action : action;
    // An SSID with no filter, or more than the schema allows: nothing to
    // derive from.
    bool alone = (i == 0 || nodeset_item(filters, i - 1)->parent != filter->parent) &&
                 (i + 1 == count || nodeset_item(filters, i + 1)->parent != filter->parent);
    if (alone)
      add_filter_action(filter, first_action);
  }
  return step_mac_filter_action_row.to_label;
}

const char *step_auto_channel(int reverse) {
  if (reverse)
    return step_auto_channel_row.from_label;

  // Off when any radio of the name has a channel, whatever its text; the
  // leaf goes to the first.
  for (const char *expression : radios) {
    XPathResult found = xpath_eval(run.root, expression);
    const char *value = "true";
    for (int i = 0; i < nodeset_count(found); ++i) {
      if (xpath_first(nodeset_item(found, i), "./wifi:channel"))
        value = "false";
    }
    add_text_child(nodeset_first(found), "autoChannel-enable", value);
  }
  return step_auto_channel_row.to_label;
}

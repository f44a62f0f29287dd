// Two wireless schema changes, each adding a leaf derived from what the
// document already holds. Neither looks for the leaf it adds.
#include "steps/steps.h"
#include "toolkit/run_state.h"
#include "toolkit/xpath.h"

namespace {

const xmlChar *xml(const char *text) { return reinterpret_cast<const xmlChar *>(text); }

const char filters_path[] = "./wifi:wlans/wifi:ssid/wifi:mac-filter";
// Relative to a filter.
const char action_path[] = "wifi:filtered-macs/wifi:action";

// The filter's action is that of its first filtered-MAC entry, "block"
// when no entry has one.
void add_filter_action(xmlNode *filter) {
  xmlNode *action = xpath_first(filter, action_path);
  if (!action) {
    xmlNewTextChild(filter, nullptr, xml("action"), xml("block"));
    return;
  }
  XmlText copy;
  const char *text = node_text(action, &copy);
  note_added_text(text);
  xmlNewTextChild(filter, nullptr, xml("action"), xml(text));
}

// WLAN0 first, then WLAN1; the names are part of the schema, not inputs.
constexpr const char *radios[] = {
    "./if:interfaces/if:interface[if:name='WLAN0']/wifi:radio",
    "./if:interfaces/if:interface[if:name='WLAN1']/wifi:radio",
};

} // namespace

const char *const step_mac_filter_action_reads[] = {action_path, nullptr};
// The radios' tests read each interface's name; no radio's own text is read.
const char *const step_auto_channel_reads[] = {"./if:interfaces/if:interface/if:name", nullptr};

const char *step_mac_filter_action(int reverse) {
  if (reverse)
    return step_mac_filter_action_row.from_label;

  // Every SSID's filters at once, in document order: those of one SSID are
  // neighbours.
  XPathResult filters = xpath_eval(run.root, filters_path);
  int count = nodeset_count(filters);
  for (int i = count - 1; i >= 0; --i) {
    xmlNode *filter = nodeset_item(filters, i);
    // An SSID with no filter, or more than the schema allows: nothing to
    // derive from.
    bool alone = (i == 0 || nodeset_item(filters, i - 1)->parent != filter->parent) &&
                 (i + 1 == count || nodeset_item(filters, i + 1)->parent != filter->parent);
    if (alone)
      add_filter_action(filter);
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

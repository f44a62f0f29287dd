#include "engine/walk.h"

#include <libxml/xpathInternals.h>

#include "engine/step_table.h"
#include "engine/version.h"
#include "toolkit/log.h"
#include "toolkit/run_state.h"

namespace {

// Unlinks and frees every white-space-only text node below `node`, so the
// saver's indentation replaces the input's.
void strip_blank_nodes(xmlNode *node) {
  if (!node)
    return;
  xmlNode *next = nullptr;
  for (xmlNode *child = node->children; child; child = next) {
    next = child->next;
    if (xmlIsBlankNode(child)) {
      xmlUnlinkNode(child);
      xmlFreeNode(child);
      continue;
    }
    // Only elements own their children: an entity reference's children
    // are the entity's own content, shared by every reference to it.
    if (child->type == XML_ELEMENT_NODE)
      strip_blank_nodes(child);
  }
}

void register_namespaces(xmlXPathContext *context) {
  for (const NamespaceBinding *binding = namespace_table; binding->prefix; ++binding)
    xmlXPathRegisterNs(context, BAD_CAST binding->prefix, BAD_CAST binding->uri);
}

// Applies the rows whose to-version lies in (source, target], oldest first.
void upgrade_walk() {
  VersionCode current = run.source_version;
  for (int i = 0; i < step_count; ++i) {
    VersionCode code = parse_version(step_table[i].to_label);
    if (current >= code || code > run.target_version)
      continue;
    current = code;
    step_table[i].handler(0);
    log_debug("cfgmigrate(%d): upgraded to %s", __LINE__, step_table[i].to_label);
  }
  log_info("cfgmigrate(%d): final version:%s", __LINE__, format_version(run.target_version));
}

// Undoes the rows whose from-version lies in [target, source), newest first.
void downgrade_walk() {
  log_info("cfgmigrate(%d): downgrading..", __LINE__);
  VersionCode current = run.source_version;
  for (int i = step_count - 1; i >= 0; --i) {
    VersionCode code = parse_version(step_table[i].from_label);
    if (code < run.target_version)
      break;
    if (code >= current)
      continue;
    current = code;
    step_table[i].handler(1);
    log_debug("cfgmigrate(%d): downgraded to %s", __LINE__, step_table[i].from_label);
  }
  log_info("cfgmigrate(%d): final version:%s", __LINE__, format_version(run.target_version));
}

// Creates the XPath context on the run's document and walks the step table
// from the source to the target version. 0 when the walk ran, 3 when no
// XPath context could be made.
int run_migration() {
  run.xpath_context = xmlXPathNewContext(run.document);
  if (!run.xpath_context) {
    log_info("cfgmigrate(%d): Error: unable to create new XPath context", __LINE__);
    return 3;
  }
  register_namespaces(run.xpath_context);
  if (run.source_version < run.target_version)
    upgrade_walk();
  else if (run.source_version > run.target_version)
    downgrade_walk();
  else
    log_info("cfgmigrate(%d): same version, do nothing", __LINE__);
  xmlXPathFreeContext(run.xpath_context);
  run.xpath_context = nullptr;
  return 0;
}

} // namespace

// Both directions use the upgrade window on to-labels, rows named in
// ascending order.
int check_migration() {
  VersionCode low =
      run.source_version < run.target_version ? run.source_version : run.target_version;
  VersionCode high =
      run.source_version < run.target_version ? run.target_version : run.source_version;
  int needed = 0;
  for (int i = 0; i < step_count; ++i) {
    VersionCode code = parse_version(step_table[i].to_label);
    if (low >= code || code > high)
      continue;
    low = code;
    log_info("cfgmigrate(%d): %s <--> %s", __LINE__, step_table[i].from_label,
             step_table[i].to_label);
    needed = 1;
  }
  return needed;
}

int migrate_document(xmlDoc *document, VersionCode from, VersionCode to) {
  // A parse that ran out of memory may still hand back a tree, one that
  // lacks anything up to its root.
  if (run.out_of_memory)
    return 3;
  run.document = document;
  run.root = xmlDocGetRootElement(document);
  run.source_version = from;
  run.target_version = to;
  int status = run_migration();
  strip_blank_nodes(run.root);
  return status;
}

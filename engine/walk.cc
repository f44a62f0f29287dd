#include "engine/walk.h"

#include <libxml/xpathInternals.h>

#include "engine/step_table.h"
#include "engine/version.h"
#include "toolkit/child_path.h"
#include "toolkit/log.h"
#include "toolkit/run_state.h"

namespace {

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

} // namespace

int run_migration() {
  // A parse that ran out of memory may still hand back a tree, one that
  // lacks anything up to its root.
  if (run.out_of_memory)
    return 3;
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
  forget_child_paths();
  return 0;
}

bool note_read_elements(void (*note)(const xmlChar *uri, const char *local, void *data),
                        void *data) {
  // The paths' prefixes, as the walk's context binds them.
  xmlXPathContext *context = xmlXPathNewContext(nullptr);
  if (!context)
    return false;
  register_namespaces(context);
  bool known = true;
  for (int i = 0; i < step_count; ++i) {
    for (const char *const *path = step_table[i].reads; *path; ++path)
      known = child_path_read_names(*path, context, note, data) && known;
  }
  xmlXPathFreeContext(context);
  return known;
}

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

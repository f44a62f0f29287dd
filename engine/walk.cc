#include "engine/walk.h"

#include <libxml/xpathInternals.h>

#include "cli/log.h"
#include "cli/run_state.h"
#include "engine/version.h"

void register_namespaces(xmlXPathContext *context) {
  for (const NamespaceBinding *binding = namespace_table; binding->prefix; ++binding)
    xmlXPathRegisterNs(context, BAD_CAST binding->prefix, BAD_CAST binding->uri);
}

// Applies the rows whose to-version lies in (source, target], oldest first.
void upgrade_walk(const MigrationStep *rows, int count) {
  VersionCode current = run.source_version;
  for (int i = 0; i < count; ++i) {
    VersionCode code = parse_version(rows[i].to_label);
    if (current >= code || code > run.target_version)
      continue;
    current = code;
    rows[i].handler(0);
    log_debug("cfgmigrate(%d): upgraded to %s", __LINE__, rows[i].to_label);
  }
  log_info("cfgmigrate(%d): final version:%s", __LINE__, format_version(run.target_version));
}

// Undoes the rows whose from-version lies in [target, source), newest first.
void downgrade_walk(const MigrationStep *rows, int count) {
  log_info("cfgmigrate(%d): downgrading..", __LINE__);
  VersionCode current = run.source_version;
  for (int i = count - 1; i >= 0; --i) {
    VersionCode code = parse_version(rows[i].from_label);
    if (code < run.target_version)
      break;
    if (code >= current)
      continue;
    current = code;
    rows[i].handler(1);
    log_debug("cfgmigrate(%d): downgraded to %s", __LINE__, rows[i].from_label);
  }
  log_info("cfgmigrate(%d): final version:%s", __LINE__, format_version(run.target_version));
}

// Both directions use the upgrade window on to-labels, rows named in
// ascending order.
int check_walk(const MigrationStep *rows, int count) {
  VersionCode low =
      run.source_version < run.target_version ? run.source_version : run.target_version;
  VersionCode high =
      run.source_version < run.target_version ? run.target_version : run.source_version;
  int needed = 0;
  for (int i = 0; i < count; ++i) {
    VersionCode code = parse_version(rows[i].to_label);
    if (low >= code || code > high)
      continue;
    low = code;
    log_info("cfgmigrate(%d): %s <--> %s", __LINE__, rows[i].from_label, rows[i].to_label);
    needed = 1;
  }
  return needed;
}

int check_migration() { return check_walk(step_table, step_count); }

int run_migration() {
  run.xpath_context = xmlXPathNewContext(run.document);
  if (!run.xpath_context) {
    log_info("cfgmigrate(%d): Error: unable to create new XPath context", __LINE__);
    return 3;
  }
  register_namespaces(run.xpath_context);
  if (run.source_version < run.target_version)
    upgrade_walk(step_table, step_count);
  else if (run.source_version > run.target_version)
    downgrade_walk(step_table, step_count);
  else
    log_info("cfgmigrate(%d): same version, do nothing", __LINE__);
  xmlXPathFreeContext(run.xpath_context);
  run.xpath_context = nullptr;
  return 0;
}

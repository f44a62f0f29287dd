#include "cli/document.h"

#include "cli/safe_save.h"
#include "engine/walk.h"
#include "toolkit/log.h"

namespace {

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

} // namespace

xmlDoc *load_document(const char *path) {
  return xmlReadFile(path, nullptr, document_parse_options);
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

bool save_document(xmlDoc *document) {
  if (run.out_of_memory)
    return false;
  // Its other failures are not reported: the log line and the status stay
  // the same.
  int written = save_document_safely(run.output_path, document);
  if (!run.out_of_memory)
    log_info("cfgmigrate(%d): write upgraded xml to %s", __LINE__, run.output_path);
  return written >= 0;
}

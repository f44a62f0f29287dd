#include "cli/document.h"

#include <libxml/parser.h>

#include "cli/safe_save.h"
#include "toolkit/log.h"
#include "toolkit/run_state.h"

namespace {

// xmlParseFile's parser (white-space text nodes stay), with names and blank
// texts shared through the document's dictionary and short texts kept
// inside their nodes: the same tree and output bytes, in about four fifths
// of the memory. From 2.14 libxml2 reads a gzip-compressed file only when
// asked to.
#if LIBXML_VERSION >= 21400
constexpr int parse_options = XML_PARSE_COMPACT | XML_PARSE_UNZIP;
#else
constexpr int parse_options = XML_PARSE_COMPACT;
#endif

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

void load_document() {
  // Memory ran out as libxml2 was set up: the library cannot be called.
  if (run.out_of_memory)
    return;
  run.document = xmlReadFile(run.input_path, nullptr, parse_options);
  run.root = xmlDocGetRootElement(run.document);
}

bool save_document() {
  if (run.out_of_memory)
    return false;
  strip_blank_nodes(run.root);
  // Its other failures are not reported: the log line and the status stay
  // the same.
  int written = save_document_safely(run.output_path, run.document);
  if (!run.out_of_memory)
    log_info("cfgmigrate(%d): write upgraded xml to %s", __LINE__, run.output_path);
  return written >= 0;
}

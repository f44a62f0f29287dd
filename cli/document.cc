#include "cli/document.h"

#include "cli/safe_save.h"
#include "engine/walk.h"
#include "toolkit/log.h"

xmlDoc *load_document(const char *path) {
  // Memory ran out as libxml2 was set up: the library cannot be called.
  if (run.out_of_memory)
    return nullptr;
  return xmlReadFile(path, nullptr, document_parse_options);
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

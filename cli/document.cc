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
  // A temporary file that did not take the whole document is reported; the
  // save's other failures are not, and the status stays the same.
  int written = save_document_safely(run.output_path, document);
  if (!run.out_of_memory)
    log_info("cfgmigrate(%d): write upgraded xml to %s", __LINE__, run.output_path);
  if (written == save_fell_short)
    log_info("cfgmigrate(%d): Error: unable to write %s whole, left as it was", __LINE__,
             run.output_path);
  return written >= 0;
}

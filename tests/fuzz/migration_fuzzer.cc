// libFuzzer target: arbitrary bytes as the document, upgraded from the
// oldest version to the newest and saved, then downgraded back: whatever
// the steps did, the saved text must parse again. It writes the portal
// images to /tmp: scripts/fuzz.sh runs it in the test sandbox.
#include "engine/step_table.h"
#include "engine/version.h"
#include "engine/walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  xmlDoc *document = xmlReadMemory(reinterpret_cast<const char *>(data), size, nullptr, nullptr,
                                   document_parse_options);
  if (!document)
    return 0;
  // Version 0 lies below every row.
  migrate_document(document, 0, parse_version(step_table[step_count - 1].to_label));
  xmlChar *saved = nullptr;
  int length = 0;
  xmlDocDumpFormatMemoryEnc(document, &saved, &length, "UTF-8", 1);
  xmlFreeDoc(document);
  document = xmlReadMemory(reinterpret_cast<char *>(saved), length, nullptr, nullptr,
                           document_parse_options);
  // libFuzzer keeps the input that made the saved text unparseable.
  if (!document)
    __builtin_trap();
  // And back down: the run holds the two versions.
  migrate_document(document, run.target_version, run.source_version);
  xmlFreeDoc(document);
  xmlFree(saved);
  return 0;
}

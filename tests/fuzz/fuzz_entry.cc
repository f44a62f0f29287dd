#include "tests/fuzz/fuzz_entry.h"

#include <climits>
#include <cstring>
#include <utility>

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include "cli/document.h"
#include "cli/log.h"
#include "cli/run_state.h"
#include "engine/step_table.h"
#include "engine/version.h"
#include "engine/walk.h"

namespace {

void drop_line(int, const char *) {}
void drop_error(void *, const char *, ...) {}
void drop_structured_error(void *, xmlError *) {}

std::string save_to_memory(xmlDoc *document) {
  strip_blank_nodes(xmlDocGetRootElement(document));
  xmlChar *bytes = nullptr;
  int length = 0;
  xmlDocDumpFormatMemoryEnc(document, &bytes, &length, "UTF-8", 1);
  std::string saved(reinterpret_cast<const char *>(bytes), bytes ? static_cast<size_t>(length) : 0);
  xmlFree(bytes);
  return saved;
}

} // namespace

void fuzz_quiet() {
  set_log_tap(drop_line);
  xmlSetGenericErrorFunc(nullptr, drop_error);
  xmlSetStructuredErrorFunc(nullptr, drop_structured_error);
}

std::string fuzz_migration(const uint8_t *data, size_t size) {
  if (size > INT_MAX)
    return {};
  // Debug lines too, so their formats are exercised.
  run.debug_level = 1;
  xmlDoc *document = xmlReadMemory(reinterpret_cast<const char *>(data), static_cast<int>(size),
                                   "fuzz.xml", nullptr, XML_PARSE_NONET);
  if (!document)
    return {};
  run.document = document;
  run.root = xmlDocGetRootElement(document);
  run.source_version = parse_version(step_table[0].from_label);
  run.target_version = parse_version(step_table[step_count - 1].to_label);
  run_migration();
  std::swap(run.source_version, run.target_version);
  run_migration();
  std::string saved = save_to_memory(document);
  xmlFreeDoc(document);
  run.document = nullptr;
  run.root = nullptr;
  return saved;
}

std::string fuzz_version_label(const uint8_t *data, size_t size) {
  std::string label(reinterpret_cast<const char *>(data), size);
  VersionCode code = parse_version(label.c_str());
  std::string formatted = format_version(code);
  VersionCode raw = 0;
  memcpy(&raw, data, size < sizeof raw ? size : sizeof raw);
  format_version(raw);
  return formatted;
}

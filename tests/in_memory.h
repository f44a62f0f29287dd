// One run of the tool without files, for the unit tests and fuzzers that
// need many: parse the text, walk it from one label to another, strip and
// save it as the tool does. Empty when the text does not parse.
#pragma once

#include <string>

#include <libxml/parser.h>

#include "cli/document.h"
#include "base/run_state.h"
#include "engine/version.h"
#include "engine/walk.h"

inline std::string migrate_text(const std::string &text, const char *from, const char *to) {
  run.document =
      xmlReadMemory(text.data(), static_cast<int>(text.size()), "in.xml", nullptr, XML_PARSE_NONET);
  if (!run.document)
    return "";
  run.root = xmlDocGetRootElement(run.document);
  run.source_version = parse_version(from);
  run.target_version = parse_version(to);
  run_migration();
  strip_blank_nodes(run.root);
  xmlChar *bytes = nullptr;
  int length = 0;
  xmlDocDumpFormatMemoryEnc(run.document, &bytes, &length, "UTF-8", 1);
  std::string saved(reinterpret_cast<const char *>(bytes), static_cast<size_t>(length));
  xmlFree(bytes);
  xmlFreeDoc(run.document);
  return saved;
}

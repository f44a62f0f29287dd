#include "tests/step_support.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlmemory.h>

#include "cli/document.h"
#include "engine/step_table.h"

namespace {

xmlMallocFunc real_malloc;
xmlFreeFunc real_free;
xmlReallocFunc real_realloc;
xmlStrdupFunc real_strdup;
int refusals_left;

void silent(void *, const char *, ...) {}

void *malloc_but_nodes(size_t size) {
  if (size == sizeof(xmlNode) && refusals_left > 0) {
    --refusals_left;
    return nullptr;
  }
  return real_malloc(size);
}

} // namespace

std::string with_namespaces(const std::string &text) {
  std::string out = text;
  for (const NamespaceBinding *binding = namespace_table; binding->prefix; ++binding) {
    std::string marker = std::string("@") + binding->prefix + "@";
    for (size_t at = out.find(marker); at != std::string::npos; at = out.find(marker, at))
      out.replace(at, marker.size(), binding->uri);
  }
  return out;
}

// Parsed and dumped on its own, leaving the run state to the document
// under test.
std::string normalised(const std::string &text) {
  std::string source = with_namespaces(text);
  xmlDoc *document =
      xmlReadMemory(source.data(), static_cast<int>(source.size()), "expected.xml", nullptr, 0);
  if (!document)
    return {};
  strip_blank_nodes(xmlDocGetRootElement(document));
  xmlChar *bytes = nullptr;
  int size = 0;
  xmlDocDumpFormatMemoryEnc(document, &bytes, &size, "UTF-8", 1);
  std::string saved(reinterpret_cast<const char *>(bytes), static_cast<size_t>(size));
  xmlFree(bytes);
  xmlFreeDoc(document);
  return saved;
}

FailNodeAllocations::FailNodeAllocations(int count) {
  refusals_left = count;
  xmlMemGet(&real_free, &real_malloc, &real_realloc, &real_strdup);
  xmlMemSetup(real_free, malloc_but_nodes, real_realloc, real_strdup);
  xmlSetGenericErrorFunc(nullptr, silent);
}

FailNodeAllocations::~FailNodeAllocations() {
  xmlMemSetup(real_free, real_malloc, real_realloc, real_strdup);
  xmlSetGenericErrorFunc(nullptr, nullptr);
}

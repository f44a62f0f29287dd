// libFuzzer target: the whole migration on arbitrary bytes as the document.
#include <cstdio>
#include <cstdlib>
#include <libxml/parser.h>

#include "tests/fuzz/fuzz_entry.h"
#include "tests/fuzz/fuzz_tmp.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  enter_private_tmp();
  fuzz_quiet();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string saved = fuzz_migration(data, size);
  if (saved.empty())
    return 0;
  // Whatever the steps did, the tool must have written a document that parses.
  xmlDoc *again = xmlReadMemory(saved.data(), static_cast<int>(saved.size()), "saved.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_HUGE);
  if (!again) {
    fprintf(stderr, "saved document does not parse:\n%s\n", saved.c_str());
    abort();
  }
  xmlFreeDoc(again);
  return 0;
}

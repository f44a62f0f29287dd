// libFuzzer target: arbitrary bytes as the document, upgraded from the
// oldest version to the newest and saved, then downgraded back: whatever
// the steps did, the saved text must parse again. It writes the portal
// images to /tmp: scripts/fuzz.sh runs it in the test sandbox.
#include <cstdio>
#include <cstdlib>

#include "engine/step_table.h"
#include "tests/in_memory.h"

namespace {
void quiet(void *, const char *, ...) {}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  xmlSetGenericErrorFunc(nullptr, quiet);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *oldest = step_table[0].from_label;
  const char *newest = step_table[step_count - 1].to_label;
  std::string up =
      migrate_text(std::string(reinterpret_cast<const char *>(data), size), oldest, newest);
  if (!up.empty() && migrate_text(up, newest, oldest).empty()) {
    fprintf(stderr, "saved document does not parse:\n%s\n", up.c_str());
    abort();
  }
  return 0;
}

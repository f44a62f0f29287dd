// libFuzzer target: version labels and codes.
#include <cstdio>
#include <cstdlib>

#include "cli/run_state.h"
#include "tests/fuzz/fuzz_entry.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_quiet();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string formatted = fuzz_version_label(data, size);
  // "v" and four numbers of at most three digits each.
  if (formatted.size() >= sizeof run.version_text || formatted[0] != 'v') {
    fprintf(stderr, "bad formatted label \"%s\"\n", formatted.c_str());
    abort();
  }
  return 0;
}

// libFuzzer target: any bytes as a version label; the code's text is "v"
// and four numbers below 256, within the run's 32-byte version text.
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/run_state.h"
#include "engine/version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string label(reinterpret_cast<const char *>(data), size);
  const char *text = format_version(parse_version(label.c_str()));
  if (text[0] != 'v' || strlen(text) >= sizeof run.version_text)
    abort();
  return 0;
}

#include "engine/version.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "toolkit/log.h"

namespace {

// Dated labels squeeze August to December 2017 into the build byte.
constexpr int date_epoch = 20170800;
constexpr size_t max_date_length = 8;

// atoi as 64-bit glibc has it: a 64-bit parse narrowed to int, on every CPU
// (strtol saturates at 32 bits where long has them). C++20 makes the
// narrowing modular, so an out-of-range field wraps instead of being UB.
int to_int(const char *text) { return static_cast<int>(strtoll(text, nullptr, 10)); }

// Fields are OR-ed without masking, so a field wider than its byte (or a
// negative build) spills into the fields above it.
VersionCode pack(int major, int minor, int patch, int build) {
  return static_cast<VersionCode>(major) << 24 | static_cast<VersionCode>(minor) << 16 |
         static_cast<VersionCode>(patch) << 8 | static_cast<VersionCode>(build);
}

} // namespace

VersionCode parse_version(const char *label) {
  if (!label || label[0] != 'v') {
    log_info("cfgmigrate(%d): Error: wrong version string", __LINE__);
    return 0;
  }
  int fields[3] = {0, 0, 0};
  int build = 0;
  char work[64];
  strncpy(work, label + 1, sizeof work);
  work[sizeof work - 1] = '\0';

  char *position = nullptr;
  int index = 0;
  for (char *token = strtok_r(work, ".-", &position); token && index < 4;
       token = strtok_r(nullptr, ".-", &position), ++index) {
    if (index < 3) {
      fields[index] = to_int(token);
      continue;
    }
    // The date has at most 8 digits, so the subtraction cannot overflow.
    if (strlen(token) <= max_date_length)
      build = (to_int(token) - date_epoch) / 2;
  }
  return pack(fields[0], fields[1], fields[2], build);
}

const char *format_version(VersionCode code) {
  snprintf(run.version_text, sizeof run.version_text, "v%u.%u.%u.%u", code >> 24,
           (code & 0xff0000) >> 16, (code & 0xff00) >> 8, code & 0xff);
  return run.version_text;
}

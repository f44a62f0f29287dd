// What every step table must satisfy, whatever its rows: labels that parse,
// rows in ascending order, and rows whose reverse edit changes anything
// giving back the document their forward edit was given.
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/namespace_config.h"
#include "engine/step_table.h"
#include "engine/version.h"
#include "tests/check.h"
#include "tests/in_memory.h"

namespace {

// The example configuration, which every row changes, in the build's namespaces.
std::string example() {
  std::ifstream file(SOURCE_DIR "/tests/cases/example-full-road/input.xml");
  std::string text = (std::ostringstream() << file.rdbuf()).str();
  for (auto [name, value] : {std::pair{"@VENDOR@", CFGMIGRATE_VENDOR_NS_BASE},
                             std::pair{"@STORE@", CFGMIGRATE_STORE_NS_BASE}})
    for (size_t at; (at = text.find(name)) != std::string::npos;)
      text.replace(at, strlen(name), value);
  return text;
}

bool parses(const char *label) { return label[0] == 'v' && parse_version(label) != 0; }

} // namespace

int main() {
  const std::string oldest = example();
  for (int i = 0; i < step_count; ++i) {
    const MigrationStep &row = step_table[i];
    CHECK(parses(row.from_label) && parses(row.to_label));
    CHECK(parse_version(row.from_label) < parse_version(row.to_label));
    CHECK(i == 0 || parse_version(step_table[i - 1].to_label) <= parse_version(row.from_label));
    std::string before = migrate_text(oldest, step_table[0].from_label, row.from_label);
    std::string after = migrate_text(before, row.from_label, row.to_label);
    std::string back = migrate_text(after, row.to_label, row.from_label);
    CHECK(!before.empty() && (back == after || back == before));
  }
  return check_failures != 0;
}

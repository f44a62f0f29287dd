// What every step table must satisfy, whatever its rows: labels that parse,
// rows in ascending order, and rows whose reverse edit changes anything
// giving back the document their forward edit was given.
#include <fstream>
#include <sstream>
#include <string>

#include "engine/step_table.h"
#include "engine/version.h"
#include "tests/check.h"
#include "tests/in_memory.h"

namespace {

// The example configuration, which every row changes. A build with other
// namespace bases finds nothing to change in it; its cases check the rows.
std::string example() {
  std::ifstream file(SOURCE_DIR "/examples/config-v1.0.16.xml");
  return (std::ostringstream() << file.rdbuf()).str();
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

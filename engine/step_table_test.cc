// What every step table must satisfy, whatever its rows: labels that parse,
// rows in ascending order, and rows whose reverse edit changes anything
// giving back the document their forward edit was given.
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <libxml/parser.h>

#include "cli/document.h"
#include "cli/run_state.h"
#include "engine/namespace_config.h"
#include "engine/step_table.h"
#include "engine/version.h"
#include "engine/walk.h"
#include "tests/check.h"

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

// One run of the tool on `text`, from one label to another: the saved text.
std::string migrate(const std::string &text, const char *from, const char *to) {
  run.document = xmlReadMemory(text.data(), static_cast<int>(text.size()), "in.xml", nullptr, 0);
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

bool parses(const char *label) { return label[0] == 'v' && parse_version(label) != 0; }

} // namespace

int main() {
  const std::string oldest = example();
  for (int i = 0; i < step_count; ++i) {
    const MigrationStep &row = step_table[i];
    CHECK(parses(row.from_label) && parses(row.to_label));
    CHECK(parse_version(row.from_label) < parse_version(row.to_label));
    CHECK(i == 0 || parse_version(step_table[i - 1].to_label) <= parse_version(row.from_label));
    std::string before = migrate(oldest, step_table[0].from_label, row.from_label);
    std::string after = migrate(before, row.from_label, row.to_label);
    std::string back = migrate(after, row.to_label, row.from_label);
    CHECK(back == after || back == before);
  }
  return check_failures != 0;
}

// What every step table must satisfy, whatever its rows: labels that parse,
// rows in ascending order, and a downgrade across each row that gives back
// the document its upgrade was given, unless the row is one-way: a
// downgrade across that changes nothing.
#include <string>

#include "engine/step_table.h"
#include "engine/version.h"
#include "engine/walk.h"
#include "steps/steps.h"
#include "tests/check.h"

// Run outside the sandbox, the test keeps the walks' lines off the
// machine's syslog.
extern "C" void vsyslog(int, const char *, va_list) {}

namespace {

// Each row's way, in table order.
const StepWay ways[] = {
#define STEP(from, to, handler, way) way,
#include "steps/step_table.def"
#undef STEP
};

// The run's document migrated, as the tool saves it.
std::string migrated(VersionCode from, VersionCode to) {
  migrate_document(run.document, from, to);
  xmlChar *bytes = nullptr;
  int length = 0;
  xmlDocDumpFormatMemoryEnc(run.document, &bytes, &length, "UTF-8", 1);
  std::string saved(reinterpret_cast<char *>(bytes), length);
  xmlFree(bytes);
  return saved;
}

} // namespace

int main() {
  for (const MigrationStep *row = step_table; row < step_table + step_count; ++row) {
    VersionCode from = parse_version(row->from_label), to = parse_version(row->to_label);
    CHECK(row->from_label[0] == 'v' && row->to_label[0] == 'v' && from != 0 && from < to);
    CHECK(row == step_table || parse_version(row[-1].to_label) <= from);
    // The example configuration without its portal images (its last
    // element), which would go to the machine's /tmp. A row that finds
    // nothing to change in it (a newer row, or a build with other namespace
    // bases) passes here; its case folders check it.
    run.document =
        xmlReadFile(SOURCE_DIR "/examples/config-v1.0.16.xml", nullptr, document_parse_options);
    xmlFreeNode(xmlReplaceNode(xmlLastElementChild(xmlDocGetRootElement(run.document)), nullptr));
    // Version 0 lies below every row.
    std::string before = migrated(0, from), after = migrated(from, to), back = migrated(to, from);
    CHECK(back == (ways[row - step_table] == BOTH_WAYS ? before : after));
    xmlFreeDoc(run.document);
  }
  return check_failures != 0;
}

// CPU seconds of each phase of one run, to show where the tool's time goes
// against the floor's. Run it with a private /tmp.
//
//   phase_times tool INPUT OUTPUT   the phases of cfgmigrate's full upgrade
//   phase_times floor INPUT OUTPUT  the libxml2 calls xmllint makes for
//                                   --output: parse with its default
//                                   options, save, free
//
// Prints one line of "phase seconds" pairs.
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <sys/resource.h>

#include <libxml/parser.h>
#include <libxml/xmlsave.h>

#include "cli/document.h"
#include "base/run_state.h"
#include "cli/safe_save.h"
#include "engine/version.h"
#include "engine/walk.h"

namespace {

double cpu_seconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

struct Clock {
  double last = cpu_seconds();
  void lap(const char *phase) {
    double now = cpu_seconds();
    printf("%s %.4f ", phase, now - last);
    last = now;
  }
};

// The sequence of cfgmigrate_main, phase by phase.
int tool_phases(const char *input, const char *output) {
  mallopt(M_MXFAST, 0);
  Clock clock;
  run.input_path = input;
  run.output_path = output;
  run.source_version = parse_version("v1.0.16-20170810");
  run.target_version = parse_version("v1.4.09");
  run.document = load_document(input);
  if (!run.document)
    return 1;
  run.root = xmlDocGetRootElement(run.document);
  clock.lap("parse");
  run_migration();
  clock.lap("steps");
  strip_blank_nodes(run.root);
  clock.lap("strip");
  save_document_safely(output, run.document);
  clock.lap("save");
  xmlFreeDoc(run.document);
  clock.lap("free");
  putchar('\n');
  return 0;
}

int floor_phases(const char *input, const char *output) {
  Clock clock;
  xmlDoc *document = xmlReadFile(input, nullptr, XML_PARSE_COMPACT | XML_PARSE_BIG_LINES);
  if (!document)
    return 1;
  clock.lap("parse");
  xmlSaveCtxt *save = xmlSaveToFilename(output, nullptr, 0);
  xmlSaveDoc(save, document);
  xmlSaveClose(save);
  clock.lap("save");
  xmlFreeDoc(document);
  clock.lap("free");
  putchar('\n');
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 4 && strcmp(argv[1], "tool") == 0)
    return tool_phases(argv[2], argv[3]);
  if (argc == 4 && strcmp(argv[1], "floor") == 0)
    return floor_phases(argv[2], argv[3]);
  fputs("usage: phase_times tool|floor INPUT OUTPUT\n", stderr);
  return 2;
}

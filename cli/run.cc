#include "cli/run.h"

#include <malloc.h>

#include "cli/command_line.h"
#include "cli/document.h"
#include "engine/walk.h"
#include "toolkit/log.h"
#include "toolkit/memory.h"
#include "toolkit/run_state.h"

int cfgmigrate_main(int argc, char **argv) {
  watch_allocations();
  parse_command_line(argc, argv);

  // The run ends by freeing the document, a million small blocks for a
  // large configuration. Kept in glibc's fast bins, they would all be
  // walked and merged again by each large block freed after them. musl,
  // the usual C library of router firmware, has no such tuning.
#ifdef M_MXFAST
  mallopt(M_MXFAST, 0);
#endif

  load_document();
  if (!run.document && !run.out_of_memory) {
    log_info("cfgmigrate(%d): Error: unable to parse file \"%s\"", __LINE__, run.input_path);
    return 3;
  }
  int status = run_migration();
  bool written = save_document();
  xmlFreeDoc(run.document);
  run.document = nullptr;
  run.root = nullptr;
  if (!run.out_of_memory)
    return status;
  // Only a direct write (standard output, a device) can be cut short.
  if (written)
    log_info("cfgmigrate(%d): Error: out of memory while writing %s, which may be incomplete",
             __LINE__, run.output_path);
  else
    log_info("cfgmigrate(%d): Error: out of memory, nothing written to %s", __LINE__,
             run.output_path);
  return 3;
}

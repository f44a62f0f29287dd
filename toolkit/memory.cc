#include "toolkit/memory.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <libxml/parser.h>
#include <libxml/xmlmemory.h>

#include "toolkit/run_state.h"

// From 2.12 libxml2 makes its per-thread state on first use, with malloc,
// and aborts the process when that fails; the check makes it now. Weak, as
// a tool built against an older libxml2 may run on 2.12 or 2.13, which
// share its soname.
extern "C" int xmlCheckThreadLocalStorage(void);
#pragma weak xmlCheckThreadLocalStorage

namespace {

// A request for nothing may be answered with null without running out.
void *noted(void *block, size_t size) {
  if (!block && size > 0)
    run.out_of_memory = true;
  return block;
}

void *watched_malloc(size_t size) { return noted(malloc(size), size); }

void *watched_realloc(void *block, size_t size) { return noted(realloc(block, size), size); }

char *watched_strdup(const char *text) {
  size_t size = strlen(text) + 1;
  void *copy = watched_malloc(size);
  return copy ? static_cast<char *>(memcpy(copy, text, size)) : nullptr;
}

} // namespace

void watch_allocations() {
  xmlMemSetup(free, watched_malloc, watched_realloc, watched_strdup);
  // The library's set-up, here rather than inside the first parse: part of
  // it allocates with malloc directly and shrugs off a failure, and the
  // parse's allocations are then all the parse's own.
  xmlInitParser();
  // Failing, it is running out of memory like any other, and nothing of
  // libxml2's is called after.
  if (xmlCheckThreadLocalStorage && xmlCheckThreadLocalStorage() != 0)
    run.out_of_memory = true;
}

void note_if_out_of_memory(int error) {
  if (error == ENOMEM)
    run.out_of_memory = true;
}

// Preloaded into the tool by the case folders that have a `fault` file; the
// fault it names (CFGMIGRATE_FAULT) makes one call fail as it does when
// memory or the file system runs out:
//   no-xpath-context   xmlXPathNewContext makes no context
//   new-node:NAME      xmlNewNode makes no element NAME
//   unregistered:NAME  the XPath prefix NAME is not registered
//   no-shell           popen cannot start the version report's command
//   temp-denied        mkostemp fails with EACCES; likewise temp-not-permitted
//                      EPERM, temp-read-only EROFS, temp-full ENOSPC
//   temp-taken         a save's temporary file is removed as soon as it is
//                      made, as another run does that takes it for a killed
//                      run's; temp-taken-once only the first one
//   write-full         write() fails with ENOSPC: of the tool's writes, those of
//                      a save's temporary file (and images'; not the console's,
//                      which stdio makes itself)
//   write-garbled      the writes of a save's temporary file have their first
//                      byte replaced by "?", as a failing medium may
//   write-lost         the writes of a save's temporary file lose their last
//                      byte and report it written, as a failing medium may
//   write-short:N      the writes of a save's temporary file take half the
//                      bytes they are given (at least one), N in all, then
//                      fail with ENOSPC, as a nearly full disk does
//   fsync-fails        fsync fails with EIO, rename-fails rename likewise
//   kill:N             the Nth call of write, fsync or rename kills the process
//                      group instead, as a power cut stops everything
//   temp-reopen        a save's temporary file cannot be opened by its name
//                      (libxml2 opens what it saves to with fopen)
//   unreadable:PATH    the file PATH cannot be opened for reading, nor read
//                      through a descriptor open on it
//   image-swapped:LINK as a portal image is written, its name is
//                      replaced by a symbolic link to LINK, as anyone may
//                      do in a shared /tmp (the write fails if it cannot be)
//   stdin-closed       the tool starts without standard input, as a boot
//                      script may start it: its next file takes descriptor 0
//   alloc:N            the Nth allocation (malloc, calloc, realloc) returns
//                      null, once; at exit the count goes to standard error
//                      as "allocations: N" (alloc:0 fails none). Not built
//                      with AddressSanitizer, whose allocator this would hide
//   alloc-in-parse     the parse's first allocation returns null; alloc-in-save
//                      likewise the first of a save written directly
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fnmatch.h>
#include <unistd.h>
#include <utility>

#include <libxml/xmlsave.h>
#include <libxml/xpath.h>

// The function the preload stands in for.
#define REAL(function) reinterpret_cast<decltype(&function)>(dlsym(RTLD_NEXT, #function))

namespace {

const char *fault() {
  const char *name = getenv("CFGMIGRATE_FAULT");
  return name ? name : "";
}

// "KIND:NAME" names one element, prefix or path.
bool fault_names(const char *kind, const void *name) {
  size_t length = strlen(kind);
  return strncmp(fault(), kind, length) == 0 && fault()[length] == ':' &&
         strcmp(fault() + length + 1, static_cast<const char *>(name)) == 0;
}

int fail(int error) {
  errno = error;
  return -1;
}

// The path a descriptor was opened by, in a buffer the next call reuses.
const char *named(int fd) {
  static char link[32], path[256];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  memset(path, 0, sizeof path);
  return readlink(link, path, sizeof path - 1) > 0 ? path : "";
}

void power_cut() {
  static int calls = 0;
  if (strncmp(fault(), "kill:", 5) == 0 && ++calls == atoi(fault() + 5))
    kill(0, SIGKILL);
}

__attribute__((constructor)) void close_standard_input() {
  if (strcmp(fault(), "stdin-closed") == 0)
    close(0);
}

} // namespace

extern "C" {

xmlXPathContextPtr xmlXPathNewContext(xmlDocPtr document) {
  return strcmp(fault(), "no-xpath-context") ? REAL(xmlXPathNewContext)(document) : nullptr;
}

xmlNodePtr xmlNewNode(xmlNsPtr ns, const xmlChar *name) {
  return fault_names("new-node", name) ? nullptr : REAL(xmlNewNode)(ns, name);
}

int xmlXPathRegisterNs(xmlXPathContextPtr context, const xmlChar *prefix, const xmlChar *uri) {
  return fault_names("unregistered", prefix) ? 0 : REAL(xmlXPathRegisterNs)(context, prefix, uri);
}

FILE *popen(const char *command, const char *mode) {
  return strcmp(fault(), "no-shell") ? REAL(popen)(command, mode) : nullptr;
}

int mkostemp(char *name_template, int flags) {
  for (auto [name, error] : {std::pair{"temp-denied", EACCES},
                             {"temp-not-permitted", EPERM},
                             {"temp-read-only", EROFS},
                             {"temp-full", ENOSPC}}) {
    if (strcmp(fault(), name) == 0)
      return fail(error);
  }
  static int made = 0;
  int fd = REAL(mkostemp)(name_template, flags);
  if (fd >= 0 &&
      (!strcmp(fault(), "temp-taken") || (!strcmp(fault(), "temp-taken-once") && ++made == 1)))
    unlink(name_template);
  return fd;
}

ssize_t write(int fd, const void *bytes, size_t size) {
  power_cut();
  bool temp = strncmp(fault(), "write-", 6) == 0 && strstr(named(fd), CFGMIGRATE_TEMP_MARK);
  if (strcmp(fault(), "write-garbled") == 0 && temp && size > 1 && REAL(write)(fd, "?", 1) == 1)
    return REAL(write)(fd, static_cast<const char *>(bytes) + 1, size - 1) + 1;
  if (strcmp(fault(), "write-lost") == 0 && temp && size > 1)
    return REAL(write)(fd, bytes, size - 1) + 1;
  static long long room = strncmp(fault(), "write-short:", 12) ? -1 : atoll(fault() + 12);
  if (room >= 0 && temp && size > 0) {
    size_t taken = std::min<size_t>((size + 1) / 2, static_cast<size_t>(room));
    room -= static_cast<long long>(taken);
    return taken ? REAL(write)(fd, bytes, taken) : fail(ENOSPC);
  }
  const char *path = strncmp(fault(), "image-swapped:", 14) ? "" : named(fd);
  if (fnmatch(CFGMIGRATE_IMAGE_GLOB, path, 0) == 0 &&
      (unlink(path) != 0 || symlink(fault() + 14, path) != 0))
    return fail(EIO);
  return strcmp(fault(), "write-full") ? REAL(write)(fd, bytes, size) : fail(ENOSPC);
}

int fsync(int fd) {
  power_cut();
  return strcmp(fault(), "fsync-fails") ? REAL(fsync)(fd) : fail(EIO);
}

int rename(const char *from, const char *to) {
  power_cut();
  return strcmp(fault(), "rename-fails") ? REAL(rename)(from, to) : fail(EIO);
}

// Built with 64-bit file offsets as the tool is, this defines fopen64, the
// name the tool and libxml2 call.
FILE *fopen(const char *path, const char *mode) {
  if ((strcmp(fault(), "temp-reopen") == 0 && strstr(path, CFGMIGRATE_TEMP_MARK)) ||
      (mode[0] == 'r' && fault_names("unreadable", path))) {
    errno = EACCES;
    return nullptr;
  }
  return REAL(fopen)(path, mode);
}

FILE *fdopen(int fd, const char *mode) {
  return fault_names("unreadable", named(fd)) ? nullptr : REAL(fdopen)(fd, mode);
}

#ifndef __SANITIZE_ADDRESS__
static int allocations = 0, failing = strncmp(fault(), "alloc:", 6) ? 0 : atoi(fault() + 6);

__attribute__((destructor)) static void report_count() {
  if (strncmp(fault(), "alloc:", 6) == 0)
    dprintf(2, "allocations: %d\n", allocations);
}

// Counts an allocation; true for the one to fail.
static bool fails() { return ++allocations == failing && fail(ENOMEM); }

// The C library's allocator, looked up with dlsym (glibc and musl alike),
// which may allocate itself: meanwhile a static buffer serves, zeroed and
// never freed or resized.
static void *(*real_malloc)(size_t), *(*real_calloc)(size_t, size_t),
    *(*real_realloc)(void *, size_t);
static void (*real_free)(void *);
alignas(16) static char early[4096];
static size_t early_used = 0;
static bool is_early(void *block) { return block >= early && block < early + sizeof early; }

static bool ready() {
  static bool looking = false;
  if (!real_free && !looking) {
    looking = true;
    real_malloc = REAL(malloc), real_calloc = REAL(calloc), real_realloc = REAL(realloc);
    real_free = REAL(free), looking = false;
  }
  return real_free;
}

static void *early_block(size_t size) {
  early_used += (size + 15) & ~size_t{15};
  return early_used <= sizeof early ? early + early_used - ((size + 15) & ~size_t{15}) : nullptr;
}

void *malloc(size_t size) {
  return !ready() ? early_block(size) : fails() ? nullptr : real_malloc(size);
}
void *calloc(size_t count, size_t size) {
  return !ready() ? early_block(count * size) : fails() ? nullptr : real_calloc(count, size);
}
void *realloc(void *block, size_t size) {
  return !ready() || is_early(block) || fails() ? nullptr : real_realloc(block, size);
}
void free(void *block) {
  if (!is_early(block) && ready())
    real_free(block);
}

// libxml2 is set up before: the first allocation of a parse or a save is its own.
xmlParserCtxtPtr xmlNewParserCtxt() {
  failing = strcmp(fault(), "alloc-in-parse") ? failing : allocations + 1;
  return REAL(xmlNewParserCtxt)();
}

int xmlSaveFormatFileEnc(const char *path, xmlDocPtr document, const char *encoding, int format) {
  failing = strcmp(fault(), "alloc-in-save") ? failing : allocations + 1;
  return REAL(xmlSaveFormatFileEnc)(path, document, encoding, format);
}
#endif

} // extern "C"

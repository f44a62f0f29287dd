// Preloaded into the tool by the case folders that have a `fault` file; the
// fault it names (CFGMIGRATE_FAULT) makes one call fail as it does when
// memory or the file system runs out:
//   no-xpath-context   xmlXPathNewContext makes no context
//   new-node:NAME      xmlNewNode makes no element NAME
//   unregistered:NAME  the XPath prefix NAME is not registered
//   no-shell           popen cannot start the version report's command
//   temp-denied        mkostemp fails with EACCES; likewise temp-not-permitted
//                      EPERM, temp-read-only EROFS, temp-full ENOSPC,
//                      temp-quota EDQUOT, temp-no-descriptor EMFILE
//   write-full         write() to a save's temporary file fails with ENOSPC
//   fsync-fails        fsync fails with EIO, rename-fails rename likewise
//   temp-reopen        a save's temporary file cannot be opened by its name
//                      (fopen, open, openat), only created (mkostemp)
//   unreadable:PATH    the file PATH cannot be opened for reading
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <libxml/xpath.h>

namespace {

bool fault_is(const char *name) {
  const char *fault = getenv("CFGMIGRATE_FAULT");
  return fault && strcmp(fault, name) == 0;
}

// "KIND:NAME" names one element, prefix or path.
bool fault_names(const char *kind, const void *name) {
  const char *fault = getenv("CFGMIGRATE_FAULT");
  size_t length = strlen(kind);
  return fault && strncmp(fault, kind, length) == 0 && fault[length] == ':' &&
         strcmp(fault + length + 1, static_cast<const char *>(name)) == 0;
}

int fail(int error) {
  errno = error;
  return -1;
}

bool names_temp(const char *path) { return strstr(path, ".cfgmigrate-") != nullptr; }

bool is_temp(int fd) {
  char link[64], path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t length = readlink(link, path, sizeof path - 1);
  path[length < 0 ? 0 : length] = '\0';
  return names_temp(path);
}

template <typename Function> Function real(const char *name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

xmlXPathContextPtr xmlXPathNewContext(xmlDocPtr document) {
  if (fault_is("no-xpath-context"))
    return nullptr;
  return real<xmlXPathContextPtr (*)(xmlDocPtr)>("xmlXPathNewContext")(document);
}

xmlNodePtr xmlNewNode(xmlNsPtr ns, const xmlChar *name) {
  if (fault_names("new-node", name))
    return nullptr;
  return real<xmlNodePtr (*)(xmlNsPtr, const xmlChar *)>("xmlNewNode")(ns, name);
}

int xmlXPathRegisterNs(xmlXPathContextPtr context, const xmlChar *prefix, const xmlChar *uri) {
  if (fault_names("unregistered", prefix))
    return 0;
  using Register = int (*)(xmlXPathContextPtr, const xmlChar *, const xmlChar *);
  return real<Register>("xmlXPathRegisterNs")(context, prefix, uri);
}

FILE *popen(const char *command, const char *mode) {
  if (fault_is("no-shell"))
    return nullptr;
  return real<FILE *(*)(const char *, const char *)>("popen")(command, mode);
}

int mkostemp(char *name_template, int flags) {
  static const struct {
    const char *name;
    int error;
  } temp_faults[] = {{"temp-denied", EACCES}, {"temp-not-permitted", EPERM},
                     {"temp-read-only", EROFS}, {"temp-full", ENOSPC},
                     {"temp-quota", EDQUOT},   {"temp-no-descriptor", EMFILE}};
  for (const auto &fault : temp_faults) {
    if (fault_is(fault.name))
      return fail(fault.error);
  }
  return real<int (*)(char *, int)>("mkostemp")(name_template, flags);
}

ssize_t write(int fd, const void *bytes, size_t size) {
  if (fault_is("write-full") && is_temp(fd))
    return fail(ENOSPC);
  return real<ssize_t (*)(int, const void *, size_t)>("write")(fd, bytes, size);
}

int fsync(int fd) { return fault_is("fsync-fails") ? fail(EIO) : real<int (*)(int)>("fsync")(fd); }

int rename(const char *from, const char *to) {
  if (fault_is("rename-fails"))
    return fail(EIO);
  return real<int (*)(const char *, const char *)>("rename")(from, to);
}

FILE *fopen(const char *path, const char *mode) {
  if ((fault_is("temp-reopen") && names_temp(path)) ||
      (mode[0] == 'r' && fault_names("unreadable", path))) {
    errno = EACCES;
    return nullptr;
  }
  return real<FILE *(*)(const char *, const char *)>("fopen")(path, mode);
}

FILE *fopen64(const char *path, const char *mode) { return fopen(path, mode); }

// The mode argument is there only when the call may create a file.
int openat(int directory_fd, const char *path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  mode_t mode = flags & (O_CREAT | O_TMPFILE) ? va_arg(rest, mode_t) : 0;
  va_end(rest);
  if (fault_is("temp-reopen") && names_temp(path))
    return fail(EACCES);
  return real<int (*)(int, const char *, int, ...)>("openat")(directory_fd, path, flags, mode);
}

int open(const char *path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  mode_t mode = flags & (O_CREAT | O_TMPFILE) ? va_arg(rest, mode_t) : 0;
  va_end(rest);
  return openat(AT_FDCWD, path, flags, mode);
}

} // extern "C"

#include "cli/safe_save.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/parser.h>
#include <libxml/uri.h>
#include <libxml/xmlsave.h>

#include "toolkit/run_state.h"

namespace {

constexpr char temp_mark[] = CFGMIGRATE_TEMP_MARK;
constexpr size_t temp_mark_length = sizeof temp_mark - 1;
constexpr size_t temp_random_length = 6; // mkstemp's XXXXXX
// Keeps the temporary name within NAME_MAX for any output name.
constexpr int temp_base_limit = 200;
constexpr int link_hop_limit = 40;

// The file a save replaces: the local file libxml2 would write for the
// output path, with its links followed.
// Paths live in fixed buffers; one that does not fit is never cut short,
// the output is written directly instead.
struct Target {
  char path[PATH_MAX];
  const char *base;         // the file's name, within path
  char directory[PATH_MAX]; // the path up to and with its last slash, or "."
  bool exists;
  struct stat status;
};

bool fits(int length) { return length >= 0 && length < PATH_MAX; }

// Whatever comes of it, the output may have been written over.
int write_directly(const char *path, xmlDoc *document) {
  xmlSaveFormatFileEnc(path, document, "UTF-8", 1);
  return 1;
}

// libxml2's I/O changed in 2.13. The tool may run on a newer libxml2 than
// its headers (2.9 to 2.13 share a soname): the one running decides.
bool is_libxml2_before_2_13() { return atoi(xmlParserVersion) < 21300; }

// Where the save's bytes go: each one counted, none after the first failure.
// libxml2 takes a write that is cut short for progress, and drops the rest
// when it was its last; before 2.13 it takes gzwrite's failure, 0, for
// progress too, and a later flush may succeed.
struct Sink {
  int fd;
  uint64_t written;
  bool failed;
  // A compressed document: libxml2's own gzip writer, fed through the sink,
  // and the CRC-32 of what it was fed.
  xmlOutputWriteCallback compress;
  xmlOutputCloseCallback finish;
  void *gzip;
  uint32_t crc;
};

// The CRC-32 a gzip trailer holds.
uint32_t update_crc(uint32_t crc, const char *bytes, int length) {
  static uint32_t table[256];
  for (uint32_t n = table[1] ? 256 : 0; n < 256; ++n) {
    uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit)
      c = c >> 1 ^ (0xEDB88320u & (0u - (c & 1)));
    table[n] = c;
  }
  crc = ~crc;
  for (int i = 0; i < length; ++i)
    crc = table[(crc ^ static_cast<unsigned char>(bytes[i])) & 0xff] ^ crc >> 8;
  return ~crc;
}

// A write that takes fewer bytes than it was given is continued.
int write_all(void *context, const char *bytes, int length) {
  auto *sink = static_cast<Sink *>(context);
  for (int done = 0; done < length && !sink->failed;) {
    ssize_t taken = write(sink->fd, bytes + done, static_cast<size_t>(length - done));
    if (taken > 0) {
      done += static_cast<int>(taken);
      sink->written += static_cast<uint64_t>(taken);
    } else if (taken == 0 || errno != EINTR) {
      sink->failed = true;
    }
  }
  return sink->failed ? -1 : length;
}

int compress_all(void *context, const char *bytes, int length) {
  auto *sink = static_cast<Sink *>(context);
  if (!sink->failed && sink->compress(sink->gzip, bytes, length) == length) {
    sink->crc = update_crc(sink->crc, bytes, length);
    sink->written += static_cast<uint64_t>(length);
    return length;
  }
  sink->failed = true;
  return -1;
}

int finish_compressed(void *context) {
  auto *sink = static_cast<Sink *>(context);
  if (sink->finish && sink->finish(sink->gzip) != 0)
    sink->failed = true;
  return sink->failed ? -1 : 0;
}

uint32_t little_endian(const unsigned char *bytes) {
  return bytes[0] | bytes[1] << 8 | static_cast<uint32_t>(bytes[2]) << 16 |
         static_cast<uint32_t>(bytes[3]) << 24;
}

// The file ends as a gzip stream of what the sink was fed ends: with its
// CRC-32 and its length modulo 2^32.
bool ends_in_trailer(int fd, off_t size, const Sink &sink) {
  unsigned char trailer[8];
  return size >= 8 && pread(fd, trailer, sizeof trailer, size - 8) == 8 &&
         little_endian(trailer) == sink.crc &&
         little_endian(trailer + 4) == static_cast<uint32_t>(sink.written);
}

// libxml2 compresses a document read compressed, where it has zlib.
bool is_compressed(const xmlDoc *document) {
  return document->compression > 0 && document->compression <= 9 && xmlHasFeature(XML_WITH_ZLIB);
}

// xmlSaveFormatFileEnc's bytes, into the temporary file `temp` open as `fd`;
// false when the file did not take them all. A compressed document is
// compressed as libxml2's own save does, by libxml2, which opens the file by
// its name for that (the descriptor stays open and locked): every write it
// makes is checked, and the file must end in the trailer of what it was
// given.
bool write_to(int fd, const char *temp, xmlDoc *document) {
  Sink sink = {fd, 0, false, nullptr, nullptr, nullptr, 0};
  xmlCharEncodingHandler *utf8 = xmlFindCharEncodingHandler("UTF-8");
  bool compressed = is_compressed(document);
  // The tree is UTF-8 already. libxml2 2.15 would pass every 256 bytes
  // through a converter that changes none; 2.9 converts 4000 at a time,
  // cheaper than its own unconverted path. The cut is at 2.13, whose I/O
  // changed.
  xmlOutputBuffer *output =
      compressed ? xmlOutputBufferCreateFilename(temp, utf8, document->compression)
                 : xmlOutputBufferCreateIO(write_all, nullptr, &sink,
                                           is_libxml2_before_2_13() ? utf8 : nullptr);
  if (!output)
    return false;
  // The compressor's callbacks, in the buffer's public fields, go through
  // the sink.
  if (compressed) {
    sink.compress = output->writecallback, sink.finish = output->closecallback;
    sink.gzip = output->context;
    output->writecallback = compress_all, output->closecallback = finish_compressed;
    output->context = &sink;
  }
  struct stat status;
  return xmlSaveFormatFileTo(output, document, "UTF-8", 1) >= 0 && !sink.failed &&
         fstat(fd, &status) == 0 &&
         (compressed ? ends_in_trailer(fd, status.st_size, sink)
                     : static_cast<uint64_t>(status.st_size) == sink.written);
}

// libxml2 opens a name with its %XX escapes decoded when the name parses as
// a URI without a scheme, or before 2.13 also with "file" (an undecodable
// "%" fails the parse and stays literal). Before 2.13 it opens the name as
// given when the decoded one cannot be opened, from 2.13 it does not: such a
// name may end in another file, or in none.
bool has_decoded_escapes(const char *path) {
  if (!strchr(path, '%'))
    return false;
  xmlURI *uri = xmlParseURI(path);
  if (!uri)
    return false;
  bool decoded = !uri->scheme || (is_libxml2_before_2_13() && strcmp(uri->scheme, "file") == 0);
  xmlFreeURI(uri);
  if (!decoded)
    return false;
  char *unescaped = xmlURIUnescapeString(path, 0, nullptr);
  bool changed = !unescaped || strcmp(unescaped, path) != 0;
  xmlFree(unescaped);
  return changed;
}

bool starts_with_any_case(const char *path, const char *prefix) {
  return xmlStrncasecmp(BAD_CAST path, BAD_CAST prefix, static_cast<int>(strlen(prefix))) == 0;
}

// Names libxml2's output handlers take for something other than the file of
// that name: "-" is standard output; "file:///" and "file://localhost/"
// lose their prefix, and from 2.13 any "file:/" its "file:" and then its
// %XX escapes; "http://" is sent over the network when libxml2 has HTTP.
// Any other scheme ("file:x", "https://", "ftp://", "C:") is opened as a
// local file named exactly so, and a time stamp's colon makes a scheme too.
bool is_claimed_by_handler(const char *path) {
  return strcmp(path, "-") == 0 || starts_with_any_case(path, "file:///") ||
         starts_with_any_case(path, "file://localhost/") ||
         (!is_libxml2_before_2_13() && starts_with_any_case(path, "file:/")) ||
         (xmlHasFeature(XML_WITH_HTTP) && starts_with_any_case(path, "http://"));
}

// True when libxml2 writes the document to the local file of exactly this
// name.
bool is_plain_file_name(const char *path) {
  return !is_claimed_by_handler(path) && !has_decoded_escapes(path);
}

// The local file libxml2 writes for `path` into `name`: the path itself, or
// with its %XX escapes decoded. False when that is no local file of a name
// the save can tell, or does not fit.
bool find_local_name(const char *path, char *name) {
  if (is_claimed_by_handler(path))
    return false;
  if (!has_decoded_escapes(path))
    return fits(snprintf(name, PATH_MAX, "%s", path));
  char *decoded = xmlURIUnescapeString(path, 0, nullptr);
  bool found = decoded && fits(snprintf(name, PATH_MAX, "%s", decoded)) && is_plain_file_name(name);
  xmlFree(decoded);
  return found;
}

// Replaces `path`, a symbolic link, by the path its text names.
bool step_through_link(char *path) {
  char text[PATH_MAX], joined[PATH_MAX];
  ssize_t length = readlink(path, text, sizeof text);
  if (length < 0 || length == sizeof text)
    return false;
  text[length] = '\0';
  const char *slash = strrchr(path, '/');
  int folder = text[0] == '/' || !slash ? 0 : static_cast<int>(slash - path + 1);
  if (!fits(snprintf(joined, sizeof joined, "%.*s%s", folder, path, text)))
    return false;
  strcpy(path, joined);
  return true;
}

// The links of /proc name open files rather than paths: /dev/stdout and
// /dev/fd/1 reach them, directly or through a linked folder.
bool is_in_proc(const struct stat &link) {
  struct stat proc;
  return stat("/proc", &proc) == 0 && link.st_dev == proc.st_dev;
}

// Follows symbolic links from `path` to the file they name, which need not
// exist. False when the chain cannot be followed or passes through /proc.
bool follow_links(const char *path, char *target) {
  if (!fits(snprintf(target, PATH_MAX, "%s", path)))
    return false;
  for (int hop = 0; hop < link_hop_limit; ++hop) {
    struct stat status;
    if (lstat(target, &status) != 0)
      return errno == ENOENT;
    if (!S_ISLNK(status.st_mode))
      return true;
    if (is_in_proc(status) || !step_through_link(target))
      return false;
  }
  return false;
}

// False when the output is to be written directly. A name with escapes
// libxml2 decodes is replaced only where its decoded file exists: a new one
// libxml2 may make under the name as given instead (before 2.13).
bool find_target(const char *path, Target *target) {
  char name[PATH_MAX];
  if (!find_local_name(path, name) || !follow_links(name, target->path))
    return false;
  const char *slash = strrchr(target->path, '/');
  target->base = slash ? slash + 1 : target->path;
  if (!*target->base)
    return false;
  int folder = static_cast<int>(target->base - target->path);
  snprintf(target->directory, PATH_MAX, "%.*s", folder ? folder : 1, folder ? target->path : ".");
  target->exists = stat(target->path, &target->status) == 0;
  if (!target->exists)
    return errno == ENOENT && strcmp(name, path) == 0;
  // A file we may not write stays as the direct write leaves it: unwritten.
  return S_ISREG(target->status.st_mode) && access(target->path, W_OK) == 0;
}

bool same_file(const struct stat &a, const struct stat &b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The name of a temporary file of a save to a file named `base`:
// ".<base>.cfgmigrate-" and six letters or digits.
bool is_temp_name_for(const char *name, const char *base) {
  size_t base_length = strnlen(base, temp_base_limit);
  if (name[0] != '.' || strncmp(name + 1, base, base_length) != 0)
    return false;
  const char *mark = name + 1 + base_length;
  if (strncmp(mark, temp_mark, temp_mark_length) != 0)
    return false;
  const char *random = mark + temp_mark_length;
  if (strlen(random) != temp_random_length)
    return false;
  for (const char *c = random; *c; ++c) {
    if (!isalnum(static_cast<unsigned char>(*c)))
      return false;
  }
  return true;
}

// A temporary file whose writer died keeps no lock; one being written does.
void remove_if_abandoned(int directory_fd, const char *name) {
  int fd = openat(directory_fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return;
  struct stat opened, named;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
      fstatat(directory_fd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && same_file(opened, named))
    unlinkat(directory_fd, name, 0);
  close(fd);
}

// A run killed during its save cannot remove its temporary file; the next
// save to the same file does, so killed runs do not fill a small flash.
void remove_stale_temps(const Target &target) {
  DIR *listing = opendir(target.directory);
  if (!listing)
    return;
  while (const dirent *entry = readdir(listing)) {
    if (is_temp_name_for(entry->d_name, target.base))
      remove_if_abandoned(dirfd(listing), entry->d_name);
  }
  closedir(listing);
}

// Creates a temporary file from the template `temp` beside the target and
// locks it, so no other run takes it for abandoned. -1 with errno when none
// can be made.
int open_temp(char *temp) {
  char *random = temp + strlen(temp) - temp_random_length;
  for (int attempt = 0; attempt < 3; ++attempt) {
    memset(random, 'X', temp_random_length);
    int fd = mkostemp(temp, O_CLOEXEC);
    if (fd < 0)
      return -1;
    struct stat status;
    // Another run may have removed it between its creation and the lock.
    if (flock(fd, LOCK_EX) == 0 && fstat(fd, &status) == 0 && status.st_nlink > 0)
      return fd;
    close(fd);
  }
  errno = EAGAIN;
  return -1;
}

// A full or failing file system must not cost the old file: only a
// directory that takes no new file, or an output not there yet, is
// written directly.
bool may_write_directly(const Target &target, int temp_error) {
  return !target.exists || temp_error == EACCES || temp_error == EPERM || temp_error == EROFS;
}

int give_attributes(int fd, const Target &target) {
  if (!target.exists) {
    mode_t mask = umask(0);
    umask(mask);
    return fchmod(fd, 0666 & ~mask);
  }
  // Owner first: a change of owner clears set-id bits.
  if (geteuid() == 0 && fchown(fd, target.status.st_uid, target.status.st_gid) != 0)
    return -1;
  return fchmod(fd, target.status.st_mode & 07777);
}

void sync_directory(const char *directory) {
  int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return;
  fsync(fd);
  close(fd);
}

int fill_and_rename(int fd, const char *temp, const Target &target, xmlDoc *document) {
  // A write that ran out of memory may have left anything out; that is for
  // the out-of-memory line to report.
  if (!write_to(fd, temp, document))
    return run.out_of_memory ? -1 : save_fell_short;
  if (give_attributes(fd, target) != 0 || fsync(fd) != 0 || run.out_of_memory ||
      rename(temp, target.path) != 0)
    return -1;
  sync_directory(target.directory);
  return 0;
}

int replace_target(const char *path, const Target &target, xmlDoc *document) {
  char temp[PATH_MAX];
  int folder = static_cast<int>(target.base - target.path);
  // libxml2 opens the temporary file of a compressed document by name: that
  // name too must be the file's own.
  if (!fits(snprintf(temp, sizeof temp, "%.*s.%.*s%sXXXXXX", folder, target.path, temp_base_limit,
                     target.base, temp_mark)) ||
      (is_compressed(document) && !is_plain_file_name(temp)))
    return write_directly(path, document);
  remove_stale_temps(target);
  int fd = open_temp(temp);
  if (fd < 0)
    return may_write_directly(target, errno) ? write_directly(path, document) : -1;
  int status = fill_and_rename(fd, temp, target, document);
  if (status != 0)
    unlink(temp);
  close(fd);
  return status;
}

} // namespace

int save_document_safely(const char *path, xmlDoc *document) {
  Target target;
  if (!find_target(path, &target))
    return write_directly(path, document);
  return replace_target(path, target, document);
}

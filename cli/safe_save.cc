#include "cli/safe_save.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/uri.h>
#include <libxml/xmlsave.h>

namespace {

int make_temp_file(char *name_template) { return mkostemp(name_template, O_CLOEXEC); }

constexpr char temp_mark[] = ".cfgmigrate-";
constexpr size_t temp_random_length = 6; // mkstemp's XXXXXX
// Keeps the temporary name within NAME_MAX for any output name.
constexpr size_t temp_base_limit = 200;
constexpr int link_hop_limit = 40;

// The file a save replaces: the output path with its links followed.
struct Target {
  std::string path;
  bool exists = false;
  struct stat status {};
};

std::string directory_of(const std::string &path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos)
    return ".";
  if (slash == 0)
    return "/";
  return path.substr(0, slash);
}

std::string base_of(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string temp_prefix(const std::string &base) {
  return "." + base.substr(0, temp_base_limit) + temp_mark;
}

// libxml2 unescapes %XX in a file name and gives names with a scheme
// ("file:", "http:") to its URI handlers; such paths and "-" (standard
// output) are left to libxml2.
bool is_plain_file_name(const char *path) {
  if (strcmp(path, "-") == 0 || strchr(path, '%'))
    return false;
  xmlURI *uri = xmlParseURI(path);
  if (!uri)
    return true;
  bool has_scheme = uri->scheme != nullptr;
  xmlFreeURI(uri);
  return !has_scheme;
}

// Follows symbolic links from `path` to the file they name, which need not
// exist. False when the chain cannot be followed or passes through /proc,
// whose links name open files rather than paths (/dev/stdout).
bool follow_links(const char *path, std::string *target) {
  std::string current = path;
  for (int hop = 0; hop < link_hop_limit; ++hop) {
    if (current.starts_with("/proc/"))
      return false;
    struct stat status;
    if (lstat(current.c_str(), &status) != 0) {
      *target = current;
      return errno == ENOENT;
    }
    if (!S_ISLNK(status.st_mode)) {
      *target = current;
      return true;
    }
    char link[PATH_MAX];
    ssize_t length = readlink(current.c_str(), link, sizeof link - 1);
    if (length < 0 || static_cast<size_t>(length) >= sizeof link - 1)
      return false;
    link[length] = '\0';
    current = link[0] == '/' ? std::string(link) : directory_of(current) + "/" + link;
  }
  return false;
}

// False when the output is to be written directly.
bool find_target(const char *path, Target *target) {
  if (!is_plain_file_name(path) || !follow_links(path, &target->path))
    return false;
  if (base_of(target->path).empty())
    return false;
  if (stat(target->path.c_str(), &target->status) == 0) {
    target->exists = true;
    // A file we may not write stays as the direct write leaves it: unwritten.
    return S_ISREG(target->status.st_mode) && access(target->path.c_str(), W_OK) == 0;
  }
  return errno == ENOENT;
}

bool same_file(const struct stat &a, const struct stat &b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
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
void remove_stale_temps(const std::string &directory, const std::string &base) {
  DIR *listing = opendir(directory.c_str());
  if (!listing)
    return;
  while (const dirent *entry = readdir(listing)) {
    if (is_temp_name_for(entry->d_name, base.c_str()))
      remove_if_abandoned(dirfd(listing), entry->d_name);
  }
  closedir(listing);
}

// Creates a temporary file beside the target and locks it, so no other
// run takes it for abandoned. -1 with errno when none can be made.
int open_temp(const Target &target, std::string *temp) {
  std::string name_template =
      directory_of(target.path) + "/" + temp_prefix(base_of(target.path)) + "XXXXXX";
  for (int attempt = 0; attempt < 3; ++attempt) {
    *temp = name_template;
    int fd = save_calls.make_temp(temp->data());
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

void sync_directory(const std::string &directory) {
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return;
  save_calls.sync(fd);
  close(fd);
}

int fill_and_rename(int fd, const std::string &temp, const Target &target, xmlDoc *document) {
  if (save_calls.write_document(temp.c_str(), document) < 0)
    return -1;
  if (give_attributes(fd, target) != 0 || save_calls.sync(fd) != 0)
    return -1;
  if (save_calls.rename(temp.c_str(), target.path.c_str()) != 0)
    return -1;
  sync_directory(directory_of(target.path));
  return 0;
}

int replace_target(const char *path, const Target &target, xmlDoc *document) {
  remove_stale_temps(directory_of(target.path), base_of(target.path));
  std::string temp;
  int fd = open_temp(target, &temp);
  if (fd < 0) {
    if (may_write_directly(target, errno))
      return write_document_direct(path, document) < 0 ? -1 : 0;
    return -1;
  }
  int status = fill_and_rename(fd, temp, target, document);
  if (status != 0)
    unlink(temp.c_str());
  close(fd);
  return status;
}

} // namespace

SaveCalls save_calls = {make_temp_file, write_document_direct, fsync, rename};

int write_document_direct(const char *path, xmlDoc *document) {
  return xmlSaveFormatFileEnc(path, document, "UTF-8", 1);
}

bool is_temp_name_for(const char *name, const char *base) {
  std::string prefix = temp_prefix(base);
  if (strncmp(name, prefix.c_str(), prefix.size()) != 0)
    return false;
  const char *random = name + prefix.size();
  if (strlen(random) != temp_random_length)
    return false;
  for (const char *c = random; *c; ++c) {
    if (!isalnum(static_cast<unsigned char>(*c)))
      return false;
  }
  return true;
}

int save_document_safely(const char *path, xmlDoc *document) {
  Target target;
  if (!find_target(path, &target))
    return write_document_direct(path, document) < 0 ? -1 : 0;
  return replace_target(path, target, document);
}

#include "tests/sandbox.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#ifndef CFGMIGRATE_BINARY
#error "CFGMIGRATE_BINARY must name the built cfgmigrate"
#endif
#ifndef SANDBOX_ROOT
#error "SANDBOX_ROOT must name a folder of the build tree"
#endif
// A cross-built tool runs through qemu-user, given as its words separated by
// blanks (CMAKE_CROSSCOMPILING_EMULATOR).
#ifndef CFGMIGRATE_EMULATOR
#define CFGMIGRATE_EMULATOR ""
#endif

namespace {

// A run that takes longer than this is killed: the tool does no waiting.
constexpr int run_timeout_ms = 30000;

// Device nodes a process may reasonably need; everything else of /dev is hidden.
constexpr const char *kept_devices[] = {"null", "zero", "full", "random", "urandom", "tty"};

void make_dirs(const std::string &path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), 0755);
  mkdir(path.c_str(), 0755);
}

bool write_file(const std::string &path, const std::string &bytes) {
  FILE *file = fopen(path.c_str(), "wb");
  if (!file)
    return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && ok;
}

int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
  remove(path);
  return 0;
}

void remove_tree(const std::string &path) {
  nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string sanitized_test_name() {
  const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "sandbox";
  for (char &c : name)
    if (c == '/' || c == ' ')
      c = '_';
  return name;
}

// Everything the child needs, prepared before fork so that the child only
// makes system calls.
struct ChildPlan {
  std::string dir, host_dev, tmp, console, log, layer;
  std::string tmp_top; // the folder right under /tmp that holds dir, if any
  bool hide_control_file = false;
  std::string overlay_options;
  std::vector<std::string> device_sources, device_targets;
  std::vector<std::string> argv_storage, env_storage;
  std::vector<char *> argv, envp;
  int error_fd = -1, out_fd = -1, err_fd = -1;
  bool exec = true;
  std::function<void(pid_t)> on_start;
};

[[noreturn]] void child_fail(const ChildPlan &plan, const char *step) {
  char message[512];
  int length = snprintf(message, sizeof message, "%s: %s", step, strerror(errno));
  if (length > 0 && write(plan.error_fd, message, static_cast<size_t>(length)) < 0)
    _exit(126);
  _exit(125);
}

void write_proc(const ChildPlan &plan, const char *path, const char *text) {
  int fd = open(path, O_WRONLY);
  if (fd < 0 || write(fd, text, strlen(text)) < 0)
    child_fail(plan, path);
  close(fd);
}

void enter_namespace(const ChildPlan &plan) {
  if (geteuid() == 0) {
    if (unshare(CLONE_NEWNS) != 0)
      child_fail(plan, "unshare(CLONE_NEWNS)");
    return;
  }
  uid_t uid = geteuid();
  gid_t gid = getegid();
  if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
    child_fail(plan, "unshare(CLONE_NEWUSER|CLONE_NEWNS)");
  char map[64];
  snprintf(map, sizeof map, "%u %u 1\n", uid, uid);
  write_proc(plan, "/proc/self/uid_map", map);
  write_proc(plan, "/proc/self/setgroups", "deny");
  snprintf(map, sizeof map, "%u %u 1\n", gid, gid);
  write_proc(plan, "/proc/self/gid_map", map);
}

void bind(const ChildPlan &plan, const char *source, const char *target, const char *step) {
  if (mount(source, target, nullptr, MS_BIND, nullptr) != 0)
    child_fail(plan, step);
}

void make_file(const ChildPlan &plan, const char *path) {
  int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0)
    child_fail(plan, path);
  close(fd);
}

void make_symlink(const ChildPlan &plan, const char *target, const char *path) {
  if (symlink(target, path) != 0)
    child_fail(plan, path);
}

// A /dev of a few device nodes, the fd links, the console file and the log socket.
void build_dev(const ChildPlan &plan) {
  if (mount("/dev", plan.host_dev.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
    child_fail(plan, "rbind /dev");
  if (mount("sandbox-dev", "/dev", "tmpfs", MS_NOSUID | MS_NOEXEC, "mode=755") != 0)
    child_fail(plan, "tmpfs on /dev");
  for (size_t i = 0; i < plan.device_targets.size(); ++i) {
    make_file(plan, plan.device_targets[i].c_str());
    bind(plan, plan.device_sources[i].c_str(), plan.device_targets[i].c_str(), "bind device");
  }
  make_symlink(plan, "/proc/self/fd/0", "/dev/stdin");
  make_symlink(plan, "/proc/self/fd/1", "/dev/stdout");
  make_symlink(plan, "/proc/self/fd/2", "/dev/stderr");
  make_symlink(plan, "/proc/self/fd", "/dev/fd");
  make_file(plan, "/dev/console");
  bind(plan, plan.console.c_str(), "/dev/console", "bind /dev/console");
  make_symlink(plan, plan.log.c_str(), "/dev/log");
}

// The private /tmp hides whatever the host has there, the build tree too
// when it was made under /tmp (a clone in /tmp/x). The top folder holding
// the sandbox is mounted back at its own path, reached through a descriptor
// opened before the host's /tmp went out of sight.
void replace_tmp(const ChildPlan &plan) {
  int kept = -1;
  if (!plan.tmp_top.empty()) {
    kept = open(plan.tmp_top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (kept < 0)
      child_fail(plan, plan.tmp_top.c_str());
  }
  bind(plan, plan.tmp.c_str(), "/tmp", "bind /tmp");
  if (kept < 0)
    return;
  if (mkdir(plan.tmp_top.c_str(), 0755) != 0 && errno != EEXIST)
    child_fail(plan, "mount point for the build tree");
  char source[64];
  snprintf(source, sizeof source, "/proc/self/fd/%d", kept);
  if (mount(source, plan.tmp_top.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
    child_fail(plan, "bind the build tree back into /tmp");
  close(kept);
}

void build_namespace(const ChildPlan &plan) {
  enter_namespace(plan);
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    child_fail(plan, "make / private");
  build_dev(plan);
  replace_tmp(plan);
  if (mount("sandbox-usr-lib", "/usr/lib", "overlay", MS_RDONLY, plan.overlay_options.c_str()) != 0)
    child_fail(plan, "overlay on /usr/lib");
  // A host that has the control file keeps it out of a run that asks for none.
  if (plan.hide_control_file)
    bind(plan, plan.layer.c_str(), "/usr/lib/opkg/info", "hide /usr/lib/opkg/info");
}

[[noreturn]] void child_main(const ChildPlan &plan) {
  build_namespace(plan);
  if (!plan.exec)
    _exit(0);
  int null_fd = open("/dev/null", O_RDONLY);
  if (null_fd < 0 || dup2(null_fd, 0) < 0 || dup2(plan.out_fd, 1) < 0 || dup2(plan.err_fd, 2) < 0)
    child_fail(plan, "redirect standard streams");
  if (chdir(plan.dir.c_str()) != 0)
    child_fail(plan, "chdir");
  execve(plan.argv[0], plan.argv.data(), plan.envp.data());
  child_fail(plan, plan.argv[0]);
}

std::vector<std::string> split_words(const std::string &text) {
  std::vector<std::string> words;
  size_t start = text.find_first_not_of(' ');
  while (start != std::string::npos) {
    size_t end = text.find(' ', start);
    words.push_back(text.substr(start, end - start));
    start = text.find_first_not_of(' ', end);
  }
  return words;
}

// True for the built tool, named by its path or through a link to it.
bool is_built_tool(const std::string &dir, const std::string &binary) {
  if (binary.empty())
    return true;
  std::string path = binary[0] == '/' ? binary : dir + "/" + binary;
  char *resolved = realpath(path.c_str(), nullptr);
  char *tool = realpath(cfgmigrate_binary(), nullptr);
  bool same = resolved && tool && strcmp(resolved, tool) == 0;
  free(resolved);
  free(tool);
  return same;
}

void fill_plan(ChildPlan &plan, const std::string &dir, const SandboxOptions &options) {
  plan.dir = dir;
  plan.host_dev = dir + "/.host-dev";
  plan.tmp = options.tmp_dir.empty() ? dir + "/tmp" : options.tmp_dir;
  if (dir.rfind("/tmp/", 0) == 0)
    plan.tmp_top = dir.substr(0, dir.find('/', 5));
  plan.on_start = options.on_start;
  plan.console = dir + "/console";
  plan.log = dir + "/log";
  plan.layer = dir + "/.layer";
  plan.overlay_options = "lowerdir=" + plan.layer + ":/usr/lib";
  plan.hide_control_file =
      !options.with_control_file && file_exists("/usr/lib/opkg/info/orvalis-yang.control");
  for (const char *device : kept_devices) {
    plan.device_sources.push_back(plan.host_dev + "/" + device);
    plan.device_targets.push_back(std::string("/dev/") + device);
  }
  plan.env_storage = {"PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin", "LC_ALL=C"};
  // A sanitizer build of the tool runs with the settings the tests run with.
  for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
    if (const char *value = getenv(name))
      plan.env_storage.push_back(std::string(name) + "=" + value);
  if (*CFGMIGRATE_EMULATOR && is_built_tool(dir, options.binary)) {
    plan.argv_storage = split_words(CFGMIGRATE_EMULATOR);
    // "-E" hands the variable to the tool alone: an LD_PRELOAD of a target
    // library would otherwise be tried on the emulator itself.
    for (const std::string &entry : options.env) {
      plan.argv_storage.push_back("-E");
      plan.argv_storage.push_back(entry);
    }
  } else {
    for (const std::string &entry : options.env)
      plan.env_storage.push_back(entry);
  }
  plan.argv_storage.push_back(options.binary.empty() ? cfgmigrate_binary() : options.binary);
  for (const std::string &arg : options.args)
    plan.argv_storage.push_back(arg);
  for (std::string &arg : plan.argv_storage)
    plan.argv.push_back(arg.data());
  plan.argv.push_back(nullptr);
  for (std::string &entry : plan.env_storage)
    plan.envp.push_back(entry.data());
  plan.envp.push_back(nullptr);
}

// The per-run parts of the folder: an empty console, the overlay layer with or
// without the control file.
void prepare_folder(const ChildPlan &plan, const SandboxOptions &options) {
  make_dirs(plan.host_dev);
  make_dirs(plan.tmp);
  write_file(plan.console, "");
  remove_tree(plan.layer);
  make_dirs(plan.layer);
  if (!options.with_control_file)
    return;
  make_dirs(plan.layer + "/opkg/info");
  write_file(plan.layer + "/opkg/info/orvalis-yang.control", options.control_file);
}

// Binds a datagram socket at dir/log. The folder is reached through
// /proc/self/fd so that deep build trees fit in sun_path.
int bind_log_socket(const std::string &dir) {
  int socket_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  int dir_fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (socket_fd < 0 || dir_fd < 0) {
    close(socket_fd);
    close(dir_fd);
    return -1;
  }
  unlinkat(dir_fd, "log", 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  snprintf(address.sun_path, sizeof address.sun_path, "/proc/self/fd/%d/log", dir_fd);
  int bound = ::bind(socket_fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
  close(dir_fd);
  if (bound == 0)
    return socket_fd;
  close(socket_fd);
  return -1;
}

// "<pri>Mmm dd hh:mm:ss cfgmigrate: text" -> {pri & 7, text}. A datagram of
// another shape, ident or facility is kept whole with priority -1, so
// comparisons show it.
SyslogLine parse_datagram(const std::string &datagram) {
  SyslogLine line{-1, datagram};
  if (datagram.empty() || datagram[0] != '<')
    return line;
  size_t close_bracket = datagram.find('>');
  size_t header_end = datagram.find(": ", close_bracket);
  if (close_bracket == std::string::npos || header_end == std::string::npos)
    return line;
  std::string header = datagram.substr(0, header_end);
  if (header.size() < 11 || header.compare(header.size() - 11, 11, " cfgmigrate") != 0)
    return line;
  // No openlog: the facility must stay the default, LOG_USER.
  int priority = atoi(datagram.c_str() + 1);
  if ((priority & ~7) != LOG_USER)
    return line;
  line.priority = priority & 7;
  line.text = datagram.substr(header_end + 2);
  return line;
}

void drain_log(int socket_fd, std::vector<SyslogLine> &lines) {
  char buffer[65536];
  for (;;) {
    ssize_t length = recv(socket_fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (length < 0)
      return;
    lines.push_back(parse_datagram(std::string(buffer, static_cast<size_t>(length))));
  }
}

bool read_some(int &fd, std::string &into) {
  char buffer[65536];
  ssize_t length = read(fd, buffer, sizeof buffer);
  if (length > 0) {
    into.append(buffer, static_cast<size_t>(length));
    return true;
  }
  if (length < 0 && errno == EINTR)
    return true;
  close(fd);
  fd = -1;
  return false;
}

long long now_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

// Reads stdout and stderr to their end and the log socket meanwhile: a full
// socket queue would block the tool's syslog calls. False on time-out.
bool collect(int out_fd, int err_fd, int log_fd, SandboxResult &result) {
  long long deadline = now_ms() + run_timeout_ms;
  while (out_fd >= 0 || err_fd >= 0) {
    pollfd fds[3] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}, {log_fd, POLLIN, 0}};
    long long left = deadline - now_ms();
    if (left <= 0)
      return false;
    if (poll(fds, 3, static_cast<int>(left)) < 0 && errno != EINTR)
      return false;
    if (fds[0].revents)
      read_some(out_fd, result.out);
    if (fds[1].revents)
      read_some(err_fd, result.err);
    if (fds[2].revents)
      drain_log(log_fd, result.syslog);
  }
  return true;
}

std::vector<std::string> split_lines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

struct Pipe {
  int read_end = -1, write_end = -1;
  bool open() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
      return false;
    read_end = fds[0];
    write_end = fds[1];
    return true;
  }
  void close_write() {
    if (write_end >= 0)
      close(write_end);
    write_end = -1;
  }
  ~Pipe() {
    close_write();
    if (read_end >= 0)
      close(read_end);
  }
};

// Forks the child of `plan`; returns its setup error ("" when none) and fills
// `result` when `plan.exec`.
std::string fork_child(ChildPlan &plan, const std::string &dir, SandboxResult &result) {
  Pipe error_pipe, out_pipe, err_pipe;
  if (!error_pipe.open() || !out_pipe.open() || !err_pipe.open())
    return std::string("pipe: ") + strerror(errno);
  int log_fd = bind_log_socket(dir);
  if (log_fd < 0)
    return std::string("log socket: ") + strerror(errno);
  plan.error_fd = error_pipe.write_end;
  plan.out_fd = out_pipe.write_end;
  plan.err_fd = err_pipe.write_end;
  fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    close(log_fd);
    return std::string("fork: ") + strerror(errno);
  }
  if (pid == 0)
    child_main(plan);
  error_pipe.close_write();
  out_pipe.close_write();
  err_pipe.close_write();
  if (plan.on_start && plan.exec)
    plan.on_start(pid);
  bool finished = collect(out_pipe.read_end, err_pipe.read_end, log_fd, result);
  out_pipe.read_end = err_pipe.read_end = -1; // collect closed them
  if (!finished)
    kill(pid, SIGKILL);
  int wait_status = 0;
  while (waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
  }
  drain_log(log_fd, result.syslog);
  close(log_fd);
  result.status = WIFSIGNALED(wait_status) ? 128 + WTERMSIG(wait_status) : WEXITSTATUS(wait_status);
  char message[512];
  ssize_t length = read(error_pipe.read_end, message, sizeof message);
  if (length > 0)
    return std::string(message, static_cast<size_t>(length));
  if (!finished)
    return "timed out after " + std::to_string(run_timeout_ms) + " ms";
  if (!plan.exec && result.status != 0)
    return "namespace probe ended with status " + std::to_string(result.status);
  return "";
}

// A fresh folder named after the running test; empty and *error set on failure.
std::string make_sandbox_dir(std::string *error) {
  std::string root = SANDBOX_ROOT;
  make_dirs(root);
  std::string pattern = root + "/" + sanitized_test_name() + "-XXXXXX";
  if (!mkdtemp(pattern.data())) {
    *error = "cannot make a folder " + pattern + ": " + strerror(errno);
    return "";
  }
  make_dirs(pattern + "/tmp");
  return pattern;
}

// Sets up a namespace as a run would, without running anything.
std::string probe_namespace() {
  std::string root = SANDBOX_ROOT;
  std::string error;
  std::string dir = make_sandbox_dir(&error);
  if (dir.empty())
    return error;
  ChildPlan plan;
  fill_plan(plan, dir, SandboxOptions{});
  plan.exec = false;
  prepare_folder(plan, SandboxOptions{});
  SandboxResult result;
  error = fork_child(plan, dir, result);
  remove_tree(dir);
  return error;
}

} // namespace

bool file_exists(const std::string &path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

const char *cfgmigrate_binary() { return CFGMIGRATE_BINARY; }

Sandbox::Sandbox() {
  std::string error;
  dir_ = make_sandbox_dir(&error);
  if (dir_.empty())
    ADD_FAILURE() << error;
}

Sandbox::~Sandbox() {
  if (!dir_.empty() && !getenv("SANDBOX_KEEP"))
    remove_tree(dir_);
}

const std::string &Sandbox::dir() const { return dir_; }

std::string Sandbox::path(const std::string &name) const { return dir_ + "/" + name; }

std::string Sandbox::write(const std::string &name, const std::string &bytes) {
  std::string file = path(name);
  size_t slash = file.rfind('/');
  make_dirs(file.substr(0, slash));
  if (!write_file(file, bytes))
    ADD_FAILURE() << "cannot write " << file << ": " << strerror(errno);
  return file;
}

std::string Sandbox::read(const std::string &file) const {
  std::string bytes;
  FILE *stream = fopen(file.c_str(), "rb");
  if (!stream)
    return bytes;
  char buffer[65536];
  for (size_t length; (length = fread(buffer, 1, sizeof buffer, stream)) > 0;)
    bytes.append(buffer, length);
  fclose(stream);
  return bytes;
}

std::string Sandbox::tmp_path(const std::string &name) const { return dir_ + "/tmp/" + name; }

void Sandbox::write_tmp(const std::string &name, const std::string &bytes) {
  if (!write_file(tmp_path(name), bytes))
    ADD_FAILURE() << "cannot write " << tmp_path(name) << ": " << strerror(errno);
}

std::string Sandbox::tool_for_scripts() {
  if (!*CFGMIGRATE_EMULATOR)
    return cfgmigrate_binary();
  std::string launcher =
      write(".cfgmigrate", std::string("#!/bin/sh\nexec " CFGMIGRATE_EMULATOR " '") +
                               cfgmigrate_binary() + "' \"$@\"\n");
  chmod(launcher.c_str(), 0755);
  return launcher;
}

SandboxResult Sandbox::run(const SandboxOptions &options) {
  SandboxResult result;
  // Without its folder every path below would name one of the machine's own.
  if (dir_.empty()) {
    ADD_FAILURE() << "sandbox run without a folder";
    return result;
  }
  ChildPlan plan;
  fill_plan(plan, dir_, options);
  prepare_folder(plan, options);
  std::string error = fork_child(plan, dir_, result);
  if (!error.empty()) {
    ADD_FAILURE() << "sandbox run failed: " << error;
    result.status = -1;
  }
  // Whatever else a test expects, a sanitizer report fails it.
  for (const char *mark : {"Sanitizer:", "runtime error:"})
    if (result.err.find(mark) != std::string::npos)
      ADD_FAILURE() << "sanitizer report from the run:\n" << result.err;
  result.console = read(plan.console);
  result.console_lines = split_lines(result.console);
  return result;
}

bool sandbox_available(std::string *why) {
  static int known = -1; // -1 not probed yet, 0 no, 1 yes
  static std::string reason;
  if (known < 0) {
    reason = probe_namespace();
    known = reason.empty() ? 1 : 0;
  }
  if (why)
    *why = reason;
  return known == 1;
}

bool sandbox_required() {
  const char *ci = getenv("CI");
  return ci && strcmp(ci, "true") == 0;
}

std::string line_placeholder(const std::string &line) {
  static const std::string prefix = "cfgmigrate(";
  if (line.compare(0, prefix.size(), prefix) != 0)
    return line;
  size_t digits_end = line.find_first_not_of("0123456789", prefix.size());
  if (digits_end == prefix.size() || digits_end == std::string::npos || line[digits_end] != ')')
    return line;
  return prefix + "N" + line.substr(digits_end);
}

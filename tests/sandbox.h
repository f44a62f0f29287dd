// Runs the built cfgmigrate in a private mount namespace, so a test sees
// everything the tool writes to the machine and the machine sees none of it:
// /dev/console is a file of the test's folder, /dev/log a datagram socket the
// test reads, /tmp a folder of its own, and the schema package's opkg control
// file present or absent through a read-only overlay on /usr/lib.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

#include <gtest/gtest.h>

struct SyslogLine {
  int priority;     // LOG_INFO, LOG_DEBUG, ... (facility stripped)
  std::string text; // the message after the "<pri>timestamp ident: " header
};

struct SandboxOptions {
  std::vector<std::string> args;  // arguments after the program name
  bool with_control_file = false; // present /usr/lib/opkg/info/orvalis-yang.control
  std::string control_file = "Package: orvalis-yang\nVersion: 2.1.7-r3\nArchitecture: aarch64\n";
  std::vector<std::string> env; // extra "NAME=value" (e.g. LD_PRELOAD=...)
  std::string binary;           // empty = the built cfgmigrate
  // Host folder seen as /tmp; empty = the sandbox's own. Runs of several
  // sandboxes given one folder share their /tmp, as processes of one router do.
  std::string tmp_dir;
  // Called in the test's process once the run has started, with its pid
  // (to kill it at a chosen moment, say); the run is then collected as usual.
  std::function<void(pid_t)> on_start;
};

struct SandboxResult {
  int status = -1;                        // exit status, or 128+signal
  std::string out, err;                   // stdout, stderr bytes
  std::string console;                    // bytes written to /dev/console
  std::vector<std::string> console_lines; // console split at '\n' (no trailing empty)
  std::vector<SyslogLine> syslog;         // datagrams received on /dev/log, in order
};

class Sandbox {
public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox &) = delete;
  Sandbox &operator=(const Sandbox &) = delete;

  // The test's folder; the same path inside the namespace.
  const std::string &dir() const;
  std::string path(const std::string &name) const;
  // Writes a file of the folder (parents made as needed); returns its path.
  std::string write(const std::string &name, const std::string &bytes);
  // The whole file; empty when it cannot be read.
  std::string read(const std::string &path) const;
  // Host path of a file in the private /tmp.
  std::string tmp_path(const std::string &name) const;
  void write_tmp(const std::string &name, const std::string &bytes);
  // What a shell script run here starts the tool by: the built cfgmigrate,
  // or for a cross build a script of this folder that runs it through the
  // emulator.
  std::string tool_for_scripts();

  SandboxResult run(const SandboxOptions &options);

private:
  std::string dir_;
};

// True when private mount namespaces can be made; otherwise *why says why.
bool sandbox_available(std::string *why);

// True when CI=true: unavailable sandboxes fail the test instead of skipping.
bool sandbox_required();

bool file_exists(const std::string &path);

// The path of the built cfgmigrate.
const char *cfgmigrate_binary();

// "cfgmigrate(123): x" -> "cfgmigrate(N): x"; other lines unchanged.
std::string line_placeholder(const std::string &line);

// In a TEST body: skips with the reason, or fails when CI=true.
#define REQUIRE_SANDBOX()                                                                          \
  do {                                                                                             \
    std::string sandbox_why_;                                                                      \
    if (!sandbox_available(&sandbox_why_)) {                                                       \
      if (sandbox_required())                                                                      \
        FAIL() << "no sandbox under CI=true: " << sandbox_why_;                                    \
      GTEST_SKIP() << "no sandbox: " << sandbox_why_;                                              \
    }                                                                                              \
  } while (0)

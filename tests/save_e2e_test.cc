// The saved configuration survives what a router's boot can throw at the
// save: a nearly full flash, a power cut halfway, links and odd outputs.
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <poll.h>
#include <random>
#include <set>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <syslog.h>
#include <thread>
#include <unistd.h>

#include "cli/safe_save.h"
#include "tests/file_bytes.h"
#include "tests/sandbox.h"
#include "tests/test_document.h"

namespace {

// No step lies between these: the output is the input re-indented.
constexpr char same_version[] = "v1.4.09";

// An input without indentation, so the saved document differs from it.
std::string flat_document(int entries) {
  std::string text = "<?xml version=\"1.0\"?>\n<config>";
  char entry[128];
  for (int i = 0; i < entries; ++i) {
    snprintf(entry, sizeof entry, "<entry><name>rule-%d</name><value>%d</value></entry>", i, i * 7);
    text += entry;
  }
  return text + "</config>\n";
}

std::string saved_form(const std::string &input) { return TestDocument(input).save(); }

// The run's last info line: the save's.
std::string last_info_line(const SandboxResult &result) {
  std::string last;
  for (const SyslogLine &line : result.syslog)
    if (line.priority == LOG_INFO)
      last = line_placeholder(line.text);
  return last;
}

SandboxResult run_same_version(Sandbox &sandbox, const std::string &input,
                               const std::string &output) {
  SandboxOptions options;
  options.args = {same_version, same_version, input, output};
  return sandbox.run(options);
}

// Runs a shell script in the sandbox; $0 is the tool.
SandboxResult run_script(Sandbox &sandbox, const std::string &script) {
  SandboxOptions options;
  options.binary = "/bin/sh";
  options.args = {"-c", script, sandbox.tool_for_scripts()};
  return sandbox.run(options);
}

TEST(SafeSave, FullFileSystemKeepsTheInputWhole) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  const std::string input = flat_document(3000);
  const std::string output = saved_form(input);
  ASSERT_GT(output.size(), input.size() + 16384);
  sandbox.write("in.xml", input);
  // Room for the input and two pages more: not for the re-indented copy.
  const size_t size = (input.size() / 4096 + 3) * 4096;
  const std::string script = "mkdir small && mount -t tmpfs -o size=" + std::to_string(size) +
                             " tmpfs small && cp in.xml small/config.xml || exit 99\n"
                             "\"$0\" v1.4.09 v1.4.09 small/config.xml small/config.xml\n"
                             "echo $? >status\n"
                             "cp small/config.xml after.xml; ls -A small >listing\n";

  SandboxResult result = run_script(sandbox, script);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(sandbox.read(sandbox.path("status")), "0\n");
  EXPECT_EQ(sandbox.read(sandbox.path("after.xml")), input);
  EXPECT_EQ(sandbox.read(sandbox.path("listing")), "config.xml\n");
  EXPECT_EQ(last_info_line(result), "cfgmigrate(N): write upgraded xml to small/config.xml");
}

// Watches a folder for the temporary file of a save and its rename.
class SaveWatch {
public:
  explicit SaveWatch(const std::string &directory) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0)
      inotify_add_watch(fd_, directory.c_str(), IN_CREATE | IN_MOVED_FROM);
  }
  ~SaveWatch() { close(fd_); }
  bool ok() const { return fd_ >= 0; }
  // Waits for `mask` on a temporary file of `base`; false after 20 s.
  bool wait_for(uint32_t mask, const char *base) {
    for (auto deadline = clock::now() + std::chrono::seconds(20); clock::now() < deadline;) {
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0)
        continue;
      alignas(inotify_event) char buffer[4096];
      ssize_t length = read(fd_, buffer, sizeof buffer);
      for (ssize_t at = 0; at < length;) {
        const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
        if ((event->mask & mask) && event->len && is_temp_name_for(event->name, base))
          return true;
        at += static_cast<ssize_t>(sizeof *event + event->len);
      }
    }
    return false;
  }

private:
  using clock = std::chrono::steady_clock;
  int fd_ = -1;
};

TEST(SafeSave, KilledAtRandomMomentsLeavesTheOldOrTheNewDocumentWhole) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  const std::string old_bytes = flat_document(20000);
  const std::string new_bytes = saved_form(old_bytes);
  const std::string config = sandbox.write("cfg/config.xml", old_bytes);
  SaveWatch watch(sandbox.path("cfg"));
  ASSERT_TRUE(watch.ok());

  // How long the save takes, from its temporary file to the rename.
  std::chrono::microseconds window{};
  SandboxOptions options;
  options.args = {same_version, same_version, config, config};
  options.on_start = [&](pid_t) {
    ASSERT_TRUE(watch.wait_for(IN_CREATE, "config.xml"));
    auto created = std::chrono::steady_clock::now();
    ASSERT_TRUE(watch.wait_for(IN_MOVED_FROM, "config.xml"));
    window = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - created);
  };
  ASSERT_EQ(sandbox.run(options).status, 0);
  ASSERT_EQ(sandbox.read(config), new_bytes);

  std::random_device seed_source;
  const unsigned seed = seed_source();
  std::mt19937 random(seed);
  // Past the window too: a kill after the rename must find the new file.
  std::uniform_int_distribution<long> delay_us(0, window.count() * 5 / 4);
  int tries = 0, killed_before_rename = 0, whole = 0;
  for (; tries < 100; ++tries) {
    sandbox.write("cfg/config.xml", old_bytes);
    bool saving = false;
    options.on_start = [&](pid_t pid) {
      saving = watch.wait_for(IN_CREATE, "config.xml");
      std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
      kill(pid, SIGKILL);
    };
    SandboxResult result = sandbox.run(options);
    std::string after = sandbox.read(config);
    bool is_old = after == old_bytes;
    EXPECT_TRUE(is_old || after == new_bytes)
        << "try " << tries << " (seed " << seed << "): " << after.size() << " bytes";
    whole += is_old || after == new_bytes;
    killed_before_rename += saving && result.status == 128 + SIGKILL && is_old;
  }
  printf("kill tries %d, whole afterwards %d, killed inside the save %d, window %ld us\n", tries,
         whole, killed_before_rename, static_cast<long>(window.count()));
  EXPECT_GT(killed_before_rename, 0) << "no kill landed inside the save";

  // A later run that finishes removes what killed runs left.
  ASSERT_EQ(run_same_version(sandbox, config, config).status, 0);
  EXPECT_EQ(sandbox.read(config), new_bytes);
  EXPECT_EQ(names_in(sandbox.path("cfg")), std::set<std::string>{"config.xml"});
}

TEST(SafeSave, ReplacedFileKeepsModeAndOwner) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  const std::string input = flat_document(3);
  const std::string config = sandbox.write("cfg/config.xml", input);
  ASSERT_EQ(chmod(config.c_str(), 0640), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(config.c_str(), 1234, 5678), 0);
  }
  struct stat before {};
  ASSERT_EQ(stat(config.c_str(), &before), 0);

  SandboxResult result = run_same_version(sandbox, config, config);
  EXPECT_EQ(result.status, 0);
  struct stat after {};
  ASSERT_EQ(stat(config.c_str(), &after), 0);
  EXPECT_EQ(sandbox.read(config), saved_form(input));
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_NE(after.st_ino, before.st_ino) << "written in place";
}

TEST(SafeSave, NewFileGetsTheModeOfThePlainOpen) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  sandbox.write("in.xml", flat_document(3));
  SandboxResult result =
      run_script(sandbox, "umask 027; exec \"$0\" v1.4.09 v1.4.09 in.xml out.xml");
  EXPECT_EQ(result.status, 0);
  struct stat status {};
  ASSERT_EQ(stat(sandbox.path("out.xml").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
}

TEST(SafeSave, LinkedOutputKeepsTheLink) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  const std::string input = flat_document(3);
  sandbox.write("real/config.xml", input);
  ASSERT_EQ(symlink("real/config.xml", sandbox.path("config.xml").c_str()), 0);

  SandboxResult result = run_script(sandbox, "exec \"$0\" v1.4.09 v1.4.09 config.xml config.xml");
  EXPECT_EQ(result.status, 0);
  struct stat status {};
  ASSERT_EQ(lstat(sandbox.path("config.xml").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  EXPECT_EQ(sandbox.read(sandbox.path("real/config.xml")), saved_form(input));
  EXPECT_EQ(names_in(sandbox.path("real")), std::set<std::string>{"config.xml"});
  EXPECT_EQ(last_info_line(result), "cfgmigrate(N): write upgraded xml to config.xml");
}

TEST(SafeSave, StandardOutputNamesStillWork) {
  REQUIRE_SANDBOX();
  const std::string input = flat_document(3);
  for (const char *output : {"/dev/stdout", "-"}) {
    SCOPED_TRACE(output);
    Sandbox sandbox;
    std::string in = sandbox.write("in.xml", input);
    SandboxResult result = run_same_version(sandbox, in, output);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, saved_form(input));
    EXPECT_EQ(last_info_line(result),
              std::string("cfgmigrate(N): write upgraded xml to ") + output);
  }
}

TEST(SafeSave, StandardOutputRedirectedToAFileIsWrittenInPlace) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  const std::string input = flat_document(3);
  sandbox.write("in.xml", input);
  std::string out = sandbox.write("out.txt", "");
  struct stat before {};
  ASSERT_EQ(stat(out.c_str(), &before), 0);

  // The shell's file, not a new one renamed over its name.
  SandboxResult result =
      run_script(sandbox, "exec \"$0\" v1.4.09 v1.4.09 in.xml /dev/stdout >out.txt");
  EXPECT_EQ(result.status, 0);
  struct stat after {};
  ASSERT_EQ(stat(out.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(sandbox.read(out), saved_form(input));
}

} // namespace

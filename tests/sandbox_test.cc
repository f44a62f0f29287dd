// The sandbox itself: what a run sees, and that the machine sees nothing of it.
#include "tests/sandbox.h"

#include <syslog.h>

namespace {

SandboxResult shell(Sandbox &sandbox, const std::string &script, bool control_file = false) {
  SandboxOptions options;
  options.binary = "/bin/sh";
  options.args = {"-c", script};
  options.with_control_file = control_file;
  return sandbox.run(options);
}

TEST(Sandbox, ConsoleIsTheFolderFile) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  SandboxResult result =
      shell(sandbox, "printf 'one\\ntwo\\n' >>/dev/console; echo out; echo err >&2");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.console, "one\ntwo\n");
  EXPECT_EQ(result.console_lines, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(result.out, "out\n");
  EXPECT_EQ(result.err, "err\n");
}

TEST(Sandbox, ConsoleStartsEmptyEachRun) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  shell(sandbox, "echo first >>/dev/console");
  SandboxResult second = shell(sandbox, "echo second >>/dev/console");
  EXPECT_EQ(second.console_lines, (std::vector<std::string>{"second"}));
}

TEST(Sandbox, TmpIsPrivateAndPreplaced) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  sandbox.write_tmp("given", "abc");
  // A build tree made under /tmp shows through at its own path.
  std::string listing = "ls /tmp";
  if (sandbox.dir().rfind("/tmp/", 0) == 0)
    listing += " | grep -vx '" + sandbox.dir().substr(5, sandbox.dir().find('/', 5) - 5) + "'";
  SandboxResult result = shell(sandbox, "cat /tmp/given; echo made >/tmp/made; " + listing);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "abcgiven\nmade\n");
  EXPECT_EQ(sandbox.read(sandbox.tmp_path("made")), "made\n");
  EXPECT_FALSE(file_exists("/tmp/made") && sandbox.read("/tmp/made") == "made\n");
}

TEST(Sandbox, DevHoldsOnlyTheKeptNodes) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  SandboxResult result =
      shell(sandbox, "ls /dev; echo x >/dev/null && head -c 4 /dev/zero | wc -c");
  EXPECT_EQ(result.out,
            "console\nfd\nfull\nlog\nnull\nrandom\nstderr\nstdin\nstdout\ntty\nurandom\n"
            "zero\n4\n");
}

TEST(Sandbox, ControlFileThroughTheOverlay) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  const std::string control = "/usr/lib/opkg/info/orvalis-yang.control";
  SandboxResult with = shell(sandbox, "cat " + control + "; ls /usr/lib | grep -c .", true);
  EXPECT_EQ(with.status, 0);
  EXPECT_EQ(with.out.substr(0, SandboxOptions{}.control_file.size()),
            SandboxOptions{}.control_file);
  SandboxResult without = shell(sandbox, "test -e " + control + " || echo absent", false);
  EXPECT_EQ(without.out, "absent\n");
  // Read-only: the layer cannot be written through.
  SandboxResult write = shell(sandbox, "echo x >" + control + " 2>/dev/null || echo refused", true);
  EXPECT_EQ(write.out, "refused\n");
  EXPECT_FALSE(file_exists("/usr/lib/opkg/info/orvalis-yang.control") &&
               sandbox.read(control) == SandboxOptions{}.control_file);
}

TEST(Sandbox, LoggerDatagramsReachTheSocket) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  // logger writes RFC 3164 datagrams like glibc's syslog does, tagged as asked.
  SandboxResult result = shell(sandbox, "logger -t cfgmigrate -p user.debug 'a: b'; "
                                        "logger -t cfgmigrate -p user.info second; "
                                        "logger -t cfgmigrate -p daemon.info daemon; "
                                        "logger -t other -p user.info other");
  EXPECT_EQ(result.status, 0) << result.err;
  ASSERT_EQ(result.syslog.size(), 4u);
  EXPECT_EQ(result.syslog[0].priority, LOG_DEBUG);
  EXPECT_EQ(result.syslog[0].text, "a: b");
  EXPECT_EQ(result.syslog[1].priority, LOG_INFO);
  EXPECT_EQ(result.syslog[1].text, "second");
  // Another facility or ident is kept whole, so no comparison takes it for the tool's.
  EXPECT_EQ(result.syslog[2].priority, -1);
  EXPECT_EQ(result.syslog[2].text.substr(0, 4), "<30>");
  EXPECT_EQ(result.syslog[3].priority, -1);
  EXPECT_NE(result.syslog[3].text.find(" other: other"), std::string::npos);
}

TEST(Sandbox, ManyDatagramsDoNotBlockTheWriter) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  SandboxResult result = shell(sandbox, "i=0; while [ $i -lt 60 ]; do "
                                        "logger -t cfgmigrate line$i; i=$((i+1)); done");
  ASSERT_EQ(result.syslog.size(), 60u);
  EXPECT_EQ(result.syslog[59].text, "line59");
}

TEST(Sandbox, ExitStatusAndSignal) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  EXPECT_EQ(shell(sandbox, "exit 3").status, 3);
  EXPECT_EQ(shell(sandbox, "kill -TERM $$").status, 128 + 15);
}

TEST(Sandbox, FolderIsRemoved) {
  REQUIRE_SANDBOX();
  std::string dir;
  {
    Sandbox sandbox;
    dir = sandbox.dir();
    sandbox.write("sub/file.xml", "<x/>");
    EXPECT_EQ(sandbox.read(sandbox.path("sub/file.xml")), "<x/>");
    shell(sandbox, "true");
  }
  if (!getenv("SANDBOX_KEEP")) {
    EXPECT_FALSE(file_exists(dir));
  }
}

TEST(LinePlaceholder, ReplacesOnlyTheLineNumber) {
  EXPECT_EQ(line_placeholder("cfgmigrate(123): x (4)"), "cfgmigrate(N): x (4)");
  EXPECT_EQ(line_placeholder("cfgmigrate(7): "), "cfgmigrate(N): ");
  EXPECT_EQ(line_placeholder("cfgmigrate(): x"), "cfgmigrate(): x");
  EXPECT_EQ(line_placeholder("cfgmigrate(12: x"), "cfgmigrate(12: x");
  EXPECT_EQ(line_placeholder("other(12): x"), "other(12): x");
}

} // namespace

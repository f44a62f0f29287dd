// The command line of the built binary: usage, version report, check mode.
#include <syslog.h>

#include "tests/sandbox.h"

namespace {

constexpr char usage_text[] =
    "Usage: cfgmigrate [options] <old-version> <new-veriosn> <input xml> <output xml>\n"
    "Options:\n"
    "  -h\tDisplay this help\n"
    "  -v\tShow version and quit\n"
    "  -c\tcheck if need to do upgrade actually and quit\n"
    "  -d\tDebug level\n";
static_assert(sizeof usage_text - 1 == 208);

SandboxResult run_tool(Sandbox &sandbox, std::vector<std::string> args, bool control_file = false) {
  SandboxOptions options;
  options.args = std::move(args);
  options.with_control_file = control_file;
  return sandbox.run(options);
}

std::vector<std::string> placeheld(const std::vector<std::string> &lines) {
  std::vector<std::string> out;
  for (const std::string &line : lines)
    out.push_back(line_placeholder(line));
  return out;
}

std::vector<std::string> syslog_texts(const SandboxResult &result, int priority) {
  std::vector<std::string> out;
  for (const SyslogLine &line : result.syslog)
    if (line.priority == priority)
      out.push_back(line_placeholder(line.text));
  return out;
}

struct UsageCase {
  const char *name;
  std::vector<std::string> args;
  std::vector<std::string> info_lines; // logged before the usage text
};

constexpr char no_control_file[] =
    "cat: /usr/lib/opkg/info/orvalis-yang.control: No such file or directory\n";

class Usage : public testing::TestWithParam<UsageCase> {};

TEST_P(Usage, PrintsTheTextAndExitsOne) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  SandboxResult result = run_tool(sandbox, GetParam().args);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, usage_text);
  EXPECT_EQ(result.console, "");
  EXPECT_EQ(syslog_texts(result, LOG_INFO), GetParam().info_lines);
  EXPECT_EQ(result.syslog.size(), GetParam().info_lines.size());
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, Usage,
    testing::Values(UsageCase{"Help", {"-h"}, {}},
                    UsageCase{"HelpAfterVersions", {"v1.4.07", "v1.4.09", "-h", "in", "out"}, {}},
                    UsageCase{"NoArguments", {}, {}}, UsageCase{"OnePositional", {"v1.4.07"}, {}},
                    UsageCase{"OnePositionalCheck", {"-c", "v1.4.07"}, {}},
                    UsageCase{"ThreePositional",
                              {"v1.4.07", "v1.4.09", "in.xml"},
                              {"cfgmigrate(N): Error: wrong number of arguments."}},
                    UsageCase{"FivePositional",
                              {"v1.4.07", "v1.4.09", "in.xml", "out.xml", "extra"},
                              {"cfgmigrate(N): Error: wrong number of arguments."}},
                    UsageCase{"BadVersionThenThreePositional",
                              {"1.4.07", "v1.4.09", "in.xml"},
                              {"cfgmigrate(N): Error: wrong version string",
                               "cfgmigrate(N): Error: wrong number of arguments."}}),
    [](const testing::TestParamInfo<UsageCase> &info) { return std::string(info.param.name); });

TEST(BadOption, ComplaintThenUsage) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  SandboxResult result = run_tool(sandbox, {"-x", "v1.4.07", "v1.4.09", "in", "out"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  // getopt names the program by argv[0], here the binary's path.
  EXPECT_EQ(result.err,
            std::string(cfgmigrate_binary()) + ": invalid option -- 'x'\n" + usage_text);
  EXPECT_TRUE(result.syslog.empty());
}

TEST(BadOption, StopsBeforeLaterOptions) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  SandboxResult result = run_tool(sandbox, {"-d", "-q", "-v"}, true);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            std::string(cfgmigrate_binary()) + ": invalid option -- 'q'\n" + usage_text);
  EXPECT_EQ(result.console, "");
}

struct VersionCase {
  const char *name;
  std::vector<std::string> args;
  bool control_file;
  std::string control_text;
  std::string expected;
  std::string complaint = ""; // the shell's, on stderr
};

void PrintTo(const VersionCase &value, std::ostream *os) { *os << value.name; }
void PrintTo(const UsageCase &value, std::ostream *os) { *os << value.name; }

class VersionReport : public testing::TestWithParam<VersionCase> {};

TEST_P(VersionReport, PrintsBothVersionsAndExitsZero) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  SandboxOptions options;
  options.args = GetParam().args;
  options.with_control_file = GetParam().control_file;
  if (!GetParam().control_text.empty())
    options.control_file = GetParam().control_text;
  SandboxResult result = sandbox.run(options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, GetParam().expected);
  EXPECT_EQ(result.err, GetParam().complaint);
  EXPECT_EQ(result.console, "");
  EXPECT_TRUE(result.syslog.empty());
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, VersionReport,
    testing::Values(VersionCase{"WithControlFile",
                                {"-v"},
                                true,
                                "",
                                "yang-model version:\t v2.1.7-r3\ncfgmigrate version:\t v1.4.09\n"},
                    VersionCase{"WithoutControlFile",
                                {"-v"},
                                false,
                                "",
                                "yang-model version:\t v\ncfgmigrate version:\t v1.4.09\n",
                                no_control_file},
                    VersionCase{"BeforeABadOption",
                                {"-v", "-x"},
                                true,
                                "",
                                "yang-model version:\t v2.1.7-r3\ncfgmigrate version:\t v1.4.09\n"},
                    VersionCase{"AfterDebugAndCheck",
                                {"-d", "-c", "-v", "v1.0.16-20170810", "v1.4.09"},
                                false,
                                "",
                                "yang-model version:\t v\ncfgmigrate version:\t v1.4.09\n",
                                no_control_file},
                    // Only the first word of the first matching line, cut to 63 characters.
                    VersionCase{"FirstWordOnly",
                                {"-v"},
                                true,
                                "Package: orvalis-yang\nVersion: 3.0 beta\nVersion: 9\n",
                                "yang-model version:\t v3.0\ncfgmigrate version:\t v1.4.09\n"},
                    VersionCase{"LongWordCut",
                                {"-v"},
                                true,
                                "Version: " + std::string(70, '7') + "\n",
                                "yang-model version:\t v" + std::string(63, '7') + "\n" +
                                    "cfgmigrate version:\t v1.4.09\n"}),
    [](const testing::TestParamInfo<VersionCase> &info) { return std::string(info.param.name); });

TEST(CheckMode, StepsBetweenExitOneAndAreLogged) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  SandboxResult result = run_tool(sandbox, {"-c", "v1.0.16-20170810", "v1.4.09"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.console, "");
  std::vector<std::string> expected = {
      "cfgmigrate(N): v1.0.16-20170810 <--> v1.0.17-20170907",
      "cfgmigrate(N): v1.0.17-20170913 <--> v1.0.17-20170920",
      "cfgmigrate(N): v1.0.19-20171017 <--> v1.0.22-20171129",
      "cfgmigrate(N): v1.0.22-20171129 <--> v1.0.24-20171219",
      "cfgmigrate(N): v1.4.04 <--> v1.4.05",
      "cfgmigrate(N): v1.4.07 <--> v1.4.08",
      "cfgmigrate(N): v1.4.08 <--> v1.4.09",
  };
  EXPECT_EQ(syslog_texts(result, LOG_INFO), expected);
  EXPECT_EQ(result.syslog.size(), expected.size());
}

TEST(CheckMode, SameVersionExitsZeroSilently) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  SandboxResult result = run_tool(sandbox, {"-c", "v1.4.09", "v1.4.09"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(result.syslog.empty());
}

TEST(CheckMode, DowngradeNamesRowsAscendingAndIgnoresFiles) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  SandboxResult result =
      run_tool(sandbox, {"-c", "v1.4.08", "v1.4.04", sandbox.path("missing.xml")});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(syslog_texts(result, LOG_INFO),
            (std::vector<std::string>{"cfgmigrate(N): v1.4.04 <--> v1.4.05",
                                      "cfgmigrate(N): v1.4.07 <--> v1.4.08"}));
  EXPECT_FALSE(file_exists(sandbox.path("missing.xml")));
}

TEST(CheckMode, DebugEchoesArgumentsOnConsoleAndSyslog) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  SandboxResult result = run_tool(sandbox, {"-d", "-c", "v1.4.08", "v1.4.09"});
  EXPECT_EQ(result.status, 1);
  std::string echo =
      "cfgmigrate(N): " + std::string(cfgmigrate_binary()) + " -d -c v1.4.08 v1.4.09 ";
  EXPECT_EQ(placeheld(result.console_lines),
            (std::vector<std::string>{echo, "cfgmigrate(N): v1.4.08 <--> v1.4.09"}));
  ASSERT_EQ(result.syslog.size(), 2u);
  EXPECT_EQ(result.syslog[0].priority, LOG_DEBUG);
  EXPECT_EQ(line_placeholder(result.syslog[0].text), echo);
  EXPECT_EQ(result.syslog[1].priority, LOG_INFO);
  EXPECT_EQ(line_placeholder(result.syslog[1].text), "cfgmigrate(N): v1.4.08 <--> v1.4.09");
}

} // namespace

// The command line of the built binary: usage, version report, check mode.
#include <syslog.h>

#include "tests/e2e_util.h"
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
  EXPECT_EQ(syslog_lines(result), GetParam().info_lines);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, Usage,
    testing::Values(UsageCase{"Help", {"-h"}, {}},
                    UsageCase{"HelpAfterVersions", {"v1.4.07", "v1.4.09", "-h", "in", "out"}, {}},
                    UsageCase{"NoArguments", {}, {}}, UsageCase{"OnePositional", {"v1.4.07"}, {}},
                    UsageCase{"OnePositionalCheck", {"-c", "v1.4.07"}, {}},
                    UsageCase{"ThreePositional",
                              {"v1.4.07", "v1.4.09", "in.xml"},
                              {"info: cfgmigrate(N): Error: wrong number of arguments."}},
                    UsageCase{"FivePositional",
                              {"v1.4.07", "v1.4.09", "in.xml", "out.xml", "extra"},
                              {"info: cfgmigrate(N): Error: wrong number of arguments."}},
                    UsageCase{"BadVersionThenThreePositional",
                              {"1.4.07", "v1.4.09", "in.xml"},
                              {"info: cfgmigrate(N): Error: wrong version string",
                               "info: cfgmigrate(N): Error: wrong number of arguments."}}),
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
      "info: cfgmigrate(N): v1.0.16-20170810 <--> v1.0.17-20170907",
      "info: cfgmigrate(N): v1.0.17-20170913 <--> v1.0.17-20170920",
      "info: cfgmigrate(N): v1.0.19-20171017 <--> v1.0.22-20171129",
      "info: cfgmigrate(N): v1.0.22-20171129 <--> v1.0.24-20171219",
      "info: cfgmigrate(N): v1.4.04 <--> v1.4.05",
      "info: cfgmigrate(N): v1.4.07 <--> v1.4.08",
      "info: cfgmigrate(N): v1.4.08 <--> v1.4.09",
  };
  EXPECT_EQ(syslog_lines(result), expected);
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
  EXPECT_EQ(syslog_lines(result),
            (std::vector<std::string>{"info: cfgmigrate(N): v1.4.04 <--> v1.4.05",
                                      "info: cfgmigrate(N): v1.4.07 <--> v1.4.08"}));
  EXPECT_FALSE(file_exists(sandbox.path("missing.xml")));
}

// A label that does not parse has code 0, below every row.
TEST(CheckMode, BadLabelCountsAsZero) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  SandboxResult result = run_tool(sandbox, {"-c", "1.4.07", "v1.0.17-20170913"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(
      syslog_lines(result),
      (std::vector<std::string>{"info: cfgmigrate(N): Error: wrong version string",
                                "info: cfgmigrate(N): v1.0.16-20170810 <--> v1.0.17-20170907"}));
}

TEST(CheckMode, DebugEchoesArgumentsOnConsoleAndSyslog) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  SandboxResult result = run_tool(sandbox, {"-d", "-c", "v1.4.08", "v1.4.09"});
  EXPECT_EQ(result.status, 1);
  std::string echo = argument_echo({"-d", "-c", "v1.4.08", "v1.4.09"});
  EXPECT_EQ(placeheld(result.console_lines),
            (std::vector<std::string>{echo, "cfgmigrate(N): v1.4.08 <--> v1.4.09"}));
  EXPECT_EQ(syslog_lines(result), (std::vector<std::string>{
                                      "debug: " + echo,
                                      "info: cfgmigrate(N): v1.4.08 <--> v1.4.09",
                                  }));
}

// The echo shows the vector as getopt left it: options moved to the front.
TEST(ArgumentEcho, ShowsTheVectorAfterOptionParsing) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  SandboxResult result = run_tool(sandbox, {"v1.4.09", "-d", "v1.4.09", "-c", "-d"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(placeheld(result.console_lines),
            (std::vector<std::string>{argument_echo({"-d", "-c", "-d", "v1.4.09", "v1.4.09"})}));
}

TEST(ArgumentEcho, LongArgumentsAreCutTo127Bytes) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  std::vector<std::string> args = {"-dc", "v1.4.09", "v1.4.09", std::string(100, 'i'),
                                   std::string(100, 'o')};
  SandboxResult result = run_tool(sandbox, args);
  EXPECT_EQ(result.status, 0);
  ASSERT_EQ(result.console_lines.size(), 1u);
  std::string echo = argument_echo(args);
  EXPECT_EQ(line_placeholder(result.console_lines[0]), echo);
  EXPECT_EQ(echo.size(), std::string("cfgmigrate(N): ").size() + 127);
  EXPECT_EQ(syslog_lines(result), (std::vector<std::string>{"debug: " + echo}));
}

} // namespace

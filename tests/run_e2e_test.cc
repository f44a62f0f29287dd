// Run mode of the built binary: load, walk, save, exit status and the log,
// on real documents.
#include "tests/e2e_util.h"
#include "tests/sandbox.h"

namespace {

constexpr char saved_header[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// A v1.4.07 document: both containers under their old names, indented as
// a saved configuration is.
const std::string old_names = with_namespaces(R"(<?xml version="1.0" encoding="UTF-8"?>
<config xmlns="{config}">
  <netconf xmlns="{netconf}">
    <enabled>true</enabled>
    <netconf-zone>lan-vpn</netconf-zone>
  </netconf>
  <restconf xmlns="{restconf}">
    <enabled>false</enabled>
  </restconf>
</config>
)");

const std::string new_names = with_namespaces(R"(<?xml version="1.0" encoding="UTF-8"?>
<config xmlns="{config}">
  <orvalis-netconf xmlns="{netconf}">
    <enabled>true</enabled>
    <netconf-zone>lan-vpn</netconf-zone>
  </orvalis-netconf>
  <orvalis-restconf xmlns="{restconf}">
    <enabled>false</enabled>
  </orvalis-restconf>
</config>
)");

const std::string netconf_renamed = with_namespaces(R"(<?xml version="1.0" encoding="UTF-8"?>
<config xmlns="{config}">
  <orvalis-netconf xmlns="{netconf}">
    <enabled>true</enabled>
    <netconf-zone>lan-vpn</netconf-zone>
  </orvalis-netconf>
  <restconf xmlns="{restconf}">
    <enabled>false</enabled>
  </restconf>
</config>
)");

std::vector<std::string> debug_args(int level, std::vector<std::string> args) {
  args.insert(args.begin(), static_cast<size_t>(level), "-d");
  return args;
}

class DebugLevel : public testing::TestWithParam<int> {};

TEST_P(DebugLevel, ConsoleAndSyslogOfAnUpgrade) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  std::string in = sandbox.write("in.xml", old_names);
  std::string out = sandbox.path("out.xml");
  std::vector<std::string> args = debug_args(GetParam(), {"v1.4.07", "v1.4.09", in, out});
  SandboxResult result = run_tool(sandbox, args);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(sandbox.read(out), new_names);

  std::string final_line = "cfgmigrate(N): final version:v1.4.9.0";
  std::string write_line = "cfgmigrate(N): write upgraded xml to " + out;
  if (GetParam() == 0) {
    EXPECT_EQ(result.console, "");
    EXPECT_EQ(syslog_lines(result),
              (std::vector<std::string>{"info: " + final_line, "info: " + write_line}));
    return;
  }
  std::string echo = argument_echo(args);
  EXPECT_EQ(
      placeheld(result.console_lines),
      (std::vector<std::string>{echo, "cfgmigrate(N): upgraded to v1.4.08",
                                "cfgmigrate(N): upgraded to v1.4.09", final_line, write_line}));
  EXPECT_EQ(syslog_lines(result),
            (std::vector<std::string>{"debug: " + echo, "debug: cfgmigrate(N): upgraded to v1.4.08",
                                      "debug: cfgmigrate(N): upgraded to v1.4.09",
                                      "info: " + final_line, "info: " + write_line}));
}

INSTANTIATE_TEST_SUITE_P(Run, DebugLevel, testing::Values(0, 1, 2),
                         [](const testing::TestParamInfo<int> &info) {
                           return "Level" + std::to_string(info.param);
                         });

struct WalkCase {
  const char *name;
  const char *from, *to;
  const std::string *input, *output;
  std::vector<std::string> lines; // at debug level 1, after the echo and before the write line
};

void PrintTo(const WalkCase &value, std::ostream *os) { *os << value.name; }

class Walk : public testing::TestWithParam<WalkCase> {};

TEST_P(Walk, RenamesAndLogs) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  const WalkCase &walk = GetParam();
  std::string in = sandbox.write("in.xml", *walk.input);
  std::string out = sandbox.path("out.xml");
  SandboxResult result = run_tool(sandbox, {"-d", walk.from, walk.to, in, out});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(sandbox.read(out), *walk.output);
  std::vector<std::string> expected = {argument_echo({"-d", walk.from, walk.to, in, out})};
  expected.insert(expected.end(), walk.lines.begin(), walk.lines.end());
  expected.push_back("cfgmigrate(N): write upgraded xml to " + out);
  EXPECT_EQ(placeheld(result.console_lines), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Run, Walk,
    testing::Values(
        WalkCase{"UpgradeRenamesBoth",
                 "v1.4.07",
                 "v1.4.09",
                 &old_names,
                 &new_names,
                 {"cfgmigrate(N): upgraded to v1.4.08", "cfgmigrate(N): upgraded to v1.4.09",
                  "cfgmigrate(N): final version:v1.4.9.0"}},
        WalkCase{"UpgradeToV1408RenamesNetconfOnly",
                 "v1.4.05",
                 "v1.4.08",
                 &old_names,
                 &netconf_renamed,
                 {"cfgmigrate(N): upgraded to v1.4.08", "cfgmigrate(N): final version:v1.4.8.0"}},
        WalkCase{"DowngradeToV1408RestoresRestconfOnly",
                 "v1.4.09",
                 "v1.4.08",
                 &new_names,
                 &netconf_renamed,
                 {"cfgmigrate(N): downgrading..", "cfgmigrate(N): downgraded to v1.4.08",
                  "cfgmigrate(N): final version:v1.4.8.0"}},
        WalkCase{"DowngradeToV1407RestoresBoth",
                 "v1.4.09",
                 "v1.4.07",
                 &new_names,
                 &old_names,
                 {"cfgmigrate(N): downgrading..", "cfgmigrate(N): downgraded to v1.4.08",
                  "cfgmigrate(N): downgraded to v1.4.07", "cfgmigrate(N): final version:v1.4.7.0"}},
        // Only the rename rows edit on the way down, so the old schema's
        // first version can be reached without a change beyond the renames.
        WalkCase{"DowngradeToTheOldestVersion",
                 "v1.4.09",
                 "v1.0.16-20170810",
                 &new_names,
                 &old_names,
                 {"cfgmigrate(N): downgrading..", "cfgmigrate(N): downgraded to v1.4.08",
                  "cfgmigrate(N): downgraded to v1.4.07", "cfgmigrate(N): downgraded to v1.4.04",
                  "cfgmigrate(N): downgraded to v1.0.22-20171129",
                  "cfgmigrate(N): downgraded to v1.0.19-20171017",
                  "cfgmigrate(N): downgraded to v1.0.17-20170913",
                  "cfgmigrate(N): downgraded to v1.0.16-20170810",
                  "cfgmigrate(N): final version:v1.0.16.5"}},
        WalkCase{"SameVersionDoesNothing",
                 "v1.4.09",
                 "v1.4.09",
                 &old_names,
                 &old_names,
                 {"cfgmigrate(N): same version, do nothing"}},
        // A version inside the gap between rows 4 and 5 needs no change.
        WalkCase{"UpgradeWithinAGap",
                 "v1.4.05",
                 "v1.4.07",
                 &old_names,
                 &old_names,
                 {"cfgmigrate(N): final version:v1.4.7.0"}}),
    [](const testing::TestParamInfo<WalkCase> &info) { return std::string(info.param.name); });

// Only direct children of the root in the module's own namespace take the
// new name; attributes, content and positions stay.
TEST(Renames, OnlyTheModulesTopLevelContainers) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  std::string in = sandbox.write("in.xml", with_namespaces(R"(<?xml version="1.0"?>
<config xmlns="{config}">
  <firewall xmlns="{fwbs}">
    <lan-vpn-web-management><netconf>true</netconf></lan-vpn-web-management>
  </firewall>
  <netconf xmlns="{netconf}" mode="a"><enabled>true</enabled></netconf>
  <netconf xmlns="{wifi}"/>
  <netconf xmlns="{netconf}" mode="b"/>
  <restconf xmlns="{netconf}"/>
  <other xmlns="{restconf}"><restconf/></other>
</config>
)"));
  std::string out = sandbox.path("out.xml");
  SandboxResult result = run_tool(sandbox, {"v1.4.07", "v1.4.09", in, out});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(sandbox.read(out), with_namespaces(R"(<?xml version="1.0" encoding="UTF-8"?>
<config xmlns="{config}">
  <firewall xmlns="{fwbs}">
    <lan-vpn-web-management>
      <netconf>true</netconf>
    </lan-vpn-web-management>
  </firewall>
  <orvalis-netconf xmlns="{netconf}" mode="a">
    <enabled>true</enabled>
  </orvalis-netconf>
  <netconf xmlns="{wifi}"/>
  <orvalis-netconf xmlns="{netconf}" mode="b"/>
  <restconf xmlns="{netconf}"/>
  <other xmlns="{restconf}">
    <restconf/>
  </other>
</config>
)"));
}

TEST(Renames, UpgradeThenDowngradeGivesTheDocumentBack) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  std::string in = sandbox.write("in.xml", old_names);
  std::string up = sandbox.path("up.xml");
  std::string down = sandbox.path("down.xml");
  EXPECT_EQ(run_tool(sandbox, {"v1.4.07", "v1.4.09", in, up}).status, 0);
  EXPECT_EQ(run_tool(sandbox, {"v1.4.09", "v1.4.07", up, down}).status, 0);
  EXPECT_EQ(sandbox.read(down), old_names);
}

// Rows 0-4 may add elements on the way up; this checks only the walk and
// the renames, which hold whatever those rows do.
TEST(FullUpgrade, CallsEveryRowInOrder) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  std::string in = sandbox.write("in.xml", old_names);
  std::string out = sandbox.path("out.xml");
  SandboxResult result = run_tool(sandbox, {"-d", "v1.0.16-20170810", "v1.4.09", in, out});
  EXPECT_EQ(result.status, 0);
  std::vector<std::string> walk;
  for (const std::string &line : placeheld(result.console_lines))
    if (line.find("upgraded to") != std::string::npos ||
        line.find("final version") != std::string::npos)
      walk.push_back(line);
  EXPECT_EQ(walk, (std::vector<std::string>{"cfgmigrate(N): upgraded to v1.0.17-20170907",
                                            "cfgmigrate(N): upgraded to v1.0.17-20170920",
                                            "cfgmigrate(N): upgraded to v1.0.22-20171129",
                                            "cfgmigrate(N): upgraded to v1.0.24-20171219",
                                            "cfgmigrate(N): upgraded to v1.4.05",
                                            "cfgmigrate(N): upgraded to v1.4.08",
                                            "cfgmigrate(N): upgraded to v1.4.09",
                                            "cfgmigrate(N): final version:v1.4.9.0"}));
  std::string saved = sandbox.read(out);
  EXPECT_NE(saved.find(with_namespaces("<orvalis-netconf xmlns=\"{netconf}\">")), std::string::npos)
      << saved;
  EXPECT_NE(saved.find(with_namespaces("<orvalis-restconf xmlns=\"{restconf}\">")),
            std::string::npos)
      << saved;
}

// A label without its "v" has code 0: an upgrade from it crosses every row.
TEST(BadVersion, RunGoesOnWithCodeZero) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  std::string in = sandbox.write("in.xml", new_names);
  std::string out = sandbox.path("out.xml");
  SandboxResult result = run_tool(sandbox, {"v1.4.09", "1.4.07", in, out});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(syslog_lines(result),
            (std::vector<std::string>{"info: cfgmigrate(N): Error: wrong version string",
                                      "info: cfgmigrate(N): downgrading..",
                                      "info: cfgmigrate(N): final version:v0.0.0.0",
                                      "info: cfgmigrate(N): write upgraded xml to " + out}));
  EXPECT_EQ(sandbox.read(out), old_names);
}

TEST(Save, OutputMayBeTheInput) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  std::string path = sandbox.write("config.xml", old_names);
  SandboxResult result = run_tool(sandbox, {"v1.4.07", "v1.4.09", path, path});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(sandbox.read(path), new_names);
}

TEST(Save, ReindentsAndEmptiesWhiteSpaceOnlyElements) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  std::string in = sandbox.write(
      "in.xml", with_namespaces("<config xmlns=\"{config}\"><wlans xmlns=\"{wifi}\">\n"
                                "\t<ssid>\n\t\t<name> guest net </name>\n"
                                "        <description>  \n\t  </description>\n"
                                "<hidden/>   </ssid>\n"
                                "                  </wlans>\n<!-- kept -->\n</config>"));
  std::string out = sandbox.path("out.xml");
  SandboxResult result = run_tool(sandbox, {"v1.4.09", "v1.4.09", in, out});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(sandbox.read(out),
            with_namespaces(std::string(saved_header) + "<config xmlns=\"{config}\">\n"
                                                        "  <wlans xmlns=\"{wifi}\">\n"
                                                        "    <ssid>\n"
                                                        "      <name> guest net </name>\n"
                                                        "      <description/>\n"
                                                        "      <hidden/>\n"
                                                        "    </ssid>\n"
                                                        "  </wlans>\n"
                                                        "  <!-- kept -->\n"
                                                        "</config>\n"));
}

// Not writable: nothing detects it; the line is logged and the status is the walk's.
TEST(Save, UnwritableOutputStillExitsZero) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  std::string in = sandbox.write("in.xml", old_names);
  std::string out = sandbox.path("no-such-folder/out.xml");
  SandboxResult result = run_tool(sandbox, {"v1.4.07", "v1.4.09", in, out});
  EXPECT_EQ(result.status, 0);
  EXPECT_FALSE(file_exists(out));
  EXPECT_EQ(syslog_lines(result).back(), "info: cfgmigrate(N): write upgraded xml to " + out);
}

struct ParseFailureCase {
  const char *name;
  const char *file;    // written to the input path unless null
  const char *message; // part of libxml2's complaint on stderr
};

void PrintTo(const ParseFailureCase &value, std::ostream *os) { *os << value.name; }

class ParseFailure : public testing::TestWithParam<ParseFailureCase> {};

TEST_P(ParseFailure, ExitsThreeAndWritesNothing) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  std::string in = sandbox.path("in.xml");
  if (GetParam().file)
    sandbox.write("in.xml", GetParam().file);
  std::string out = sandbox.path("out.xml");
  SandboxResult result = run_tool(sandbox, {"-d", "v1.4.07", "v1.4.09", in, out});
  EXPECT_EQ(result.status, 3);
  EXPECT_FALSE(file_exists(out));
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
  std::string failure = "cfgmigrate(N): Error: unable to parse file \"" + in + "\"";
  EXPECT_EQ(
      placeheld(result.console_lines),
      (std::vector<std::string>{argument_echo({"-d", "v1.4.07", "v1.4.09", in, out}), failure}));
  EXPECT_EQ(syslog_lines(result).back(), "info: " + failure);
}

INSTANTIATE_TEST_SUITE_P(
    Run, ParseFailure,
    testing::Values(ParseFailureCase{"Unclosed", "<config><netconf></config>", "parser error"},
                    ParseFailureCase{"Empty", "", "Document is empty"},
                    ParseFailureCase{"NotXml", "netconf=true\n", "parser error"},
                    ParseFailureCase{"Missing", nullptr, "failed to load external entity"}),
    [](const testing::TestParamInfo<ParseFailureCase> &info) {
      return std::string(info.param.name);
    });

TEST(ParseFailure, InPlaceLeavesTheInputAlone) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  std::string path = sandbox.write("config.xml", "<config>");
  SandboxResult result = run_tool(sandbox, {"v1.4.07", "v1.4.09", path, path});
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(sandbox.read(path), "<config>");
}

TEST(NoXPathContext, ExitsThreeAndStillSavesUntouched) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  std::string in = sandbox.write("in.xml", old_names);
  std::string out = sandbox.path("out.xml");
  SandboxOptions options;
  options.args = {"-d", "v1.4.07", "v1.4.09", in, out};
  options.env = {std::string("LD_PRELOAD=") + NO_XPATH_CONTEXT_LIBRARY};
  SandboxResult result = sandbox.run(options);
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(sandbox.read(out), old_names);
  std::string echo = argument_echo(options.args);
  EXPECT_EQ(syslog_lines(result),
            (std::vector<std::string>{
                "debug: " + echo, "info: cfgmigrate(N): Error: unable to create new XPath context",
                "info: cfgmigrate(N): write upgraded xml to " + out}));
  EXPECT_EQ(
      placeheld(result.console_lines),
      (std::vector<std::string>{echo, "cfgmigrate(N): Error: unable to create new XPath context",
                                "cfgmigrate(N): write upgraded xml to " + out}));
}

} // namespace

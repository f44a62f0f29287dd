// Broken and hostile inputs, end to end: no crash, no hang, and either the
// parse failure (status 3, its log line, nothing written) or the expected
// document. The file inputs and their expected outputs are in tests/hostile/.
#include <sys/stat.h>

#include "tests/e2e_util.h"
#include "tests/sandbox.h"

namespace {

constexpr char secret[] = "TOP SECRET 4711";
constexpr char dtd_text[] = "FROM THE DTD";

const char restconf_block[] = "  <restconf xmlns=\"{restconf}\">\n"
                              "    <enabled>false</enabled>\n"
                              "  </restconf>\n";

std::string hostile_file(const std::string &name) {
  return read_file(std::string(HOSTILE_DIR) + "/" + name);
}

bool hostile_file_exists(const std::string &name) {
  return file_exists(std::string(HOSTILE_DIR) + "/" + name);
}

std::string replace_all(std::string text, const std::string &from, const std::string &to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string nested(int depth, const std::string &core) {
  std::string text = "<config>";
  for (int i = 0; i < depth; ++i)
    text += "<a>";
  text += core;
  for (int i = 0; i < depth; ++i)
    text += "</a>";
  return text + "</config>\n";
}

// The saver indents each level by two blanks, up to 60.
std::string indent(int level) { return std::string(level < 30 ? 2 * level : 60, ' '); }

std::string nested_saved(int depth, const std::string &core) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n";
  for (int i = 0; i < depth - 1; ++i)
    text += indent(i + 1) + "<a>\n";
  text += indent(depth) + "<a>" + core + "</a>\n";
  for (int i = depth - 2; i >= 0; --i)
    text += indent(i + 1) + "</a>\n";
  return text + restconf_block + "</config>\n";
}

std::string text_node(size_t length) {
  return "<config><t>" + std::string(length, 'A') + "</t></config>\n";
}

std::string text_node_saved(size_t length) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n  <t>" + std::string(length, 'A') +
         "</t>\n" + restconf_block + "</config>\n";
}

// libxml2's limits without XML_PARSE_HUGE: 256 levels, 10,000,000-byte texts.
constexpr int depth_limit = 256;
constexpr size_t text_limit = 10000000;

struct HostileCase {
  const char *name;
  // Puts in.xml (or whatever stands in its place) into the folder.
  void (*prepare)(Sandbox &sandbox, const char *name);
  // The output; empty when the input must not parse.
  std::string (*expected)(const char *name);
};

void from_file(Sandbox &sandbox, const char *name) {
  std::string input = hostile_file(std::string(name) + ".xml");
  sandbox.write("in.xml", replace_all(input, "@DIR@", sandbox.dir()));
}
std::string expected_file(const char *name) {
  std::string file = std::string(name) + ".expected";
  return hostile_file_exists(file) ? with_namespaces(hostile_file(file)) : "";
}

void nothing(Sandbox &, const char *) {}
void directory(Sandbox &sandbox, const char *) { mkdir(sandbox.path("in.xml").c_str(), 0755); }
void too_deep(Sandbox &sandbox, const char *) {
  sandbox.write("in.xml", nested(20 * depth_limit, "x"));
}
void deep(Sandbox &sandbox, const char *) {
  sandbox.write("in.xml", nested(depth_limit - 56, "x"));
}
void huge_text(Sandbox &sandbox, const char *) {
  sandbox.write("in.xml", text_node(text_limit + 1));
}
void large_text(Sandbox &sandbox, const char *) {
  sandbox.write("in.xml", text_node(text_limit - 1000));
}

std::string fails(const char *) { return ""; }
std::string deep_saved(const char *) {
  return with_namespaces(nested_saved(depth_limit - 56, "x"));
}
std::string large_text_saved(const char *) {
  return with_namespaces(text_node_saved(text_limit - 1000));
}

class Hostile : public testing::TestWithParam<HostileCase> {};

TEST_P(Hostile, NoCrashNoHangAndTheSpecifiedOutcome) {
  REQUIRE_SANDBOX();
  const HostileCase &c = GetParam();
  Sandbox sandbox;
  // Files an input may point at: their contents must never come out.
  sandbox.write("secret.txt", std::string(secret) + "\n");
  sandbox.write("outside.dtd", std::string("<!ENTITY fromdtd \"") + dtd_text + "\">\n");
  c.prepare(sandbox, c.name);
  std::string expected = replace_all(c.expected(c.name), "@DIR@", sandbox.dir());

  SandboxResult result = run_tool(sandbox, {"v1.0.16-20170810", "v1.4.09", "in.xml", "out.xml"});

  std::string output = sandbox.read(sandbox.path("out.xml"));
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.console, "");
  std::vector<std::string> lines = syslog_lines(result);
  if (expected.empty()) {
    EXPECT_EQ(result.status, 3);
    EXPECT_FALSE(file_exists(sandbox.path("out.xml")));
    EXPECT_EQ(lines, std::vector<std::string>{
                         "info: cfgmigrate(N): Error: unable to parse file \"in.xml\""});
  } else {
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(output, expected);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "info: cfgmigrate(N): write upgraded xml to out.xml");
  }
  std::string everything = output + result.out + result.err + result.console;
  for (const std::string &line : lines)
    everything += line;
  EXPECT_EQ(everything.find(secret), std::string::npos);
  EXPECT_EQ(everything.find(dtd_text), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Inputs, Hostile,
                         testing::Values(HostileCase{"empty", from_file, expected_file},
                                         HostileCase{"missing", nothing, fails},
                                         HostileCase{"directory", directory, fails},
                                         HostileCase{"garbage", from_file, expected_file},
                                         HostileCase{"truncated", from_file, expected_file},
                                         HostileCase{"wrong-root", from_file, expected_file},
                                         HostileCase{"utf16", from_file, expected_file},
                                         HostileCase{"latin1", from_file, expected_file},
                                         HostileCase{"billion-laughs", from_file, expected_file},
                                         HostileCase{"external-entity", from_file, expected_file},
                                         HostileCase{"external-dtd", from_file, expected_file},
                                         HostileCase{"too-deep", too_deep, fails},
                                         HostileCase{"deep", deep, deep_saved},
                                         HostileCase{"huge-text", huge_text, fails},
                                         HostileCase{"large-text", large_text, large_text_saved},
                                         HostileCase{"entity-blanks", from_file, expected_file},
                                         HostileCase{"cdata", from_file, expected_file},
                                         HostileCase{"comments-pis", from_file, expected_file},
                                         HostileCase{"no-step-content", from_file, expected_file}),
                         [](const testing::TestParamInfo<HostileCase> &info) {
                           std::string name = info.param.name;
                           for (char &c : name)
                             if (c == '-')
                               c = '_';
                           return name;
                         });

} // namespace

// The remote range and portal image row run by the built binary: the saved
// document, the files it leaves under its private /tmp, its log and stdout.
#include <sys/stat.h>
#include <unistd.h>

#include "tests/codec_support.h"
#include "tests/e2e_util.h"
#include "tests/sandbox.h"

namespace {

const char background_expression[] =
    "./cpp:portal-profiles/cpp:portal-profile/cpp:portal-ux/cpp:background/cpp:content";
const char logo_expression[] =
    "./cpp:portal-profiles/cpp:portal-profile/cpp:portal-ux/cpp:logo/cpp:content";

std::string count_line(const char *expression, int count) {
  return "cfgmigrate(N): " + std::string(expression) + " has " + std::to_string(count) +
         " instances";
}

// Two profiles: a guest one with a background and a logo, a staff one whose
// background has a newline inside its hex text. Written as the tool saves.
const std::string portal_before = R"(  <portal-profiles xmlns="{cpp}">
    <portal-profile>
      <name>guest</name>
      <portal-ux>
        <background>
          <content>FFD8ff</content>
        </background>
        <logo>
          <content>89504e47</content>
        </logo>
      </portal-ux>
    </portal-profile>
    <portal-profile>
      <name>staff</name>
      <portal-ux>
        <background>
          <content>0102
03</content>
        </background>
      </portal-ux>
    </portal-profile>
  </portal-profiles>
)";

const std::string portal_after = R"(  <portal-profiles xmlns="{cpp}">
    <portal-profile>
      <name>guest</name>
      <portal-ux>
        <background>
          <content>/9j/</content>
        </background>
        <logo>
          <content>iVBORw==</content>
        </logo>
      </portal-ux>
    </portal-profile>
    <portal-profile>
      <name>staff</name>
      <portal-ux>
        <background>
          <content>AQIA</content>
        </background>
      </portal-ux>
    </portal-profile>
  </portal-profiles>
)";

const std::string header =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config xmlns=\"{config}\">\n";

const std::string range_before = R"(  <firewall xmlns="{fwbs}">
    <allowed-remote-ip-addresses>
      <start-address>192.168.1.10</start-address>
      <end-address>192.168.1.20</end-address>
    </allowed-remote-ip-addresses>
  </firewall>
)";

const std::string range_after = R"(  <firewall xmlns="{fwbs}">
    <allowed-remote-ip-addresses>
      <start-end-addresses>
        <start-address>192.168.1.10</start-address>
        <end-address>192.168.1.20</end-address>
      </start-end-addresses>
    </allowed-remote-ip-addresses>
  </firewall>
)";

std::string document(const std::string &range, const std::string &portal) {
  return with_namespaces(header + range + portal + "</config>\n");
}

TEST(ImagesE2E, UpgradeAcrossTheRow) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  std::string in = sandbox.write("in.xml", document(range_before, portal_before));
  std::string out = sandbox.path("out.xml");
  SandboxResult result = run_tool(sandbox, {"-d", "v1.4.04", "v1.4.05", in, out});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(sandbox.read(out), document(range_after, portal_after));
  EXPECT_EQ(sandbox.read(sandbox.tmp_path("cpp_bg_0.jpg")), "\xFF\xD8\xFF");
  EXPECT_EQ(sandbox.read(sandbox.tmp_path("cpp_bg_1.jpg")), std::string("\x01\x02\x00", 3));
  EXPECT_EQ(sandbox.read(sandbox.tmp_path("cpp_logo_0.jpg")), "\x89PNG");
  EXPECT_EQ(placeheld(result.console_lines),
            (std::vector<std::string>{
                argument_echo({"-d", "v1.4.04", "v1.4.05", in, out}),
                count_line(background_expression, 2),
                count_line(logo_expression, 1),
                "cfgmigrate(N): upgraded to v1.4.05",
                "cfgmigrate(N): final version:v1.4.5.0",
                "cfgmigrate(N): write upgraded xml to " + out,
            }));
}

TEST(ImagesE2E, DowngradeLeavesDocumentAndTmpAlone) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  std::string before = document(range_before, portal_before);
  std::string in = sandbox.write("in.xml", before);
  std::string out = sandbox.path("out.xml");
  SandboxResult result = run_tool(sandbox, {"-d", "v1.4.05", "v1.4.04", in, out});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(sandbox.read(out), before);
  EXPECT_FALSE(file_exists(sandbox.tmp_path("cpp_bg_0.jpg")));
  EXPECT_EQ(placeheld(result.console_lines),
            (std::vector<std::string>{
                argument_echo({"-d", "v1.4.05", "v1.4.04", in, out}),
                "cfgmigrate(N): downgrading..",
                "cfgmigrate(N): downgraded to v1.4.04",
                "cfgmigrate(N): final version:v1.4.4.0",
                "cfgmigrate(N): write upgraded xml to " + out,
            }));
}

// A link planted where the first background goes must not carry the bytes
// to its target; that image keeps its hex text, the others convert.
TEST(ImagesE2E, PlantedSymlinkIsNotFollowed) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  sandbox.write_tmp("victim", "precious");
  ASSERT_EQ(symlink("/tmp/victim", sandbox.tmp_path("cpp_bg_0.jpg").c_str()), 0);
  std::string in = sandbox.write("in.xml", document(range_before, portal_before));
  std::string out = sandbox.path("out.xml");
  SandboxResult result = run_tool(sandbox, {"v1.4.04", "v1.4.05", in, out});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  std::string expected = portal_after;
  expected.replace(expected.find("/9j/"), 4, "FFD8ff");
  EXPECT_EQ(sandbox.read(out), document(range_after, expected));
  EXPECT_EQ(sandbox.read(sandbox.tmp_path("victim")), "precious");
}

std::string one_background(const std::string &text) {
  return document("", "  <portal-profiles xmlns=\"{cpp}\">\n    <portal-profile>\n"
                      "      <portal-ux>\n        <background>\n          <content>" +
                          text +
                          "</content>\n        </background>\n      </portal-ux>\n"
                          "    </portal-profile>\n  </portal-profiles>\n");
}

TEST(ImagesE2E, ImageTooLargeForTheStoresStaysHex) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  std::string text(2 * 768000, 'a');
  std::string in = sandbox.write("in.xml", one_background(text));
  std::string out = sandbox.path("out.xml");
  SandboxResult result = run_tool(sandbox, {"v1.4.04", "v1.4.05", in, out});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(sandbox.read(out) == one_background(text)) << "the hex text must stay";
  EXPECT_FALSE(file_exists(sandbox.tmp_path("cpp_bg_0.jpg")));
  EXPECT_EQ(syslog_lines(result),
            (std::vector<std::string>{
                "info: cfgmigrate(N): Error: image /tmp/cpp_bg_0.jpg of 768000 bytes is too "
                "large, kept as hex",
                "info: cfgmigrate(N): final version:v1.4.5.0",
                "info: cfgmigrate(N): write upgraded xml to " + out,
            }));
}

// Images of about 700 KB, well inside the stores, come out whole.
TEST(ImagesE2E, LargeImagesConvertWhole) {
  REQUIRE_SANDBOX();
  Sandbox sandbox;
  std::string bytes = patterned_bytes(700000);
  std::string hex = hex_text(bytes, "0123456789abcdef");
  std::string in = sandbox.write("in.xml", one_background(hex));
  std::string out = sandbox.path("out.xml");
  SandboxResult result = run_tool(sandbox, {"v1.4.04", "v1.4.05", in, out});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(sandbox.read(sandbox.tmp_path("cpp_bg_0.jpg")) == bytes) << "file differs";
  EXPECT_TRUE(sandbox.read(out) == one_background(reference_base64(bytes))) << "document differs";
}

} // namespace

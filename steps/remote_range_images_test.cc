#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <optional>
#include <ostream>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>

#include "cli/document.h"
#include "cli/log.h"
#include "cli/run_state.h"
#include "steps/steps.h"
#include "tests/codec_support.h"
#include "tests/private_tmp.h"
#include "tests/step_support.h"
#include "toolkit/xpath.h"

namespace {

const char background_expression[] =
    "./cpp:portal-profiles/cpp:portal-profile/cpp:portal-ux/cpp:background/cpp:content";
const char logo_expression[] =
    "./cpp:portal-profiles/cpp:portal-profile/cpp:portal-ux/cpp:logo/cpp:content";

std::string content_of(xmlNode *node) {
  xmlChar *content = xmlNodeGetContent(node);
  std::string text = content ? reinterpret_cast<const char *>(content) : "<null>";
  xmlFree(content);
  return text;
}

// The serialised children of `node`, so expectations need not repeat the
// namespace declaration of the node itself.
std::string inner_xml(xmlNode *node) {
  std::string xml;
  xmlBuffer *buffer = xmlBufferCreate();
  for (xmlNode *child = node ? node->children : nullptr; child; child = child->next) {
    xmlBufferEmpty(buffer);
    xmlNodeDump(buffer, child->doc, child, 0, 0);
    xml += reinterpret_cast<const char *>(xmlBufferContent(buffer));
  }
  xmlBufferFree(buffer);
  return xml;
}

// One portal profile per background and logo text; logos start a profile
// of their own after the backgrounds so their document order is plain.
std::string portal_xml(const std::vector<std::string> &backgrounds,
                       const std::vector<std::string> &logos) {
  std::string xml = "<portal-profiles xmlns=\"@cpp@\">";
  for (const std::string &text : backgrounds)
    xml += "<portal-profile><portal-ux><background><content>" + text +
           "</content></background></portal-ux></portal-profile>";
  for (const std::string &text : logos)
    xml += "<portal-profile><portal-ux><logo><content>" + text +
           "</content></logo></portal-ux></portal-profile>";
  return xml + "</portal-profiles>";
}

class RemoteRangeImagesTest : public PrivateTmpTest {
protected:
  // Makes `body` the children of the run's root `config` element.
  void load(const std::string &body) {
    document_.emplace(with_namespaces("<config xmlns=\"@config@\">" + body + "</config>"));
    ASSERT_TRUE(document_->parsed()) << body;
  }

  xmlNode *match(const char *expression, int index) {
    XPathResult result = xpath_eval(run.root, expression);
    return nodeset_item(result, index);
  }

  std::string background(int index) { return content_of(match(background_expression, index)); }
  std::string logo(int index) { return content_of(match(logo_expression, index)); }

  // Sets a background image's text directly, without parsing megabytes of XML.
  void set_background(int index, const std::string &text) {
    xmlNode *node = match(background_expression, index);
    ASSERT_NE(node, nullptr);
    xmlNodeSetContent(node, reinterpret_cast<const xmlChar *>(text.c_str()));
  }

  std::string forward() { return step_remote_range_and_portal_images(0); }

  LogCapture log_;
  std::optional<TestDocument> document_;
};

// ---------------------------------------------------------------------------
// Remote address range

struct RangeCase {
  const char *name;
  const char *firewall; // children of fwbs:firewall before the step
  const char *expected; // and after it
};

const RangeCase range_cases[] = {
    {"AnyKeepsEverything",
     "<allowed-remote-ip-addresses><any/><start-address>10.0.0.1</start-address>"
     "<end-address>10.0.0.9</end-address></allowed-remote-ip-addresses>",
     "<allowed-remote-ip-addresses><any/><start-address>10.0.0.1</start-address>"
     "<end-address>10.0.0.9</end-address></allowed-remote-ip-addresses>"},
    {"AnyInSecondContainerKeepsBoth",
     "<allowed-remote-ip-addresses><start-address>1</start-address></allowed-remote-ip-addresses>"
     "<allowed-remote-ip-addresses><any/></allowed-remote-ip-addresses>",
     "<allowed-remote-ip-addresses><start-address>1</start-address></allowed-remote-ip-addresses>"
     "<allowed-remote-ip-addresses><any/></allowed-remote-ip-addresses>"},
    {"BothLeavesMoveIntoLastChild",
     "<allowed-remote-ip-addresses><start-address>192.168.1.10</start-address><note>x</note>"
     "<end-address>192.168.1.20</end-address></allowed-remote-ip-addresses>",
     "<allowed-remote-ip-addresses><note>x</note><start-end-addresses>"
     "<start-address>192.168.1.10</start-address><end-address>192.168.1.20</end-address>"
     "</start-end-addresses></allowed-remote-ip-addresses>"},
    {"OnlyEndAddress",
     "<allowed-remote-ip-addresses><end-address>192.168.1.20</end-address>"
     "</allowed-remote-ip-addresses>",
     "<allowed-remote-ip-addresses><start-end-addresses><start-address/>"
     "<end-address>192.168.1.20</end-address></start-end-addresses>"
     "</allowed-remote-ip-addresses>"},
    {"NeitherLeafStillGainsEmptyRange",
     "<allowed-remote-ip-addresses><start-end-addresses><start-address>a</start-address>"
     "<end-address>b</end-address></start-end-addresses></allowed-remote-ip-addresses>",
     "<allowed-remote-ip-addresses><start-end-addresses><start-address>a</start-address>"
     "<end-address>b</end-address></start-end-addresses><start-end-addresses><start-address/>"
     "<end-address/></start-end-addresses></allowed-remote-ip-addresses>"},
    {"FirstContainerGetsFirstAddressesOfAll",
     "<allowed-remote-ip-addresses><end-address>E1</end-address></allowed-remote-ip-addresses>"
     "<allowed-remote-ip-addresses><start-address>S2</start-address><end-address>E2</end-address>"
     "<start-address>S3</start-address></allowed-remote-ip-addresses>",
     "<allowed-remote-ip-addresses><start-end-addresses><start-address>S2</start-address>"
     "<end-address>E1</end-address></start-end-addresses></allowed-remote-ip-addresses>"
     "<allowed-remote-ip-addresses/>"},
    {"NoContainerChangesNothing", "<other><start-address>1</start-address></other>",
     "<other><start-address>1</start-address></other>"},
    {"AddressCutTo63Characters",
     "<allowed-remote-ip-addresses><start-address>"
     "0123456789012345678901234567890123456789012345678901234567890123456789"
     "</start-address></allowed-remote-ip-addresses>",
     "<allowed-remote-ip-addresses><start-end-addresses><start-address>"
     "012345678901234567890123456789012345678901234567890123456789012"
     "</start-address><end-address/></start-end-addresses></allowed-remote-ip-addresses>"},
};

void PrintTo(const RangeCase &c, std::ostream *out) { *out << c.name; }

class RangeTest : public RemoteRangeImagesTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(RangeTest, MovesLeavesIntoRangeContainer) {
  if (!ready())
    return;
  const RangeCase &c = GetParam();
  load(std::string("<firewall xmlns=\"@fwbs@\">") + c.firewall + "</firewall>");
  EXPECT_EQ(forward(), "v1.4.05");
  strip_blank_nodes(run.root);
  EXPECT_EQ(inner_xml(run.root->children), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, RangeTest, ::testing::ValuesIn(range_cases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(RemoteRangeImagesTest, NewRangeElementsHaveNoNamespace) {
  if (!ready())
    return;
  load("<fw:firewall xmlns:fw=\"@fwbs@\">"
       "<fw:allowed-remote-ip-addresses><fw:start-address>1</fw:start-address>"
       "<fw:end-address>2</fw:end-address></fw:allowed-remote-ip-addresses></fw:firewall>");
  forward();
  EXPECT_EQ(inner_xml(run.root->children),
            "<fw:allowed-remote-ip-addresses><start-end-addresses><start-address>1</start-address>"
            "<end-address>2</end-address></start-end-addresses>"
            "</fw:allowed-remote-ip-addresses>");
}

TEST_F(RemoteRangeImagesTest, AnyStillConvertsImages) {
  if (!ready())
    return;
  load("<firewall xmlns=\"@fwbs@\">"
       "<allowed-remote-ip-addresses><any/><start-address>1</start-address>"
       "</allowed-remote-ip-addresses></firewall>" +
       portal_xml({"FFD8FF"}, {"00"}));
  forward();
  EXPECT_EQ(inner_xml(run.root->children),
            "<allowed-remote-ip-addresses><any/><start-address>1</start-address>"
            "</allowed-remote-ip-addresses>");
  EXPECT_EQ(background(0), "/9j/");
  EXPECT_EQ(logo(0), "AA==");
}

// ---------------------------------------------------------------------------
// Portal images

struct HexCase {
  const char *name;
  std::string text;
  std::string bytes;
};

const HexCase hex_cases[] = {
    {"UpperCase", "FFD8FF", "\xFF\xD8\xFF"},
    {"LowerCase", "ffd8ff", "\xFF\xD8\xFF"},
    {"MixedCase", "aBcD09", "\xAB\xCD\x09"},
    {"OddLengthDropsLastCharacter", "ABC", "\xAB"},
    {"OneCharacter", "F", ""},
    {"Empty", "", ""},
    {"NonHexCountsAsZero", "G1zz", std::string("\x01\x00", 2)},
    {"NewlineShiftsPairing", "FF\nD8FF", "\xFF\x0D\x8F"},
    {"BlankTakesPartInPairs", " 1F ", "\x01\xF0"},
    {"EightBitCharactersCountAsZero",
     "\xC3\xA9"
     "7F",
     std::string("\x00\x7F", 2)},
    {"ZeroBytesSurvive", "000000", std::string(3, '\0')},
};

void PrintTo(const HexCase &c, std::ostream *out) { *out << c.name; }

class HexTest : public RemoteRangeImagesTest, public ::testing::WithParamInterface<HexCase> {};

TEST_P(HexTest, FileHoldsDecodedBytesAndNodeTheirBase64) {
  if (!ready())
    return;
  const HexCase &c = GetParam();
  load(portal_xml({c.text}, {}));
  StdoutCapture capture("/tmp/stdout.txt");
  forward();
  EXPECT_EQ(capture.text(), "");
  EXPECT_EQ(read_file("/tmp/cpp_bg_0.jpg"), c.bytes);
  EXPECT_EQ(background(0), reference_base64(c.bytes));
}

INSTANTIATE_TEST_SUITE_P(Cases, HexTest, ::testing::ValuesIn(hex_cases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(RemoteRangeImagesTest, EachImageGetsItsOwnFileAndText) {
  if (!ready())
    return;
  load(portal_xml({"01", "0203", "040506"}, {"AAAA", "BB"}));
  forward();
  const struct {
    const char *path;
    std::string bytes;
  } files[] = {
      {"/tmp/cpp_bg_0.jpg", "\x01"},         {"/tmp/cpp_bg_1.jpg", "\x02\x03"},
      {"/tmp/cpp_bg_2.jpg", "\x04\x05\x06"}, {"/tmp/cpp_logo_0.jpg", "\xAA\xAA"},
      {"/tmp/cpp_logo_1.jpg", "\xBB"},
  };
  for (const auto &f : files)
    EXPECT_EQ(read_file(f.path), f.bytes) << f.path;
  EXPECT_EQ(background(0), "AQ==");
  EXPECT_EQ(background(1), "AgM=");
  EXPECT_EQ(background(2), "BAUG");
  EXPECT_EQ(logo(0), "qqo=");
  EXPECT_EQ(logo(1), "uw==");
  EXPECT_EQ(log_.texts(),
            (std::vector<std::string>{
                "cfgmigrate(N): " + std::string(background_expression) + " has 3 instances",
                "cfgmigrate(N): " + std::string(logo_expression) + " has 2 instances",
            }));
}

TEST_F(RemoteRangeImagesTest, LastMatchIsWrittenFirst) {
  if (!ready())
    return;
  load(portal_xml({"01", "02", "03"}, {"04"}));
  int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, "/tmp", IN_CLOSE_WRITE), 0);
  forward();
  std::vector<std::string> written;
  alignas(inotify_event) char events[4096];
  ssize_t got;
  while ((got = read(watch, events, sizeof events)) > 0)
    for (char *at = events; at < events + got;) {
      const auto *event = reinterpret_cast<const inotify_event *>(at);
      written.push_back(event->name);
      at += sizeof *event + event->len;
    }
  close(watch);
  EXPECT_EQ(written, (std::vector<std::string>{"cpp_bg_2.jpg", "cpp_bg_1.jpg", "cpp_bg_0.jpg",
                                               "cpp_logo_0.jpg"}));
}

TEST_F(RemoteRangeImagesTest, NoImagesLogsZeroCounts) {
  if (!ready())
    return;
  load("<portal-profiles xmlns=\"@cpp@\"/>");
  forward();
  EXPECT_EQ(log_.texts(),
            (std::vector<std::string>{
                "cfgmigrate(N): " + std::string(background_expression) + " has 0 instances",
                "cfgmigrate(N): " + std::string(logo_expression) + " has 0 instances",
            }));
}

TEST_F(RemoteRangeImagesTest, DowngradeLeavesTreeAndTmpAlone) {
  if (!ready())
    return;
  load("<firewall xmlns=\"@fwbs@\">"
       "<allowed-remote-ip-addresses><start-address>1</start-address>"
       "</allowed-remote-ip-addresses></firewall>" +
       portal_xml({"FFD8FF"}, {"AB"}));
  std::string before = document_->save();
  EXPECT_STREQ(step_remote_range_and_portal_images(1), "v1.4.04");
  EXPECT_EQ(document_->save(), before);
  EXPECT_TRUE(log_.lines().empty());
  struct stat status;
  EXPECT_NE(stat("/tmp/cpp_bg_0.jpg", &status), 0);
}

// Image sizes around the stores: 1,024,000 bytes of Base64 text, NUL
// included, and as many decoded bytes.
struct SizeCase {
  size_t hex_length;
  size_t base64_length; // 0: too large, kept as hex
};

const SizeCase size_cases[] = {
    {2 * 767997, 1023996},     // whole
    {2 * 767997 + 1, 1023996}, // the odd character is ignored
    {2 * 767998, 1023997},     // last group not completed
    {2 * 767999, 1023998},
    {2 * 768000, 0}, // Base64 text cannot fit
    {2 * 768000 + 1, 0},
    {2048000, 0}, // exactly fills the image store
    {2048002, 0}, // decodes past the image store
    {3000000, 0},
};

void PrintTo(const SizeCase &c, std::ostream *out) { *out << c.hex_length << " hex characters"; }

class SizeTest : public RemoteRangeImagesTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(SizeTest, ImageWithinStoresOrKeptAsHex) {
  if (!ready())
    return;
  const SizeCase &c = GetParam();
  load(portal_xml({"00"}, {}));
  std::string bytes = patterned_bytes(c.hex_length / 2);
  std::string text = hex_text(bytes) + std::string(c.hex_length % 2, 'F');
  set_background(0, text);
  forward();
  if (c.base64_length == 0) {
    EXPECT_EQ(background(0), text);
    EXPECT_FALSE(access("/tmp/cpp_bg_0.jpg", F_OK) == 0) << "no file for an image kept as hex";
    std::vector<std::string> texts = log_.texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[1].rfind("cfgmigrate(N): Error: ", 0), 0u) << texts[1];
    EXPECT_NE(texts[1].find("/tmp/cpp_bg_0.jpg"), std::string::npos) << texts[1];
    return;
  }
  EXPECT_EQ(log_.lines().size(), 2u);
  EXPECT_TRUE(read_file("/tmp/cpp_bg_0.jpg") == bytes) << "file differs from decoded bytes";
  std::string converted = background(0);
  EXPECT_EQ(converted.size(), c.base64_length);
  EXPECT_TRUE(converted == reference_base64(bytes).substr(0, c.base64_length))
      << "Base64 text differs";
}

INSTANTIATE_TEST_SUITE_P(Boundaries, SizeTest, ::testing::ValuesIn(size_cases),
                         [](const auto &info) { return std::to_string(info.param.hex_length); });

TEST_F(RemoteRangeImagesTest, TooLargeImageLeavesEarlierFileAlone) {
  if (!ready())
    return;
  ASSERT_TRUE(write_file("/tmp/cpp_bg_0.jpg", "earlier run"));
  load(portal_xml({"00"}, {}));
  set_background(0, std::string(2 * 768000, 'A'));
  forward();
  EXPECT_EQ(read_file("/tmp/cpp_bg_0.jpg"), "earlier run");
}

// ---------------------------------------------------------------------------
// The temporary file cannot be created or read back

// What may sit at /tmp/cpp_bg_0.jpg before the run. Each makes the file
// impossible to create; the node must keep its hex text and the encoder
// must not run (it would print on stdout).
struct PlantedCase {
  const char *name;
  void (*plant)();
};

const PlantedCase planted_cases[] = {
    {"SymlinkToFile",
     [] {
       ASSERT_TRUE(write_file("/tmp/victim", "precious"));
       ASSERT_EQ(symlink("/tmp/victim", "/tmp/cpp_bg_0.jpg"), 0);
     }},
    {"DanglingSymlink", [] { ASSERT_EQ(symlink("/tmp/victim", "/tmp/cpp_bg_0.jpg"), 0); }},
    {"Directory", [] { ASSERT_EQ(mkdir("/tmp/cpp_bg_0.jpg", 0755), 0); }},
    {"FifoWithoutReader", [] { ASSERT_EQ(mkfifo("/tmp/cpp_bg_0.jpg", 0666), 0); }},
};

void PrintTo(const PlantedCase &c, std::ostream *out) { *out << c.name; }

class PlantedTest : public RemoteRangeImagesTest,
                    public ::testing::WithParamInterface<PlantedCase> {};

TEST_P(PlantedTest, NodeKeepsHexAndPathIsNotFollowed) {
  if (!ready())
    return;
  GetParam().plant();
  if (HasFatalFailure())
    return;
  load(portal_xml({"FFD8FF", "0102"}, {}));
  StdoutCapture capture("/tmp/stdout.txt");
  forward();
  EXPECT_EQ(capture.text(), "");
  EXPECT_EQ(background(0), "FFD8FF");
  EXPECT_EQ(background(1), "AQI=") << "the other image is converted all the same";
  struct stat status;
  if (lstat("/tmp/victim", &status) == 0)
    EXPECT_EQ(read_file("/tmp/victim"), "precious");
  else
    EXPECT_EQ(errno, ENOENT) << "a dangling link must not create its target";
}

INSTANTIATE_TEST_SUITE_P(Cases, PlantedTest, ::testing::ValuesIn(planted_cases),
                         [](const auto &info) { return std::string(info.param.name); });

// Root reads every file; dropping the file-permission overrides from the
// effective set lets a write-only file stop the read-back.
class WithoutFileOverrides {
public:
  WithoutFileOverrides() {
    if (syscall(SYS_capget, &header_, saved_) != 0)
      return;
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[0].effective &= ~(1u << CAP_DAC_OVERRIDE | 1u << CAP_DAC_READ_SEARCH);
    dropped_ = syscall(SYS_capset, &header_, reduced) == 0;
  }
  ~WithoutFileOverrides() {
    if (dropped_)
      syscall(SYS_capset, &header_, saved_);
  }
  WithoutFileOverrides(const WithoutFileOverrides &) = delete;
  WithoutFileOverrides &operator=(const WithoutFileOverrides &) = delete;

  bool dropped() const { return dropped_; }

private:
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved_[2] = {};
  bool dropped_ = false;
};

TEST_F(RemoteRangeImagesTest, UnreadableFileLeavesHexNotPreviousImage) {
  if (!ready())
    return;
  // Index 1 goes first and fills the Base64 store; index 0 then cannot be
  // read back, and an empty image (one character) neither.
  load(portal_xml({"ABCD", "0102"}, {"F"}));
  for (const char *path : {"/tmp/cpp_bg_0.jpg", "/tmp/cpp_logo_0.jpg"}) {
    int fd = open(path, O_WRONLY | O_CREAT, 0200);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_EQ(chmod(path, 0200), 0);
  }
  StdoutCapture capture("/tmp/stdout.txt");
  {
    WithoutFileOverrides guard;
    if (!guard.dropped())
      GTEST_SKIP() << "cannot drop CAP_DAC_OVERRIDE";
    forward();
  }
  EXPECT_EQ(capture.text(), "Can't open /tmp/cpp_bg_0.jpg for reading!\n"
                            "Can't open /tmp/cpp_logo_0.jpg for reading!\n");
  EXPECT_EQ(background(1), "AQI=");
  EXPECT_EQ(background(0), "ABCD");
  EXPECT_EQ(logo(0), "F");
  EXPECT_EQ(read_file("/tmp/cpp_bg_0.jpg"), "\xAB\xCD") << "written before the read failed";
}

} // namespace

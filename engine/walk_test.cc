#include "engine/walk.h"

#include <cstring>
#include <string>
#include <syslog.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <libxml/xpathInternals.h>

#include "cli/run_state.h"
#include "engine/namespace_config.h"
#include "engine/step_table.h"
#include "engine/version.h"
#include "steps/steps.h"
#include "tests/test_document.h"
#include "toolkit/xpath.h"

namespace {

using Lines = std::vector<std::string>;

// (row, reverse flag) of each handler call, in call order.
using Call = std::pair<int, int>;
std::vector<Call> calls;

const char *const labels[][2] = {
    {"v1.0.16-20170810", "v1.0.17-20170907"},
    {"v1.0.17-20170913", "v1.0.17-20170920"},
    {"v1.0.19-20171017", "v1.0.22-20171129"},
    {"v1.0.22-20171129", "v1.0.24-20171219"},
    {"v1.4.04", "v1.4.05"},
    {"v1.4.07", "v1.4.08"},
    {"v1.4.08", "v1.4.09"},
};

template <int Row> const char *record(int reverse) {
  calls.emplace_back(Row, reverse);
  return labels[Row][reverse ? 0 : 1];
}

// The real table's labels, with handlers that only record their calls.
const MigrationStep recording_table[] = {
    {labels[0][0], labels[0][1], record<0>}, {labels[1][0], labels[1][1], record<1>},
    {labels[2][0], labels[2][1], record<2>}, {labels[3][0], labels[3][1], record<3>},
    {labels[4][0], labels[4][1], record<4>}, {labels[5][0], labels[5][1], record<5>},
    {labels[6][0], labels[6][1], record<6>},
};
constexpr int recording_count = 7;

class WalkTest : public testing::Test {
protected:
  void SetUp() override { calls.clear(); }
  void TearDown() override {
    run.source_version = 0;
    run.target_version = 0;
  }
  void versions(const char *source, const char *target) {
    run.source_version = parse_version(source);
    run.target_version = parse_version(target);
  }
};

struct WalkCase {
  const char *source;
  const char *target;
  std::vector<Call> calls;
  Lines lines;
};

TEST_F(WalkTest, Upgrade) {
  const WalkCase cases[] = {
      {"v1.0.16-20170810",
       "v1.4.09",
       {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}},
       {"cfgmigrate(N): upgraded to v1.0.17-20170907",
        "cfgmigrate(N): upgraded to v1.0.17-20170920",
        "cfgmigrate(N): upgraded to v1.0.22-20171129",
        "cfgmigrate(N): upgraded to v1.0.24-20171219", "cfgmigrate(N): upgraded to v1.4.05",
        "cfgmigrate(N): upgraded to v1.4.08", "cfgmigrate(N): upgraded to v1.4.09",
        "cfgmigrate(N): final version:v1.4.9.0"}},
      // Row 0's to-version equals the source: already there.
      {"v1.0.17-20170907",
       "v1.0.24-20171219",
       {{1, 0}, {2, 0}, {3, 0}},
       {"cfgmigrate(N): upgraded to v1.0.17-20170920",
        "cfgmigrate(N): upgraded to v1.0.22-20171129",
        "cfgmigrate(N): upgraded to v1.0.24-20171219", "cfgmigrate(N): final version:v1.0.24.209"}},
      // A target in the gap inside row 1's span stops before row 1.
      {"v1.0.16-20170810",
       "v1.0.17-20170915",
       {{0, 0}},
       {"cfgmigrate(N): upgraded to v1.0.17-20170907", "cfgmigrate(N): final version:v1.0.17.57"}},
      // A source inside row 1's span counts as before it.
      {"v1.0.17-20170915",
       "v1.0.19-20171017",
       {{1, 0}},
       {"cfgmigrate(N): upgraded to v1.0.17-20170920", "cfgmigrate(N): final version:v1.0.19.108"}},
      // Between two rows' spans: nothing to do, still a final line.
      {"v1.4.05", "v1.4.07", {}, {"cfgmigrate(N): final version:v1.4.7.0"}},
      {"v1.4.07",
       "v1.4.09",
       {{5, 0}, {6, 0}},
       {"cfgmigrate(N): upgraded to v1.4.08", "cfgmigrate(N): upgraded to v1.4.09",
        "cfgmigrate(N): final version:v1.4.9.0"}},
      // A source that does not parse is code 0: every row up to the target.
      {"1.0.16",
       "v1.0.22-20171129",
       {{0, 0}, {1, 0}, {2, 0}},
       {"cfgmigrate(N): Error: wrong version string", "cfgmigrate(N): upgraded to v1.0.17-20170907",
        "cfgmigrate(N): upgraded to v1.0.17-20170920",
        "cfgmigrate(N): upgraded to v1.0.22-20171129", "cfgmigrate(N): final version:v1.0.22.164"}},
  };
  for (const WalkCase &c : cases) {
    SCOPED_TRACE(std::string(c.source) + " -> " + c.target);
    calls.clear();
    LogCapture log;
    versions(c.source, c.target);
    upgrade_walk(recording_table, recording_count);
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(log.texts(), c.lines);
  }
}

TEST_F(WalkTest, Downgrade) {
  const WalkCase cases[] = {
      // Row 4's from-version lies below the target: the walk ends there.
      {"v1.4.09",
       "v1.4.05",
       {{6, 1}, {5, 1}},
       {"cfgmigrate(N): downgrading..", "cfgmigrate(N): downgraded to v1.4.08",
        "cfgmigrate(N): downgraded to v1.4.07", "cfgmigrate(N): final version:v1.4.5.0"}},
      // Row 6's from-version equals the source: passed over.
      {"v1.4.08",
       "v1.4.04",
       {{5, 1}, {4, 1}},
       {"cfgmigrate(N): downgrading..", "cfgmigrate(N): downgraded to v1.4.07",
        "cfgmigrate(N): downgraded to v1.4.04", "cfgmigrate(N): final version:v1.4.4.0"}},
      // Row 4's from-version equals the target: it counts.
      {"v1.4.09",
       "v1.4.04",
       {{6, 1}, {5, 1}, {4, 1}},
       {"cfgmigrate(N): downgrading..", "cfgmigrate(N): downgraded to v1.4.08",
        "cfgmigrate(N): downgraded to v1.4.07", "cfgmigrate(N): downgraded to v1.4.04",
        "cfgmigrate(N): final version:v1.4.4.0"}},
      // A source inside row 1's span counts as after it when going down.
      {"v1.0.17-20170915",
       "v1.0.17-20170907",
       {{1, 1}},
       {"cfgmigrate(N): downgrading..", "cfgmigrate(N): downgraded to v1.0.17-20170913",
        "cfgmigrate(N): final version:v1.0.17.53"}},
      {"v1.4.07",
       "v1.4.05",
       {},
       {"cfgmigrate(N): downgrading..", "cfgmigrate(N): final version:v1.4.5.0"}},
      // A target that does not parse is code 0: every row from the source down.
      {"v1.4.09",
       "",
       {{6, 1}, {5, 1}, {4, 1}, {3, 1}, {2, 1}, {1, 1}, {0, 1}},
       {"cfgmigrate(N): Error: wrong version string", "cfgmigrate(N): downgrading..",
        "cfgmigrate(N): downgraded to v1.4.08", "cfgmigrate(N): downgraded to v1.4.07",
        "cfgmigrate(N): downgraded to v1.4.04", "cfgmigrate(N): downgraded to v1.0.22-20171129",
        "cfgmigrate(N): downgraded to v1.0.19-20171017",
        "cfgmigrate(N): downgraded to v1.0.17-20170913",
        "cfgmigrate(N): downgraded to v1.0.16-20170810", "cfgmigrate(N): final version:v0.0.0.0"}},
  };
  for (const WalkCase &c : cases) {
    SCOPED_TRACE(std::string(c.source) + " -> " + c.target);
    calls.clear();
    LogCapture log;
    versions(c.source, c.target);
    downgrade_walk(recording_table, recording_count);
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(log.texts(), c.lines);
  }
}

TEST_F(WalkTest, DowngradeEndsAtTheFirstRowBelowTheTarget) {
  // Out of order on purpose: a row after the one below the target is never
  // reached, though its from-version lies in the window.
  const MigrationStep rows[] = {
      {labels[5][0], labels[5][1], record<5>},
      {labels[0][0], labels[0][1], record<0>},
      {labels[6][0], labels[6][1], record<6>},
  };
  LogCapture log;
  versions("v1.4.10", "v1.4.05");
  downgrade_walk(rows, 3);
  EXPECT_EQ(calls, (std::vector<Call>{{6, 1}}));
}

TEST_F(WalkTest, StepLinesAreDebugAndTheRestInfo) {
  LogCapture log;
  versions("v1.4.07", "v1.4.08");
  upgrade_walk(recording_table, recording_count);
  versions("v1.4.08", "v1.4.07");
  downgrade_walk(recording_table, recording_count);
  std::vector<int> priorities;
  for (const LogCapture::Line &line : log.lines())
    priorities.push_back(line.priority);
  EXPECT_EQ(priorities, (std::vector<int>{LOG_DEBUG, LOG_INFO, LOG_INFO, LOG_DEBUG, LOG_INFO}));
}

TEST_F(WalkTest, DebugLevelZeroLogsOnlyTheInfoLines) {
  LogCapture log(0);
  versions("v1.4.07", "v1.4.09");
  upgrade_walk(recording_table, recording_count);
  versions("v1.4.09", "v1.4.07");
  downgrade_walk(recording_table, recording_count);
  EXPECT_EQ(calls.size(), 4u);
  EXPECT_EQ(log.texts(),
            (Lines{"cfgmigrate(N): final version:v1.4.9.0", "cfgmigrate(N): downgrading..",
                   "cfgmigrate(N): final version:v1.4.7.0"}));
}

struct CheckCase {
  const char *source;
  const char *target;
  int needed;
  Lines lines;
};

TEST_F(WalkTest, Check) {
  const Lines all_rows = {
      "cfgmigrate(N): v1.0.16-20170810 <--> v1.0.17-20170907",
      "cfgmigrate(N): v1.0.17-20170913 <--> v1.0.17-20170920",
      "cfgmigrate(N): v1.0.19-20171017 <--> v1.0.22-20171129",
      "cfgmigrate(N): v1.0.22-20171129 <--> v1.0.24-20171219",
      "cfgmigrate(N): v1.4.04 <--> v1.4.05",
      "cfgmigrate(N): v1.4.07 <--> v1.4.08",
      "cfgmigrate(N): v1.4.08 <--> v1.4.09",
  };
  const CheckCase cases[] = {
      {"v1.0.16-20170810", "v1.4.09", 1, all_rows},
      {"v1.4.09", "v1.0.16-20170810", 1, all_rows},
      // Going down, the rows are still named in ascending order.
      {"v1.4.08",
       "v1.4.04",
       1,
       {"cfgmigrate(N): v1.4.04 <--> v1.4.05", "cfgmigrate(N): v1.4.07 <--> v1.4.08"}},
      {"v1.4.09", "v1.4.09", 0, {}},
      {"v1.4.05", "v1.4.07", 0, {}},
      // To-labels decide in both directions: a version inside row 1's span
      // counts as before it, so nothing lies between these two.
      {"v1.0.17-20170915", "v1.0.17-20170907", 0, {}},
      {"v1.0.17-20170907", "v1.0.17-20170915", 0, {}},
      {"v1.0.17-20170915",
       "v1.0.17-20170920",
       1,
       {"cfgmigrate(N): v1.0.17-20170913 <--> v1.0.17-20170920"}},
      {"bad",
       "v1.0.17-20170907",
       1,
       {"cfgmigrate(N): Error: wrong version string",
        "cfgmigrate(N): v1.0.16-20170810 <--> v1.0.17-20170907"}},
  };
  for (const CheckCase &c : cases) {
    SCOPED_TRACE(std::string(c.source) + " <-> " + c.target);
    LogCapture log;
    versions(c.source, c.target);
    EXPECT_EQ(check_walk(recording_table, recording_count), c.needed);
    EXPECT_EQ(log.texts(), c.lines);
    EXPECT_TRUE(calls.empty());
  }
}

TEST_F(WalkTest, CheckMigrationReadsTheRealTable) {
  LogCapture log;
  versions("v1.4.08", "v1.4.04");
  EXPECT_EQ(check_migration(), 1);
  EXPECT_EQ(log.texts(),
            (Lines{"cfgmigrate(N): v1.4.04 <--> v1.4.05", "cfgmigrate(N): v1.4.07 <--> v1.4.08"}));
}

TEST(StepTableTest, RowsLabelsAndHandlers) {
  const StepHandler handlers[] = {step_mgmt_access,
                                  step_mac_filter_action,
                                  step_ipsec_local_certificate,
                                  step_auto_channel,
                                  step_remote_range_and_portal_images,
                                  step_rename_netconf,
                                  step_rename_restconf};
  ASSERT_EQ(step_count, 7);
  for (int i = 0; i < step_count; ++i) {
    SCOPED_TRACE(i);
    EXPECT_STREQ(step_table[i].from_label, labels[i][0]);
    EXPECT_STREQ(step_table[i].to_label, labels[i][1]);
    EXPECT_EQ(step_table[i].handler, handlers[i]);
  }
}

TEST(StepTableTest, RowsAscendWithoutOverlap) {
  for (int i = 0; i < step_count; ++i) {
    SCOPED_TRACE(i);
    EXPECT_LT(parse_version(step_table[i].from_label), parse_version(step_table[i].to_label));
    if (i > 0) {
      EXPECT_LE(parse_version(step_table[i - 1].to_label), parse_version(step_table[i].from_label));
    }
  }
}

// Each handler returns its row's to-label forward and from-label backward,
// whatever the document holds.
TEST(StepTableTest, HandlersReturnTheirRowLabels) {
  TestDocument document("<config xmlns=\"" CFGMIGRATE_STORE_NS_BASE "/ns/config/1.0\"/>");
  ASSERT_TRUE(document.parsed());
  LogCapture log;
  for (int i = 0; i < step_count; ++i) {
    SCOPED_TRACE(i);
    EXPECT_STREQ(step_table[i].handler(0), step_table[i].to_label);
    EXPECT_STREQ(step_table[i].handler(1), step_table[i].from_label);
  }
  // Only the image step logs on its own: its image counts, at debug level.
  EXPECT_EQ(log.texts(),
            (std::vector<std::string>{
                "cfgmigrate(N): ./cpp:portal-profiles/cpp:portal-profile/cpp:portal-ux/"
                "cpp:background/cpp:content has 0 instances",
                "cfgmigrate(N): ./cpp:portal-profiles/cpp:portal-profile/cpp:portal-ux/"
                "cpp:logo/cpp:content has 0 instances",
            }));
}

TEST(NamespaceTableTest, PrefixesAndUrisInOrder) {
  const std::string vendor = CFGMIGRATE_VENDOR_NS_BASE;
  const std::pair<const char *, std::string> expected[] = {
      {"config", CFGMIGRATE_STORE_NS_BASE "/ns/config/1.0"},
      {"fwbs", vendor + "/ns/orvalis/fw-basic-settings"},
      {"wifi", vendor + "/ns/orvalis/wifi"},
      {"netconf", vendor + "/ns/orvalis/netconf"},
      {"restconf", vendor + "/ns/orvalis/restconf"},
      {"vpn_ipsec", vendor + "/ns/orvalis/vpn-ipsec"},
      {"if", "urn:ietf:params:xml:ns:yang:ietf-interfaces"},
      {"cpp", vendor + "/ns/orvalis/captive-portal"},
  };
  int i = 0;
  for (const auto &[prefix, uri] : expected) {
    SCOPED_TRACE(prefix);
    ASSERT_NE(namespace_table[i].prefix, nullptr);
    EXPECT_STREQ(namespace_table[i].prefix, prefix);
    EXPECT_EQ(namespace_table[i].uri, uri);
    ++i;
  }
  EXPECT_EQ(namespace_table[i].prefix, nullptr);
}

#define CONFIG_NS CFGMIGRATE_STORE_NS_BASE "/ns/config/1.0"
#define VENDOR_NS CFGMIGRATE_VENDOR_NS_BASE "/ns/orvalis/"

// A prefix query finds an element only in the namespace the table binds.
TEST(RegisterNamespacesTest, PrefixMatchesOnlyTheTableUri) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\">"
                        "<basic xmlns=\"" VENDOR_NS "fw-basic-settings\"/>"
                        "<basic xmlns=\"" VENDOR_NS "fw-basic-setting\"/>"
                        "<basic/>"
                        "<basic xmlns=\"" VENDOR_NS "wifi\"/>"
                        "</config>");
  ASSERT_TRUE(document.parsed());
  XPathResult found = xpath_eval(document.root(), "./fwbs:basic");
  ASSERT_EQ(nodeset_count(found), 1);
  EXPECT_EQ(nodeset_first(found), xmlFirstElementChild(document.root()));
  EXPECT_EQ(nodeset_count(xpath_eval(document.root(), "self::config:config")), 1);
}

TEST(RegisterNamespacesTest, EveryPrefixIsBound) {
  TestDocument document("<config/>");
  for (const NamespaceBinding *binding = namespace_table; binding->prefix; ++binding) {
    SCOPED_TRACE(binding->prefix);
    const xmlChar *uri = xmlXPathNsLookup(run.xpath_context, BAD_CAST binding->prefix);
    ASSERT_NE(uri, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char *>(uri), binding->uri);
  }
}

class RunMigrationTest : public testing::Test {
protected:
  void TearDown() override {
    run.source_version = 0;
    run.target_version = 0;
  }
};

const char netconf_document[] = "<config xmlns=\"" CONFIG_NS "\">"
                                "<netconf xmlns=\"" VENDOR_NS "netconf\"/>"
                                "<netconf xmlns=\"" VENDOR_NS "netconf-x\"/>"
                                "</config>";

// The rename handler's prefixed query only works when the table was
// registered on the walk's own context before the handler ran.
TEST_F(RunMigrationTest, RegistersNamespacesBeforeTheFirstHandler) {
  TestDocument document(netconf_document);
  ASSERT_TRUE(document.parsed());
  run.xpath_context = nullptr;
  LogCapture log;
  run.source_version = parse_version("v1.4.07");
  run.target_version = parse_version("v1.4.08");
  EXPECT_EQ(run_migration(), 0);
  EXPECT_EQ(run.xpath_context, nullptr);
  EXPECT_EQ(log.texts(),
            (Lines{"cfgmigrate(N): upgraded to v1.4.08", "cfgmigrate(N): final version:v1.4.8.0"}));
  xmlNode *first = xmlFirstElementChild(document.root());
  EXPECT_STREQ(reinterpret_cast<const char *>(first->name), "orvalis-netconf");
  EXPECT_STREQ(reinterpret_cast<const char *>(xmlNextElementSibling(first)->name), "netconf");
}

// Row 0 reads the firewall switches through the fwbs prefix: they count
// only in the namespace the table binds to it.
TEST_F(RunMigrationTest, FirstHandlerQueriesWithTheRegisteredPrefixes) {
  const struct {
    const char *uri;
    bool found;
  } cases[] = {
      {VENDOR_NS "fw-basic-settings", true},
      {VENDOR_NS "fw-basic-setting", false},
      {"urn:other", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.uri);
    TestDocument document(std::string("<config xmlns=\"" CONFIG_NS "\">") + "<firewall xmlns=\"" +
                          c.uri +
                          "\"><lan-vpn-web-management><rest>true</rest>"
                          "</lan-vpn-web-management></firewall></config>");
    ASSERT_TRUE(document.parsed());
    LogCapture log;
    run.source_version = parse_version("v1.0.16-20170810");
    run.target_version = parse_version("v1.0.17-20170907");
    EXPECT_EQ(run_migration(), 0);
    const std::string saved = document.save();
    EXPECT_EQ(saved.find("<restconf-zone>lan-vpn</restconf-zone>") != std::string::npos, c.found);
    EXPECT_EQ(saved.find("<rest>true</rest>") == std::string::npos, c.found);
  }
}

TEST_F(RunMigrationTest, SameVersionRunsNoHandler) {
  TestDocument document(netconf_document);
  ASSERT_TRUE(document.parsed());
  LogCapture log;
  run.source_version = parse_version("v1.4.07");
  run.target_version = parse_version("v1.4.7");
  EXPECT_EQ(run_migration(), 0);
  EXPECT_EQ(log.texts(), Lines{"cfgmigrate(N): same version, do nothing"});
  EXPECT_STREQ(reinterpret_cast<const char *>(xmlFirstElementChild(document.root())->name),
               "netconf");
}

TEST_F(RunMigrationTest, DowngradeRunsTheReverseEdits) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\">"
                        "<orvalis-netconf xmlns=\"" VENDOR_NS "netconf\"/>"
                        "</config>");
  ASSERT_TRUE(document.parsed());
  LogCapture log;
  run.source_version = parse_version("v1.4.09");
  run.target_version = parse_version("v1.4.07");
  EXPECT_EQ(run_migration(), 0);
  EXPECT_EQ(
      log.texts(),
      (Lines{"cfgmigrate(N): downgrading..", "cfgmigrate(N): downgraded to v1.4.08",
             "cfgmigrate(N): downgraded to v1.4.07", "cfgmigrate(N): final version:v1.4.7.0"}));
  EXPECT_STREQ(reinterpret_cast<const char *>(xmlFirstElementChild(document.root())->name),
               "netconf");
}

} // namespace

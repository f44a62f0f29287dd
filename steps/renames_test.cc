#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/run_state.h"
#include "engine/namespace_config.h"
#include "engine/version.h"
#include "engine/walk.h"
#include "steps/steps.h"
#include "tests/test_document.h"

namespace {

using Lines = std::vector<std::string>;

#define CONFIG_NS CFGMIGRATE_STORE_NS_BASE "/ns/config/1.0"
#define VENDOR_NS CFGMIGRATE_VENDOR_NS_BASE "/ns/orvalis/"
#define NETCONF_NS VENDOR_NS "netconf"
#define RESTCONF_NS VENDOR_NS "restconf"

// Walks the real table from `source` to `target` over the installed
// document and returns the log lines.
Lines migrate(const char *source, const char *target) {
  EXPECT_NE(run.root, nullptr) << "no document installed";
  LogCapture log;
  run.source_version = parse_version(source);
  run.target_version = parse_version(target);
  run_migration();
  run.source_version = 0;
  run.target_version = 0;
  return log.texts();
}

// A document of v1.4.07: both containers under their old names, with
// attributes and content, between other modules' subtrees; a firewall leaf
// named netconf; a netconf element of another namespace.
const char v1_4_07[] =
    "<config xmlns=\"" CONFIG_NS "\">"
    "<basic xmlns=\"" VENDOR_NS "fw-basic-settings\"><firewall><remote-web-management>"
    "<netconf>true</netconf></remote-web-management></firewall></basic>"
    "<netconf xmlns=\"" NETCONF_NS "\" mode=\"x\"><enabled>true</enabled>"
    "<netconf-zone>wan</netconf-zone></netconf>"
    "<wifi xmlns=\"" VENDOR_NS "wifi\"/>"
    "<restconf xmlns=\"" RESTCONF_NS "\"><enabled>false</enabled></restconf>"
    "<netconf xmlns=\"" VENDOR_NS "netconf-old\"/>"
    "</config>";

// The same document as v1.4.09 writes it.
const char v1_4_09_saved[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<config xmlns=\"" CONFIG_NS "\">\n"
                             "  <basic xmlns=\"" VENDOR_NS "fw-basic-settings\">\n"
                             "    <firewall>\n"
                             "      <remote-web-management>\n"
                             "        <netconf>true</netconf>\n"
                             "      </remote-web-management>\n"
                             "    </firewall>\n"
                             "  </basic>\n"
                             "  <orvalis-netconf xmlns=\"" NETCONF_NS "\" mode=\"x\">\n"
                             "    <enabled>true</enabled>\n"
                             "    <netconf-zone>wan</netconf-zone>\n"
                             "  </orvalis-netconf>\n"
                             "  <wifi xmlns=\"" VENDOR_NS "wifi\"/>\n"
                             "  <orvalis-restconf xmlns=\"" RESTCONF_NS "\">\n"
                             "    <enabled>false</enabled>\n"
                             "  </orvalis-restconf>\n"
                             "  <netconf xmlns=\"" VENDOR_NS "netconf-old\"/>\n"
                             "</config>\n";

TEST(RenamesTest, UpgradeRenamesBothContainersInPlace) {
  TestDocument document(v1_4_07);
  ASSERT_TRUE(document.parsed());
  EXPECT_EQ(migrate("v1.4.07", "v1.4.09"),
            (Lines{"cfgmigrate(N): upgraded to v1.4.08", "cfgmigrate(N): upgraded to v1.4.09",
                   "cfgmigrate(N): final version:v1.4.9.0"}));
  EXPECT_EQ(document.save(), v1_4_09_saved);
}

TEST(RenamesTest, DowngradeRestoresBothNames) {
  TestDocument original(v1_4_07);
  const std::string expected = original.save();
  TestDocument document(v1_4_09_saved);
  ASSERT_TRUE(document.parsed());
  EXPECT_EQ(
      migrate("v1.4.09", "v1.4.07"),
      (Lines{"cfgmigrate(N): downgrading..", "cfgmigrate(N): downgraded to v1.4.08",
             "cfgmigrate(N): downgraded to v1.4.07", "cfgmigrate(N): final version:v1.4.7.0"}));
  EXPECT_EQ(document.save(), expected);
}

TEST(RenamesTest, UpThenDownGivesTheSameTree) {
  TestDocument original(v1_4_07);
  const std::string expected = original.save();
  TestDocument document(v1_4_07);
  migrate("v1.4.07", "v1.4.09");
  migrate("v1.4.09", "v1.4.07");
  EXPECT_EQ(document.save(), expected);
}

TEST(RenamesTest, DowngradeToV1_4_08RenamesOnlyRestconf) {
  TestDocument document(v1_4_09_saved);
  migrate("v1.4.09", "v1.4.08");
  const std::string saved = document.save();
  EXPECT_NE(saved.find("<orvalis-netconf xmlns=\"" NETCONF_NS "\" mode=\"x\">"), std::string::npos);
  EXPECT_NE(saved.find("<restconf xmlns=\"" RESTCONF_NS "\">"), std::string::npos);
  EXPECT_EQ(saved.find("orvalis-restconf"), std::string::npos);
}

TEST(RenamesTest, OnlyRootChildrenOfTheModuleNamespace) {
  const char text[] = "<config xmlns=\"" CONFIG_NS "\">"
                      "<wrapper><netconf xmlns=\"" NETCONF_NS "\"/>"
                      "<restconf xmlns=\"" RESTCONF_NS "\"/></wrapper>"
                      "<netconf xmlns=\"" RESTCONF_NS "\"/>"
                      "<restconf xmlns=\"" NETCONF_NS "\"/>"
                      "<netconf/>"
                      "</config>";
  const std::string expected = TestDocument(text).save();
  TestDocument document(text);
  migrate("v1.4.07", "v1.4.09");
  EXPECT_EQ(document.save(), expected);
}

TEST(RenamesTest, EveryMatchingChildIsRenamed) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\">"
                        "<netconf xmlns=\"" NETCONF_NS "\"><a/></netconf>"
                        "<netconf xmlns=\"" NETCONF_NS "\"><b/></netconf>"
                        "</config>");
  migrate("v1.4.07", "v1.4.08");
  EXPECT_EQ(document.save(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<config xmlns=\"" CONFIG_NS "\">\n"
                             "  <orvalis-netconf xmlns=\"" NETCONF_NS "\">\n"
                             "    <a/>\n"
                             "  </orvalis-netconf>\n"
                             "  <orvalis-netconf xmlns=\"" NETCONF_NS "\">\n"
                             "    <b/>\n"
                             "  </orvalis-netconf>\n"
                             "</config>\n");
}

// The prefix is bound on the element itself rather than inherited.
TEST(RenamesTest, PrefixedElementsKeepTheirPrefix) {
  TestDocument document("<c:config xmlns:c=\"" CONFIG_NS "\" xmlns:n=\"" NETCONF_NS "\">"
                        "<n:netconf n:a=\"1\"/></c:config>");
  migrate("v1.4.07", "v1.4.08");
  EXPECT_EQ(document.save(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<c:config xmlns:c=\"" CONFIG_NS "\" xmlns:n=\"" NETCONF_NS "\">\n"
                             "  <n:orvalis-netconf n:a=\"1\"/>\n"
                             "</c:config>\n");
}

// A restconf container made by the management access step has no
// namespace until the file is read again, so the rename of the same run
// leaves it; the one the input held is renamed.
TEST(RenamesTest, RestconfMadeInTheSameRunKeepsItsName) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\">"
                        "<restconf xmlns=\"" RESTCONF_NS "\"/>"
                        "</config>");
  migrate("v1.0.16-20170810", "v1.4.09");
  const std::string saved = document.save();
  EXPECT_NE(saved.find("<orvalis-restconf xmlns=\"" RESTCONF_NS "\"/>"), std::string::npos);
  EXPECT_NE(saved.find("<restconf xmlns=\"" RESTCONF_NS "\">"), std::string::npos);
}

TEST(RenamesTest, HandlersReturnTheirLabelsAndLogOnlyFailures) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\"/>");
  LogCapture log(0);
  EXPECT_STREQ(step_rename_netconf(0), "v1.4.08");
  EXPECT_STREQ(step_rename_netconf(1), "v1.4.07");
  EXPECT_STREQ(step_rename_restconf(0), "v1.4.09");
  EXPECT_STREQ(step_rename_restconf(2), "v1.4.08");
  EXPECT_TRUE(log.lines().empty());

  // Without the prefixes the expressions cannot be evaluated.
  run.xpath_context = nullptr;
  EXPECT_STREQ(step_rename_netconf(0), "v1.4.08");
  EXPECT_STREQ(step_rename_netconf(1), "v1.4.07");
  EXPECT_STREQ(step_rename_restconf(0), "v1.4.09");
  EXPECT_STREQ(step_rename_restconf(1), "v1.4.08");
  EXPECT_EQ(
      log.texts(),
      (Lines{"cfgmigrate(N): Error: unable to evaluate xpath expression \"./netconf:netconf\"\n",
             "cfgmigrate(N): Error: unable to evaluate xpath expression "
             "\"./netconf:orvalis-netconf\"\n",
             "cfgmigrate(N): Error: unable to evaluate xpath expression \"./restconf:restconf\"\n",
             "cfgmigrate(N): Error: unable to evaluate xpath expression "
             "\"./restconf:orvalis-restconf\"\n"}));
}

} // namespace

#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "cli/run_state.h"
#include "steps/steps.h"
#include "tests/step_support.h"
#include "toolkit/xpath.h"

namespace {

using MgmtAccessTest = StepTest;

// The four switches; a null text leaves the leaf out.
struct Switches {
  const char *lan_rest;
  const char *remote_rest;
  const char *lan_netconf;
  const char *remote_netconf;
};

std::string leaf(const char *name, const char *text) {
  if (!text)
    return "";
  return std::string("<") + name + ">" + text + "</" + name + ">";
}

std::string firewall(const Switches &s) {
  return "<firewall xmlns='@fwbs@'><lan-vpn-web-management>" + leaf("rest", s.lan_rest) +
         leaf("netconf", s.lan_netconf) + "</lan-vpn-web-management><remote-web-management>" +
         leaf("rest", s.remote_rest) + leaf("netconf", s.remote_netconf) +
         "</remote-web-management></firewall>";
}

const char netconf_before[] = "<netconf xmlns='@netconf@'><enabled>true</enabled>";

struct SwitchCase {
  const char *name;
  Switches switches;
  const char *netconf_zones; // appended to the netconf container
  const char *restconf;      // the restconf element's children
};

void PrintTo(const SwitchCase &c, std::ostream *out) { *out << c.name; }

const SwitchCase switch_cases[] = {
    {"MixedOnOff",
     {"true", "false", "false", "true"},
     "<netconf-zone>wan</netconf-zone>",
     "<restconf-zone>lan-vpn</restconf-zone><enabled>true</enabled>"},
    {"BothRestOnInZoneOrder",
     {"true", "true", nullptr, nullptr},
     "",
     "<restconf-zone>lan-vpn</restconf-zone><restconf-zone>wan</restconf-zone>"
     "<enabled>true</enabled>"},
    {"RemoteRestAloneEnables",
     {"false", "true", nullptr, nullptr},
     "",
     "<restconf-zone>wan</restconf-zone><enabled>true</enabled>"},
    {"BothNetconfOnInZoneOrder",
     {nullptr, nullptr, "true", "true"},
     "<netconf-zone>lan-vpn</netconf-zone><netconf-zone>wan</netconf-zone>",
     "<enabled>false</enabled>"},
    {"NothingOn", {"false", "false", "false", "false"}, "", "<enabled>false</enabled>"},
    {"NoLeavesAtAll", {nullptr, nullptr, nullptr, nullptr}, "", "<enabled>false</enabled>"},
    {"OnlyExactTrueCounts", {"TRUE", " true", "true ", "True"}, "", "<enabled>false</enabled>"},
    {"EmptyLeavesAreOff", {"", "", "", ""}, "", "<enabled>false</enabled>"},
};

class MgmtAccessSwitchTest : public StepTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(MgmtAccessSwitchTest, CarriesSwitchesOverAndRemovesThem) {
  const SwitchCase &c = GetParam();
  load("<config xmlns='@config@'>" + firewall(c.switches) + netconf_before + "</netconf></config>");

  EXPECT_STREQ(step_mgmt_access(0), "v1.0.17-20170907");

  // The zone containers stay, emptied; restconf becomes the root's last child.
  EXPECT_EQ(saved(), normalised("<config xmlns='@config@'>" + firewall({}) + netconf_before +
                                c.netconf_zones + "</netconf><restconf xmlns='@restconf@'>" +
                                c.restconf + "</restconf></config>"));
  EXPECT_TRUE(log_.lines().empty());
}

INSTANTIATE_TEST_SUITE_P(, MgmtAccessSwitchTest, ::testing::ValuesIn(switch_cases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(MgmtAccessTest, NoFirewallStillGetsDisabledRestconf) {
  load("<config xmlns='@config@'><other/></config>");
  step_mgmt_access(0);
  EXPECT_EQ(saved(), normalised("<config xmlns='@config@'><other/><restconf "
                                "xmlns='@restconf@'><enabled>false</enabled></restconf></config>"));
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(MgmtAccessTest, OnlyTheFirstLeafIsReadButEveryOneRemoved) {
  load("<config xmlns='@config@'><firewall xmlns='@fwbs@'><lan-vpn-web-management>"
       "<rest>false</rest><rest>true</rest><netconf>false</netconf><netconf>true</netconf>"
       "<keep>x</keep></lan-vpn-web-management></firewall>" +
       std::string(netconf_before) + "</netconf></config>");
  step_mgmt_access(0);
  EXPECT_EQ(saved(), normalised("<config xmlns='@config@'><firewall xmlns='@fwbs@'>"
                                "<lan-vpn-web-management><keep>x</keep></lan-vpn-web-management>"
                                "</firewall>" +
                                std::string(netconf_before) +
                                "</netconf><restconf xmlns='@restconf@'>"
                                "<enabled>false</enabled></restconf></config>"));
}

TEST_F(MgmtAccessTest, LeavesOfOtherModulesAndPlacesAreNotSwitches) {
  // Same local names, but outside the fw-basic-settings firewall path.
  const std::string input =
      "<config xmlns='@config@'><firewall xmlns='@wifi@'><lan-vpn-web-management>"
      "<rest>true</rest></lan-vpn-web-management></firewall><f:firewall xmlns:f='@fwbs@'>"
      "<f:rest>true</f:rest></f:firewall>" +
      std::string(netconf_before) + "</netconf></config>";
  load(input);
  step_mgmt_access(0);
  std::string expected = input;
  expected.insert(expected.rfind("</config>"),
                  "<restconf xmlns='@restconf@'><enabled>false</enabled></restconf>");
  EXPECT_EQ(saved(), normalised(expected));
}

TEST_F(MgmtAccessTest, ExistingRestconfGetsASecondOneLast) {
  load("<config xmlns='@config@'><restconf xmlns='@restconf@'><enabled>true</enabled>"
       "</restconf><other/></config>");
  step_mgmt_access(0);
  EXPECT_EQ(saved(), normalised("<config xmlns='@config@'><restconf xmlns='@restconf@'>"
                                "<enabled>true</enabled></restconf><other/><restconf "
                                "xmlns='@restconf@'><enabled>false</enabled></restconf>"
                                "</config>"));
}

TEST_F(MgmtAccessTest, NetconfZonesGoToTheFirstNetconfContainerOnly) {
  load("<config xmlns='@config@'>" + firewall({nullptr, nullptr, "true", nullptr}) +
       "<fwbs-netconf xmlns='@fwbs@'/><netconf xmlns='@netconf@'/>"
       "<netconf xmlns='@netconf@'/></config>");
  step_mgmt_access(0);
  EXPECT_EQ(saved(), normalised("<config xmlns='@config@'>" + firewall({}) +
                                "<fwbs-netconf xmlns='@fwbs@'/><netconf xmlns='@netconf@'>"
                                "<netconf-zone>lan-vpn</netconf-zone></netconf>"
                                "<netconf xmlns='@netconf@'/><restconf xmlns='@restconf@'>"
                                "<enabled>false</enabled></restconf></config>"));
}

TEST_F(MgmtAccessTest, NoNetconfContainerStillDropsNetconfSwitches) {
  load("<config xmlns='@config@'>" + firewall({nullptr, nullptr, "true", "true"}) + "</config>");
  step_mgmt_access(0);
  EXPECT_EQ(
      saved(),
      normalised("<config xmlns='@config@'>" + firewall({}) +
                 "<restconf xmlns='@restconf@'><enabled>false</enabled></restconf></config>"));
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(MgmtAccessTest, NewElementsStayOutsideTheNamespaceInMemory) {
  load("<config xmlns='@config@'>" + firewall({"true", nullptr, "true", nullptr}) + netconf_before +
       "</netconf></config>");
  step_mgmt_access(0);

  xmlNode *restconf = xmlGetLastChild(run.root);
  ASSERT_NE(restconf, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char *>(restconf->name), "restconf");
  EXPECT_EQ(restconf->ns, nullptr);
  xmlChar *uri = xmlGetNoNsProp(restconf, BAD_CAST "xmlns");
  EXPECT_EQ(reinterpret_cast<const char *>(uri), with_namespaces("@restconf@"));
  xmlFree(uri);
  for (xmlNode *child = restconf->children; child; child = child->next)
    EXPECT_EQ(child->ns, nullptr) << child->name;
  // Only a later parse of the saved file puts it into the namespace.
  EXPECT_TRUE(nodeset_is_empty(xpath_eval(run.root, "./restconf:restconf")));

  // The zone is made inside the netconf container's namespace.
  XPathResult zones = xpath_eval(run.root, "./netconf:netconf/netconf:netconf-zone");
  EXPECT_EQ(nodeset_count(zones), 1);
}

TEST_F(MgmtAccessTest, ReverseChangesNothing) {
  const std::string input = "<config xmlns='@config@'>" +
                            firewall({"true", "true", "true", "true"}) + netconf_before +
                            "</netconf></config>";
  load(input);
  EXPECT_STREQ(step_mgmt_access(1), "v1.0.16-20170810");
  EXPECT_EQ(saved(), normalised(input));
}

// Keeping the REST switches when there is no restconf element to carry
// them is our choice; the NETCONF half runs as usual.
TEST_F(MgmtAccessTest, NoRestconfElementKeepsRestSwitches) {
  load("<config xmlns='@config@'>" + firewall({"true", "true", "true", "true"}) + netconf_before +
       "</netconf></config>");
  {
    FailNodeAllocations no_restconf(1);
    step_mgmt_access(0);
  }
  EXPECT_EQ(saved(),
            normalised("<config xmlns='@config@'><firewall xmlns='@fwbs@'>"
                       "<lan-vpn-web-management><rest>true</rest></lan-vpn-web-management>"
                       "<remote-web-management><rest>true</rest></remote-web-management>"
                       "</firewall>" +
                       std::string(netconf_before) +
                       "<netconf-zone>lan-vpn</netconf-zone><netconf-zone>wan</netconf-zone>"
                       "</netconf></config>"));
  EXPECT_EQ(log_.texts(),
            (std::vector<std::string>{"cfgmigrate(N): Error: can not create a new node",
                                      "cfgmigrate(N): Error: get a NULL Node"}));
}

} // namespace

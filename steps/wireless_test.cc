#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "cli/run_state.h"
#include "steps/steps.h"
#include "tests/step_support.h"
#include "toolkit/xpath.h"

namespace {

// ---- MAC filter action ------------------------------------------------

const EditCase mac_filter_cases[] = {
    {"FirstEntryActionWins",
     "<wlans xmlns='@wifi@'><ssid><name>a</name><mac-filter>"
     "<filtered-macs><mac>1</mac><action>allow</action></filtered-macs>"
     "<filtered-macs><mac>2</mac><action>block</action></filtered-macs>"
     "</mac-filter></ssid></wlans>",
     "<wlans xmlns='@wifi@'><ssid><name>a</name><mac-filter>"
     "<filtered-macs><mac>1</mac><action>allow</action></filtered-macs>"
     "<filtered-macs><mac>2</mac><action>block</action></filtered-macs>"
     "<action>allow</action></mac-filter></ssid></wlans>"},
    {"FirstActionInDocumentOrderNotFirstEntry",
     "<wlans xmlns='@wifi@'><ssid><mac-filter><filtered-macs><mac>1</mac></filtered-macs>"
     "<filtered-macs><action>allow</action></filtered-macs></mac-filter></ssid></wlans>",
     "<wlans xmlns='@wifi@'><ssid><mac-filter><filtered-macs><mac>1</mac></filtered-macs>"
     "<filtered-macs><action>allow</action></filtered-macs><action>allow</action>"
     "</mac-filter></ssid></wlans>"},
    {"NoEntriesGiveBlock", "<wlans xmlns='@wifi@'><ssid><mac-filter/></ssid></wlans>",
     "<wlans xmlns='@wifi@'><ssid><mac-filter><action>block</action></mac-filter></ssid>"
     "</wlans>"},
    {"EntriesWithoutActionGiveBlock",
     "<wlans xmlns='@wifi@'><ssid><mac-filter><filtered-macs><mac>1</mac></filtered-macs>"
     "</mac-filter></ssid></wlans>",
     "<wlans xmlns='@wifi@'><ssid><mac-filter><filtered-macs><mac>1</mac></filtered-macs>"
     "<action>block</action></mac-filter></ssid></wlans>"},
    {"EmptyOldActionGivesEmptyNewOne",
     "<wlans xmlns='@wifi@'><ssid><mac-filter><filtered-macs><action/></filtered-macs>"
     "</mac-filter></ssid></wlans>",
     "<wlans xmlns='@wifi@'><ssid><mac-filter><filtered-macs><action/></filtered-macs>"
     "<action/></mac-filter></ssid></wlans>"},
    {"TextIsCopiedWhole",
     "<wlans xmlns='@wifi@'><ssid><mac-filter><filtered-macs><action> a&amp;b<!--c-->d "
     "</action></filtered-macs></mac-filter></ssid></wlans>",
     "<wlans xmlns='@wifi@'><ssid><mac-filter><filtered-macs><action> a&amp;b<!--c-->d "
     "</action></filtered-macs><action> a&amp;bd </action></mac-filter></ssid></wlans>"},
    {"NoOrTwoFiltersPassedOver",
     "<wlans xmlns='@wifi@'><ssid><name>none</name></ssid><ssid><mac-filter/><mac-filter/>"
     "</ssid><ssid><mac-filter/></ssid></wlans>",
     "<wlans xmlns='@wifi@'><ssid><name>none</name></ssid><ssid><mac-filter/><mac-filter/>"
     "</ssid><ssid><mac-filter><action>block</action></mac-filter></ssid></wlans>"},
    {"EverySsidGetsItsOwn",
     "<wlans xmlns='@wifi@'><ssid><mac-filter><filtered-macs><action>a</action>"
     "</filtered-macs></mac-filter></ssid><ssid><mac-filter><filtered-macs><action>b</action>"
     "</filtered-macs></mac-filter></ssid><ssid><mac-filter/></ssid></wlans>",
     "<wlans xmlns='@wifi@'><ssid><mac-filter><filtered-macs><action>a</action>"
     "</filtered-macs><action>a</action></mac-filter></ssid><ssid><mac-filter><filtered-macs>"
     "<action>b</action></filtered-macs><action>b</action></mac-filter></ssid><ssid>"
     "<mac-filter><action>block</action></mac-filter></ssid></wlans>"},
    {"ExistingActionGetsAnother",
     "<wlans xmlns='@wifi@'><ssid><mac-filter><action>allow</action></mac-filter></ssid>"
     "</wlans>",
     "<wlans xmlns='@wifi@'><ssid><mac-filter><action>allow</action><action>block</action>"
     "</mac-filter></ssid></wlans>"},
    {"OtherNamespacesUntouched",
     "<wlans xmlns='@netconf@'><ssid><mac-filter/></ssid></wlans>"
     "<w:wlans xmlns:w='@wifi@'><ssid xmlns='@netconf@'><mac-filter/></ssid></w:wlans>",
     "<wlans xmlns='@netconf@'><ssid><mac-filter/></ssid></wlans>"
     "<w:wlans xmlns:w='@wifi@'><ssid xmlns='@netconf@'><mac-filter/></ssid></w:wlans>"},
    {"NewActionTakesTheFilterNamespace",
     "<w:wlans xmlns:w='@wifi@'><w:ssid><w:mac-filter/></w:ssid></w:wlans>",
     "<w:wlans xmlns:w='@wifi@'><w:ssid><w:mac-filter><w:action>block</w:action>"
     "</w:mac-filter></w:ssid></w:wlans>"},
};

class MacFilterActionTest : public StepTest, public ::testing::WithParamInterface<EditCase> {};

TEST_P(MacFilterActionTest, Edits) {
  load(config(GetParam().input));
  EXPECT_STREQ(step_mac_filter_action(0), "v1.0.17-20170920");
  EXPECT_EQ(saved(), normalised(config(GetParam().expected)));
  EXPECT_TRUE(log_.lines().empty());
}

INSTANTIATE_TEST_SUITE_P(, MacFilterActionTest, ::testing::ValuesIn(mac_filter_cases),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Auto channel -----------------------------------------------------

const EditCase auto_channel_cases[] = {
    {"ChannelPresentOrAbsent",
     "<interfaces xmlns='urn:ietf:params:xml:ns:yang:ietf-interfaces'>"
     "<interface><name>WLAN1</name><radio xmlns='@wifi@'><mode>n</mode></radio></interface>"
     "<interface><name>WLAN0</name><radio xmlns='@wifi@'><channel>6</channel></radio>"
     "</interface></interfaces>",
     "<interfaces xmlns='urn:ietf:params:xml:ns:yang:ietf-interfaces'>"
     "<interface><name>WLAN1</name><radio xmlns='@wifi@'><mode>n</mode>"
     "<autoChannel-enable>true</autoChannel-enable></radio></interface>"
     "<interface><name>WLAN0</name><radio xmlns='@wifi@'><channel>6</channel>"
     "<autoChannel-enable>false</autoChannel-enable></radio></interface></interfaces>"},
    {"EmptyChannelCounts",
     "<interfaces xmlns='@if@'><interface><name>WLAN0</name><radio xmlns='@wifi@'><channel/>"
     "</radio></interface></interfaces>",
     "<interfaces xmlns='@if@'><interface><name>WLAN0</name><radio xmlns='@wifi@'><channel/>"
     "<autoChannel-enable>false</autoChannel-enable></radio></interface></interfaces>"},
    {"OtherNamesAndNoRadioUntouched",
     "<interfaces xmlns='@if@'><interface><name>WLAN2</name><radio xmlns='@wifi@'/>"
     "</interface><interface><name>wlan0</name><radio xmlns='@wifi@'/></interface>"
     "<interface><name>WLAN1 </name><radio xmlns='@wifi@'/></interface>"
     "<interface><name>WLAN0</name><r:radio xmlns:r='@netconf@'/></interface></interfaces>",
     "<interfaces xmlns='@if@'><interface><name>WLAN2</name><radio xmlns='@wifi@'/>"
     "</interface><interface><name>wlan0</name><radio xmlns='@wifi@'/></interface>"
     "<interface><name>WLAN1 </name><radio xmlns='@wifi@'/></interface>"
     "<interface><name>WLAN0</name><r:radio xmlns:r='@netconf@'/></interface></interfaces>"},
    // The channel is looked up over every WLAN0 entry, the leaf goes to the
    // first radio only.
    {"DuplicateNamesFirstRadioOnly",
     "<interfaces xmlns='@if@'><interface><name>WLAN0</name><radio xmlns='@wifi@'/>"
     "</interface><interface><name>WLAN0</name><radio xmlns='@wifi@'><channel>1</channel>"
     "</radio></interface></interfaces>",
     "<interfaces xmlns='@if@'><interface><name>WLAN0</name><radio xmlns='@wifi@'>"
     "<autoChannel-enable>false</autoChannel-enable></radio></interface><interface>"
     "<name>WLAN0</name><radio xmlns='@wifi@'><channel>1</channel></radio></interface>"
     "</interfaces>"},
    {"ExistingLeafGetsAnother",
     "<interfaces xmlns='@if@'><interface><name>WLAN1</name><w:radio xmlns:w='@wifi@'>"
     "<w:autoChannel-enable>false</w:autoChannel-enable></w:radio></interface></interfaces>",
     "<interfaces xmlns='@if@'><interface><name>WLAN1</name><w:radio xmlns:w='@wifi@'>"
     "<w:autoChannel-enable>false</w:autoChannel-enable><w:autoChannel-enable>true"
     "</w:autoChannel-enable></w:radio></interface></interfaces>"},
};

class AutoChannelTest : public StepTest, public ::testing::WithParamInterface<EditCase> {};

TEST_P(AutoChannelTest, Edits) {
  load(config(GetParam().input));
  EXPECT_STREQ(step_auto_channel(0), "v1.0.24-20171219");
  EXPECT_EQ(saved(), normalised(config(GetParam().expected)));
  EXPECT_TRUE(log_.lines().empty());
}

INSTANTIATE_TEST_SUITE_P(, AutoChannelTest, ::testing::ValuesIn(auto_channel_cases),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Reverse ----------------------------------------------------------

using WirelessTest = StepTest;

TEST_F(WirelessTest, ReverseChangesNothing) {
  const std::string input =
      config("<wlans xmlns='@wifi@'><ssid><mac-filter/></ssid></wlans><interfaces "
             "xmlns='@if@'><interface><name>WLAN0</name><radio xmlns='@wifi@'/></interface>"
             "</interfaces>");
  load(input);
  EXPECT_STREQ(step_mac_filter_action(1), "v1.0.17-20170913");
  EXPECT_STREQ(step_auto_channel(1), "v1.0.22-20171129");
  EXPECT_EQ(saved(), normalised(input));
}

} // namespace

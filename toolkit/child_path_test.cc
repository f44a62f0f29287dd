#include "toolkit/child_path.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/run_state.h"
#include "engine/namespace_config.h"
#include "tests/test_document.h"

namespace {

#define CONFIG_NS CFGMIGRATE_STORE_NS_BASE "/ns/config/1.0"
#define VENDOR_NS CFGMIGRATE_VENDOR_NS_BASE "/ns/orvalis/"
#define IF_NS "urn:ietf:params:xml:ns:yang:ietf-interfaces"

// Elements of the step modules and traps for a walk: the same local names
// in other namespaces, nested same names, a prefixed declaration, text
// split by comments and CDATA, an entity reference, empty names.
const char document_text[] =
    "<!DOCTYPE config [<!ENTITY wlan 'WLAN0'>]>"
    "<config xmlns=\"" CONFIG_NS "\">\n"
    "  <wlans xmlns=\"" VENDOR_NS "wifi\">\n"
    "    <ssid><name>a</name><mac-filter><filtered-macs><action>allow</action>"
    "</filtered-macs><filtered-macs><action>block</action></filtered-macs></mac-filter></ssid>\n"
    "    <ssid><name>b</name><mac-filter xmlns=\"urn:other\"/></ssid>\n"
    "    <ssid><mac-filter/><mac-filter><filtered-macs/></mac-filter></ssid>\n"
    "    <ssid><ssid/><!-- no filter --></ssid>\n"
    "  </wlans>\n"
    "  <w:wlans xmlns:w=\"" VENDOR_NS "wifi\"><w:ssid/></w:wlans>\n"
    "  <wlans xmlns=\"urn:other\"><ssid/></wlans>\n"
    "  <interfaces xmlns=\"" IF_NS "\">\n"
    "    <interface><name>WLAN1</name><radio xmlns=\"" VENDOR_NS "wifi\"/></interface>\n"
    "    <interface><name>WLAN0</name><radio xmlns=\"" VENDOR_NS "wifi\"><channel/></radio>"
    "<radio xmlns=\"" VENDOR_NS "wifi\"><channel>6</channel><channel/></radio></interface>\n"
    "    <interface><name>WLAN0</name><name>x</name><radio xmlns=\"" VENDOR_NS "wifi\"/>"
    "</interface>\n"
    "    <interface><name/><radio xmlns=\"" VENDOR_NS "wifi\"/></interface>\n"
    "    <interface><name><![CDATA[WLAN1]]></name><radio xmlns=\"" VENDOR_NS "wifi\"/>"
    "</interface>\n"
    "    <interface><name>WLAN 0</name></interface>\n"
    "    <interface><name xmlns=\"urn:other\">WLAN0</name>"
    "<radio xmlns=\"" VENDOR_NS "wifi\"/></interface>\n"
    "  </interfaces>\n"
    "  <interfaces xmlns=\"" IF_NS "\">\n"
    "    <interface><name>WLAN1</name><radio xmlns=\"" VENDOR_NS "wifi\"><channel/></radio>"
    "</interface>\n"
    "  </interfaces>\n"
    "</config>";

// Names split by a comment or made of an entity: libxml2 decides those.
const char undecided_text[] = "<!DOCTYPE config [<!ENTITY wlan 'WLAN0'>]>"
                              "<config xmlns=\"" CONFIG_NS "\">"
                              "<interfaces xmlns=\"" IF_NS "\">"
                              "<interface><name>WL<!-- -->AN0</name></interface>"
                              "<interface><name>&wlan;</name></interface>"
                              "</interfaces></config>";

std::vector<xmlNode *> nodes_of(const xmlXPathObject *result) {
  std::vector<xmlNode *> nodes;
  if (result && result->nodesetval) {
    for (int i = 0; i < result->nodesetval->nodeNr; ++i)
      nodes.push_back(result->nodesetval->nodeTab[i]);
  }
  return nodes;
}

// Every element of the document, in document order: each is tried as the
// context node.
void collect_elements(xmlNode *node, std::vector<xmlNode *> *elements) {
  for (; node; node = node->next) {
    if (node->type != XML_ELEMENT_NODE)
      continue;
    elements->push_back(node);
    collect_elements(node->children, elements);
  }
}

const char *const walked_expressions[] = {
    "./wifi:wlans/wifi:ssid",
    "./wifi:mac-filter",
    "wifi:filtered-macs/wifi:action",
    "./wifi:wlans/wifi:ssid/wifi:mac-filter/wifi:filtered-macs/wifi:action",
    "./if:interfaces/if:interface[if:name='WLAN0']/wifi:radio/wifi:channel",
    "./if:interfaces/if:interface[if:name='WLAN0']/wifi:radio",
    "./if:interfaces/if:interface[if:name='WLAN1']/wifi:radio",
    "./if:interfaces/if:interface[if:name=\"WLAN1\"]/wifi:radio/wifi:channel",
    "./if:interfaces/if:interface[if:name='']/wifi:radio",
    "./if:interfaces/if:interface[if:name='WLAN 0']",
    "./wifi:ssid",
    "wifi:ssid/wifi:ssid",
    "./config:wlans",
    "./netconf:netconf",
};

TEST(ChildPathTest, WalkGivesLibxml2sNodesInOrderFromEveryContextNode) {
  TestDocument document(document_text);
  ASSERT_TRUE(document.parsed());
  std::vector<xmlNode *> contexts;
  collect_elements(document.root(), &contexts);
  int non_empty = 0;
  for (const char *expression : walked_expressions) {
    for (xmlNode *context : contexts) {
      SCOPED_TRACE(std::string(expression) + " from " +
                   reinterpret_cast<const char *>(context->name));
      xmlXPathObject *walked = eval_child_path(context, expression, run.xpath_context);
      ASSERT_NE(walked, nullptr);
      xmlXPathObject *evaluated = xmlXPathNodeEval(
          context, reinterpret_cast<const xmlChar *>(expression), run.xpath_context);
      ASSERT_NE(evaluated, nullptr);
      EXPECT_EQ(nodes_of(walked), nodes_of(evaluated));
      ASSERT_NE(walked->nodesetval, nullptr);
      non_empty += walked->nodesetval->nodeNr > 0;
      xmlXPathFreeObject(walked);
      xmlXPathFreeObject(evaluated);
    }
  }
  // The comparison is worth something only where nodes were found.
  EXPECT_GE(non_empty, 12);
}

TEST(ChildPathTest, TestPicksInterfacesByExactName) {
  TestDocument document(document_text);
  xmlXPathObject *radios =
      eval_child_path(document.root(), "./if:interfaces/if:interface[if:name='WLAN0']/wifi:radio",
                      run.xpath_context);
  // Two radios of the second interface, one of the third (whose second
  // name does not matter); not the one whose name is in another namespace.
  ASSERT_NE(radios, nullptr);
  EXPECT_EQ(nodes_of(radios).size(), 3u);
  xmlXPathFreeObject(radios);
}

TEST(ChildPathTest, LeavesOtherFormsAndUnknownPrefixesToLibxml2) {
  TestDocument document(document_text);
  const char *const declined[] = {
      "./nosuch:wlans",
      "./wifi:wlans/nosuch:ssid",
      "./if:interfaces/if:interface[nosuch:name='WLAN0']",
      "count(./wifi:wlans)",
      "./wifi:wlans//wifi:ssid",
      "/config:config",
      ".",
      "./",
      "./wifi:wlans/",
      "./wifi:*",
      "./wlans",
      "./wifi:wlans/wifi:ssid[1]",
      "./if:interfaces/if:interface[if:name = 'WLAN0']",
      "./if:interfaces/if:interface[if:name='WLAN0'",
      "./if:interfaces/if:interface[if:name='WLAN0\"]",
      "./wifi:wlans/wifi:ssid/@name",
      "./wifi:wlans | ./wifi:wlans",
      "./wifi:a/wifi:a/wifi:a/wifi:a/wifi:a/wifi:a/wifi:a/wifi:a/wifi:a",
      "",
  };
  for (const char *expression : declined) {
    SCOPED_TRACE(expression);
    EXPECT_EQ(eval_child_path(document.root(), expression, run.xpath_context), nullptr);
  }
  EXPECT_EQ(eval_child_path(nullptr, "./wifi:wlans", run.xpath_context), nullptr);
  EXPECT_EQ(eval_child_path(document.root(), "./wifi:wlans", nullptr), nullptr);
  EXPECT_EQ(eval_child_path(document.root()->children, "./wifi:wlans", run.xpath_context),
            nullptr); // a text node
}

TEST(ChildPathTest, NamesThatAreNoPlainTextAreLeftToLibxml2) {
  TestDocument document(undecided_text);
  ASSERT_TRUE(document.parsed());
  EXPECT_EQ(eval_child_path(document.root(), "./if:interfaces/if:interface[if:name='WLAN0']",
                            run.xpath_context),
            nullptr);
}

} // namespace

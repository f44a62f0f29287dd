#include "toolkit/xpath.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/run_state.h"
#include "engine/namespace_config.h"
#include "tests/test_document.h"

namespace {

using Lines = std::vector<std::string>;

#define CONFIG_NS CFGMIGRATE_STORE_NS_BASE "/ns/config/1.0"
#define VENDOR_NS CFGMIGRATE_VENDOR_NS_BASE "/ns/orvalis/"
#define XML_DECLARATION "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"

std::string name_of(const xmlNode *node) {
  return node ? reinterpret_cast<const char *>(node->name) : "(none)";
}

// The names of the element children of `parent`, in order.
std::vector<std::string> child_names(const xmlNode *parent) {
  std::vector<std::string> names;
  for (const xmlNode *child = parent ? parent->children : nullptr; child; child = child->next) {
    if (child->type == XML_ELEMENT_NODE)
      names.push_back(name_of(child));
  }
  return names;
}

std::string namespace_of(const xmlNode *node) {
  return node && node->ns ? reinterpret_cast<const char *>(node->ns->href) : "";
}

const char siblings[] = "<config xmlns=\"" CONFIG_NS "\">"
                        "<keep/><x>1</x><x>2</x><keep/><x>3</x>"
                        "</config>";

TEST(NodesetTest, NullResultAndNullNodeSet) {
  EXPECT_EQ(nodeset_count(static_cast<xmlXPathObject *>(nullptr)), 0);
  EXPECT_EQ(nodeset_first(static_cast<xmlXPathObject *>(nullptr)), nullptr);
  EXPECT_EQ(nodeset_item(static_cast<xmlXPathObject *>(nullptr), 0), nullptr);
  EXPECT_TRUE(nodeset_is_empty(static_cast<xmlXPathObject *>(nullptr)));

  TestDocument document(siblings);
  // A number result has no node set at all.
  XPathResult number = xpath_eval(document.root(), "count(./config:x)");
  ASSERT_NE(number, nullptr);
  ASSERT_EQ(number->nodesetval, nullptr);
  EXPECT_EQ(nodeset_count(number), 0);
  EXPECT_EQ(nodeset_first(number), nullptr);
  EXPECT_EQ(nodeset_item(number, 0), nullptr);
  EXPECT_TRUE(nodeset_is_empty(number));
}

TEST(NodesetTest, EmptyResult) {
  TestDocument document(siblings);
  XPathResult empty = xpath_eval(document.root(), "./config:none");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(nodeset_count(empty), 0);
  EXPECT_EQ(nodeset_first(empty), nullptr);
  EXPECT_EQ(nodeset_item(empty, 0), nullptr);
  EXPECT_TRUE(nodeset_is_empty(empty));
}

TEST(NodesetTest, ItemsInDocumentOrderAndBounds) {
  TestDocument document(siblings);
  XPathResult found = xpath_eval(document.root(), "./config:x");
  ASSERT_EQ(nodeset_count(found), 3);
  EXPECT_FALSE(nodeset_is_empty(found));
  EXPECT_EQ(nodeset_first(found), nodeset_item(found, 0));
  std::string texts;
  for (int i = 0; i < 3; ++i) {
    xmlChar *text = xmlNodeGetContent(nodeset_item(found, i));
    texts += reinterpret_cast<const char *>(text);
    xmlFree(text);
  }
  EXPECT_EQ(texts, "123");
  EXPECT_EQ(nodeset_item(found, 3), nullptr);
  EXPECT_EQ(nodeset_item(found, 1000), nullptr);
  EXPECT_EQ(nodeset_item(found, -1), nullptr);
}

TEST(XPathEvalTest, RelativeToTheGivenNode) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\">"
                        "<a><x/><x/></a><b><x/></b></config>");
  xmlNode *b = xmlLastElementChild(document.root());
  EXPECT_EQ(nodeset_count(xpath_eval(b, "./config:x")), 1);
  EXPECT_EQ(nodeset_count(xpath_eval(document.root(), ".//config:x")), 3);
  // Unprefixed names mean no namespace in XPath 1.0.
  EXPECT_EQ(nodeset_count(xpath_eval(document.root(), "./a")), 0);
}

TEST(XPathEvalTest, NullInputsGiveNoResult) {
  TestDocument document(siblings);
  LogCapture log;
  EXPECT_EQ(xpath_eval(nullptr, "./config:x"), nullptr);
  EXPECT_EQ(xpath_eval(document.root(), nullptr), nullptr);
  EXPECT_EQ(xpath_eval(document.root(), "./config:x["), nullptr);
  EXPECT_EQ(xpath_eval(document.root(), "./nope:x"), nullptr);
  run.xpath_context = nullptr;
  EXPECT_EQ(xpath_eval(document.root(), "./config:x"), nullptr);
  EXPECT_TRUE(log.lines().empty());
}

// libxml2 evaluates only relative to a node of the context's document.
TEST(XPathEvalTest, NodeOutsideTheDocumentGivesNoResult) {
  TestDocument document(siblings);
  TestDocument other(siblings);
  xmlNode *foreign = other.root();
  document.use_context();
  xmlNode *loose = new_element("config");
  add_child(loose, new_element("x"));
  const char *const expressions[] = {"./config:x", "./x", "count(./config:x)"};
  for (const char *expression : expressions) {
    SCOPED_TRACE(expression);
    EXPECT_EQ(xpath_eval(loose, expression), nullptr);
    EXPECT_EQ(xpath_eval(foreign, expression), nullptr);
  }
  LogCapture log(0);
  EXPECT_EQ(xpath_remove_all(loose, "./config:x"), 1);
  EXPECT_EQ(xpath_rename_all(foreign, "./config:x", "y"), 1);
  EXPECT_EQ(log.texts(),
            (Lines{"cfgmigrate(N): Error: unable to evaluate xpath expression \"./config:x\"\n",
                   "cfgmigrate(N): Error: unable to evaluate xpath expression \"./config:x\"\n"}));
  EXPECT_EQ(child_names(foreign).size(), 5u);
  xmlFreeNode(loose);
}

TEST(RemoveAllTest, RemovesEveryMatch) {
  TestDocument document(siblings);
  LogCapture log;
  EXPECT_EQ(xpath_remove_all(document.root(), "./config:x"), 0);
  EXPECT_EQ(child_names(document.root()), (std::vector<std::string>{"keep", "keep"}));
  EXPECT_TRUE(log.lines().empty());
}

TEST(RemoveAllTest, UnregisteredPrefixLogsAndFails) {
  TestDocument document(siblings);
  LogCapture log(0);
  EXPECT_EQ(xpath_remove_all(document.root(), "./nope:x"), 1);
  EXPECT_EQ(log.texts(),
            Lines{"cfgmigrate(N): Error: unable to evaluate xpath expression \"./nope:x\"\n"});
  EXPECT_EQ(child_names(document.root()).size(), 5u);
}

TEST(RemoveAllTest, NothingToRemoveIsNotAnError) {
  TestDocument document(siblings);
  LogCapture log;
  EXPECT_EQ(xpath_remove_all(document.root(), "./config:none"), 0);
  EXPECT_EQ(xpath_remove_all(document.root(), "count(./config:x)"), 0);
  EXPECT_EQ(child_names(document.root()).size(), 5u);
  EXPECT_TRUE(log.lines().empty());
}

TEST(RemoveAllTest, NullNodeLogsAndFails) {
  TestDocument document(siblings);
  LogCapture log;
  EXPECT_EQ(xpath_remove_all(nullptr, "./config:x"), 1);
  EXPECT_EQ(log.texts(),
            Lines{"cfgmigrate(N): Error: unable to evaluate xpath expression \"./config:x\"\n"});
}

// An element inside another match is freed before its ancestor would free
// it with its subtree (run under a memory checker to see double frees).
TEST(RemoveAllTest, NestedMatches) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\">"
                        "<x id=\"1\"><x id=\"2\"><x id=\"3\"/></x></x><keep><x/></keep>"
                        "</config>");
  EXPECT_EQ(nodeset_count(xpath_eval(document.root(), ".//config:x")), 4);
  EXPECT_EQ(xpath_remove_all(document.root(), ".//config:x | .//config:x/@id"), 0);
  EXPECT_EQ(document.save(), XML_DECLARATION "<config xmlns=\"" CONFIG_NS "\">\n"
                                             "  <keep/>\n</config>\n");
}

TEST(RemoveAllTest, Attributes) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\"><a id=\"1\" b=\"2\"/></config>");
  EXPECT_EQ(xpath_remove_all(document.root(), "./config:a/@id"), 0);
  EXPECT_EQ(document.save(),
            XML_DECLARATION "<config xmlns=\"" CONFIG_NS "\">\n  <a b=\"2\"/>\n</config>\n");
}

// Namespace nodes of a result and the document node cannot be detached;
// they are passed over, not freed.
TEST(RemoveAllTest, NodesOutsideTheTreeAreLeft) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\"><a/></config>");
  EXPECT_EQ(xpath_remove_all(document.root(), "namespace::*"), 0);
  EXPECT_EQ(xpath_remove_all(document.root(), "/"), 0);
  EXPECT_EQ(document.save(), XML_DECLARATION "<config xmlns=\"" CONFIG_NS "\">\n"
                                             "  <a/>\n</config>\n");
}

TEST(RenameAllTest, RenamesEveryMatchKeepingNamespaceAndPlace) {
  TestDocument document(siblings);
  LogCapture log;
  EXPECT_EQ(xpath_rename_all(document.root(), "./config:x", "y"), 0);
  EXPECT_EQ(child_names(document.root()),
            (std::vector<std::string>{"keep", "y", "y", "keep", "y"}));
  EXPECT_EQ(nodeset_count(xpath_eval(document.root(), "./config:y")), 3);
  EXPECT_TRUE(log.lines().empty());
}

TEST(RenameAllTest, FailuresAndNoMatches) {
  TestDocument document(siblings);
  LogCapture log;
  EXPECT_EQ(xpath_rename_all(document.root(), "./nope:x", "y"), 1);
  EXPECT_EQ(xpath_rename_all(nullptr, "./config:x", "y"), 1);
  EXPECT_EQ(log.texts(),
            (Lines{"cfgmigrate(N): Error: unable to evaluate xpath expression \"./nope:x\"\n",
                   "cfgmigrate(N): Error: unable to evaluate xpath expression \"./config:x\"\n"}));
  log.clear();
  EXPECT_EQ(xpath_rename_all(document.root(), "./config:none", "y"), 0);
  EXPECT_EQ(xpath_rename_all(document.root(), "count(./config:x)", "y"), 0);
  EXPECT_EQ(xpath_rename_all(document.root(), "./config:x", nullptr), 0);
  EXPECT_EQ(child_names(document.root()),
            (std::vector<std::string>{"keep", "x", "x", "keep", "x"}));
  EXPECT_TRUE(log.lines().empty());
}

TEST(RenameAllTest, NestedMatches) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\"><x><x/></x></config>");
  EXPECT_EQ(xpath_rename_all(document.root(), ".//config:x", "y"), 0);
  EXPECT_EQ(document.save(), XML_DECLARATION "<config xmlns=\"" CONFIG_NS "\">\n"
                                             "  <y>\n    <y/>\n  </y>\n</config>\n");
}

class GetTextTest : public testing::Test {
protected:
  void fill(char byte) { memset(buffer, byte, sizeof buffer); }
  // True when every byte from `from` to the end is 0.
  bool zeros_from(size_t from) const {
    for (size_t i = from; i < sizeof buffer; ++i) {
      if (buffer[i] != '\0')
        return false;
    }
    return true;
  }
  char buffer[64];
};

TEST_F(GetTextTest, LongTextIsCutToSizeMinusOne) {
  const std::string text(100, 'a');
  TestDocument document("<config xmlns=\"" CONFIG_NS "\"><t>" + text + "</t></config>");
  fill('x');
  xpath_get_text(document.root(), "./config:t", buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer), std::string(63, 'a'));
  EXPECT_EQ(buffer[63], '\0');
}

TEST_F(GetTextTest, TextOfExactlySizeBytesLosesItsLastByte) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\"><t>" + std::string(63, 'b') + "</t>" +
                        "<u>" + std::string(64, 'c') + "</u></config>");
  xpath_get_text(document.root(), "./config:t", buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer), std::string(63, 'b'));
  xpath_get_text(document.root(), "./config:u", buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer), std::string(63, 'c'));
}

TEST_F(GetTextTest, ShortTextIsZeroFilled) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\"><t>true</t><t>false</t></config>");
  fill('x');
  xpath_get_text(document.root(), "./config:t", buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "true");
  EXPECT_TRUE(zeros_from(4));
}

TEST_F(GetTextTest, NothingMatchedClearsTheBuffer) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\"><t>true</t></config>");
  const char *const misses[] = {"./config:none", "./nope:t", "count(./config:t)", "./config:t["};
  for (const char *expression : misses) {
    SCOPED_TRACE(expression);
    fill('x');
    xpath_get_text(document.root(), expression, buffer, sizeof buffer);
    EXPECT_TRUE(zeros_from(0));
  }
  fill('x');
  xpath_get_text(nullptr, "./config:t", buffer, sizeof buffer);
  EXPECT_TRUE(zeros_from(0));
}

TEST_F(GetTextTest, EmptyElementZeroFills) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\"><t/></config>");
  fill('x');
  xpath_get_text(document.root(), "./config:t", buffer, sizeof buffer);
  EXPECT_TRUE(zeros_from(0));
}

// libxml2 gives no content string for a text node without content; the
// buffer then keeps what it held.
TEST_F(GetTextTest, MatchWithoutContentStringLeavesTheBuffer) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\"><t/></config>");
  xmlNode *t = xmlFirstElementChild(document.root());
  ASSERT_NE(xmlAddChild(t, xmlNewDocText(document.document(), nullptr)), nullptr);
  fill('x');
  xpath_get_text(document.root(), "./config:t/text()", buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, 'x'));
}

TEST_F(GetTextTest, ContentOfDescendantsIsConcatenated) {
  TestDocument document("<config xmlns=\"" CONFIG_NS
                        "\"><t>a<u>b</u><v><w>c</w></v>d</t></config>");
  xpath_get_text(document.root(), "./config:t", buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "abcd");
}

TEST_F(GetTextTest, SizeLimitsTheBytesWritten) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\"><t>abcdef</t><none/></config>");
  fill('x');
  xpath_get_text(document.root(), "./config:t", buffer, 4);
  EXPECT_EQ(std::string(buffer, 5), std::string("abc\0x", 5));
  fill('x');
  xpath_get_text(document.root(), "./config:none/config:t", buffer, 4);
  EXPECT_EQ(std::string(buffer, 5), std::string("\0\0\0\0x", 5));
  fill('x');
  xpath_get_text(document.root(), "./config:t", buffer, 0);
  EXPECT_EQ(buffer[0], 'x');
  xpath_get_text(document.root(), "./config:t", nullptr, sizeof buffer);
  xpath_get_text(document.root(), "./config:none", nullptr, sizeof buffer);
}

TEST(SafeStrncpyTest, CopiesAndZeroFillsOrDoesNothing) {
  char buffer[8];
  memset(buffer, 'x', sizeof buffer);
  safe_strncpy(buffer, "ab", 6);
  EXPECT_EQ(std::string(buffer, 8), std::string("ab\0\0\0\0xx", 8));
  safe_strncpy(buffer, nullptr, 6);
  EXPECT_EQ(std::string(buffer, 8), std::string("ab\0\0\0\0xx", 8));
  safe_strncpy(nullptr, "ab", 6);
}

const char fwbs_document[] = "<config xmlns=\"" CONFIG_NS "\">"
                             "<basic xmlns=\"" VENDOR_NS "fw-basic-settings\"><old/></basic>"
                             "<basic xmlns=\"" VENDOR_NS "fw-basic-settings\"/>"
                             "</config>";

TEST(AddTextChildTest, AppendsToTheFirstMatchInItsNamespace) {
  TestDocument document(fwbs_document);
  LogCapture log;
  xpath_add_text_child(document.root(), "./fwbs:basic", "netconf", "true");
  xmlNode *first = xmlFirstElementChild(document.root());
  EXPECT_EQ(child_names(first), (std::vector<std::string>{"old", "netconf"}));
  EXPECT_EQ(namespace_of(xmlLastElementChild(first)), VENDOR_NS "fw-basic-settings");
  EXPECT_TRUE(child_names(xmlLastElementChild(document.root())).empty());
  // In the parent's namespace at once: a prefixed query sees it.
  char text[8];
  xpath_get_text(document.root(), "./fwbs:basic/fwbs:netconf", text, sizeof text);
  EXPECT_STREQ(text, "true");
  EXPECT_TRUE(log.lines().empty());
}

TEST(AddTextChildTest, NothingWithoutMatchOrContent) {
  const std::string before = TestDocument(fwbs_document).save();
  TestDocument document(fwbs_document);
  LogCapture log;
  xpath_add_text_child(document.root(), "./fwbs:basic", "a", nullptr);
  xpath_add_text_child(document.root(), "./fwbs:none", "a", "x");
  xpath_add_text_child(document.root(), "./nope:basic", "a", "x");
  xpath_add_text_child(nullptr, "./fwbs:basic", "a", "x");
  add_text_child(xmlFirstElementChild(document.root()), "a", nullptr);
  add_text_child(nullptr, "a", "x");
  EXPECT_EQ(document.save(), before);
  EXPECT_TRUE(log.lines().empty());
}

TEST(AddTextChildTest, TextIsEscapedOnSave) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\"><a/></config>");
  add_text_child(xmlFirstElementChild(document.root()), "t", "a<b&c>\"d\"");
  add_text_child(xmlFirstElementChild(document.root()), "e", "");
  EXPECT_EQ(document.save(), XML_DECLARATION "<config xmlns=\"" CONFIG_NS "\">\n"
                                             "  <a>\n"
                                             "    <t>a&lt;b&amp;c&gt;\"d\"</t>\n"
                                             "    <e/>\n"
                                             "  </a>\n"
                                             "</config>\n");
}

TEST(AttachTest, AddChildAppendsAsLastChild) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\"><a><b/><c/></a></config>");
  LogCapture log;
  xmlNode *a = xmlFirstElementChild(document.root());
  add_child(a, new_element("d"));
  EXPECT_EQ(child_names(a), (std::vector<std::string>{"b", "c", "d"}));
  EXPECT_TRUE(log.lines().empty());
}

TEST(AttachTest, AddSiblingGoesAfterTheLastSibling) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\"><a><b/><c/></a></config>");
  LogCapture log;
  xmlNode *a = xmlFirstElementChild(document.root());
  add_sibling(xmlFirstElementChild(a), new_element("d"));
  EXPECT_EQ(child_names(a), (std::vector<std::string>{"b", "c", "d"}));
  EXPECT_EQ(xmlLastElementChild(a)->parent, a);
  EXPECT_TRUE(log.lines().empty());
}

TEST(AttachTest, NullInputsDoNothing) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\"><a/></config>");
  LogCapture log;
  xmlNode *a = xmlFirstElementChild(document.root());
  xmlNode *loose = new_element("loose");
  add_child(nullptr, loose);
  add_sibling(nullptr, loose);
  EXPECT_EQ(loose->parent, nullptr);
  xmlFreeNode(loose);
  add_child(a, nullptr);
  add_sibling(a, nullptr);
  EXPECT_EQ(a->children, nullptr);
  EXPECT_EQ(a->next, nullptr);
  EXPECT_TRUE(log.lines().empty());
}

TEST(AttachTest, RefusedAttachmentsAreLogged) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\"><a/></config>");
  LogCapture log(0);
  xmlNode *a = xmlFirstElementChild(document.root());
  add_child(a, a);
  add_sibling(a, a);
  EXPECT_EQ(log.texts(), (Lines{"cfgmigrate(N): can not add child node",
                                "cfgmigrate(N): can not add sibing node"}));
}

TEST(NewElementTest, FailuresAreLogged) {
  LogCapture log(0);
  EXPECT_EQ(new_element(nullptr), nullptr);
  EXPECT_EQ(log.texts(), Lines{"cfgmigrate(N): Error: can not create a new node"});
  log.clear();
  EXPECT_EQ(new_element_ns(nullptr, VENDOR_NS "restconf"), nullptr);
  EXPECT_EQ(log.texts(), (Lines{"cfgmigrate(N): Error: can not create a new node",
                                "cfgmigrate(N): Error: get a NULL Node"}));
}

TEST(NewElementTest, HasNoNamespaceInMemory) {
  LogCapture log;
  xmlNode *plain = new_element("plain");
  xmlNode *with_ns = new_element_ns("restconf", VENDOR_NS "restconf");
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(with_ns, nullptr);
  EXPECT_EQ(plain->ns, nullptr);
  EXPECT_EQ(with_ns->ns, nullptr);
  EXPECT_EQ(with_ns->nsDef, nullptr);
  xmlChar *uri = xmlGetProp(with_ns, BAD_CAST "xmlns");
  ASSERT_NE(uri, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char *>(uri), VENDOR_NS "restconf");
  xmlFree(uri);
  xmlFreeNode(plain);
  xmlFreeNode(with_ns);
  EXPECT_TRUE(log.lines().empty());
}

// The xmlns attribute only becomes a namespace when the saved file is
// parsed again: the same run's prefixed query does not see the element.
TEST(NewElementTest, NamespaceTakesEffectOnlyAfterReparse) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\"><a/></config>");
  add_child(document.root(), new_element_ns("restconf", VENDOR_NS "restconf"));
  EXPECT_EQ(nodeset_count(xpath_eval(document.root(), "./restconf:restconf")), 0);
  const std::string saved = document.save();
  EXPECT_EQ(saved, XML_DECLARATION "<config xmlns=\"" CONFIG_NS "\">\n"
                                   "  <a/>\n"
                                   "  <restconf xmlns=\"" VENDOR_NS "restconf\"/>\n"
                                   "</config>\n");
  TestDocument reparsed(saved);
  EXPECT_EQ(nodeset_count(xpath_eval(reparsed.root(), "./restconf:restconf")), 1);
}

TEST(NewElementTest, ChildrenAddedToANewElementHaveNoNamespaceEither) {
  TestDocument document("<config xmlns=\"" CONFIG_NS "\"/>");
  xmlNode *restconf = new_element_ns("restconf", VENDOR_NS "restconf");
  add_text_child(restconf, "enabled", "true");
  add_child(document.root(), restconf);
  EXPECT_EQ(xmlFirstElementChild(restconf)->ns, nullptr);
  EXPECT_EQ(nodeset_count(xpath_eval(document.root(), "./restconf:restconf/restconf:enabled")), 0);
  TestDocument reparsed(document.save());
  EXPECT_EQ(nodeset_count(xpath_eval(reparsed.root(), "./restconf:restconf/restconf:enabled")), 1);
}

} // namespace

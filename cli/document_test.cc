#include "cli/document.h"

#include <string>

#include <gtest/gtest.h>
#include <libxml/entities.h>

#include "tests/test_document.h"

namespace {

#define DECLARATION "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"

struct StripCase {
  const char *name;
  const char *input;
  const char *saved;
};

// save() strips the blank nodes, then writes as the tool does.
TEST(StripBlankNodesTest, Cases) {
  const StripCase cases[] = {
      {"indentation is replaced by the saver's",
       "<config>\n\t<a>\n      <b>x</b>\n</a>\n   <c/></config>",
       DECLARATION "<config>\n  <a>\n    <b>x</b>\n  </a>\n  <c/>\n</config>\n"},
      {"white-space-only element comes out empty", "<config><a> \n\t\r </a></config>",
       DECLARATION "<config>\n  <a/>\n</config>\n"},
      {"blank CDATA is removed", "<config><a><![CDATA[ \n ]]></a><b><![CDATA[ x ]]></b></config>",
       DECLARATION "<config>\n  <a/>\n  <b><![CDATA[ x ]]></b>\n</config>\n"},
      {"text with blanks around it is kept whole", "<config><a>  x  </a></config>",
       DECLARATION "<config>\n  <a>  x  </a>\n</config>\n"},
      {"mixed content keeps its text, loses its blank runs",
       "<config><a>text <b/> <c>y</c> tail</a></config>",
       DECLARATION "<config>\n  <a>text <b/><c>y</c> tail</a>\n</config>\n"},
      {"comments and processing instructions stay",
       "<config>\n  <!-- note -->\n  <?pi data?>\n</config>",
       DECLARATION "<config>\n  <!-- note -->\n  <?pi data?>\n</config>\n"},
      {"deep nesting", "<config><a><b><c><d>\n\n</d></c></b></a></config>",
       DECLARATION "<config>\n  <a>\n    <b>\n      <c>\n        <d/>\n      </c>\n    </b>\n"
                   "  </a>\n</config>\n"},
      {"empty document element", "<config>   </config>", DECLARATION "<config/>\n"},
  };
  for (const StripCase &c : cases) {
    SCOPED_TRACE(c.name);
    TestDocument document(c.input);
    ASSERT_TRUE(document.parsed());
    EXPECT_EQ(document.save(), c.saved);
  }
}

// An entity reference's children are the declared entity's own content,
// shared by every reference: stripping them would change the declaration
// and free nodes the entity still owns.
TEST(StripBlankNodesTest, EntityReferenceContentIsNeverTouched) {
  TestDocument document("<!DOCTYPE config [<!ENTITY blank \"  \"><!ENTITY word \" w \">]>\n"
                        "<config><a>&blank;</a><b>&blank;&word;</b></config>");
  ASSERT_TRUE(document.parsed());
  xmlEntity *blank = xmlGetDocEntity(document.document(), BAD_CAST "blank");
  ASSERT_NE(blank, nullptr);
  xmlNode *entity_text = blank->children;
  ASSERT_NE(entity_text, nullptr);
  EXPECT_EQ(document.save(), DECLARATION "<!DOCTYPE config [\n"
                                         "<!ENTITY blank \"  \">\n"
                                         "<!ENTITY word \" w \">\n"
                                         "]>\n"
                                         "<config>\n"
                                         "  <a>&blank;</a>\n"
                                         "  <b>&blank;&word;</b>\n"
                                         "</config>\n");
  EXPECT_EQ(blank->children, entity_text);
  EXPECT_STREQ(reinterpret_cast<const char *>(entity_text->content), "  ");
}

TEST(StripBlankNodesTest, OnlyBelowTheGivenNode) {
  TestDocument document("<config><a> <b> </b> </a><c> </c></config>");
  xmlNode *a = xmlFirstElementChild(document.root());
  EXPECT_EQ(strip_blank_nodes(a), 0);
  EXPECT_EQ(a->children, xmlFirstElementChild(a));
  EXPECT_EQ(xmlFirstElementChild(a)->children, nullptr);
  EXPECT_NE(xmlLastElementChild(document.root())->children, nullptr);
  EXPECT_EQ(strip_blank_nodes(nullptr), 0);
}

} // namespace

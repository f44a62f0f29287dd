// The tree walk answers the plain child paths the steps ask, with libxml2's
// own nodes in its order, so that no step pays for compiling its query; any
// other form, or a call no step makes, it leaves to libxml2.
#include <cstring>

#include <libxml/parser.h>
#include <libxml/xpathInternals.h>

#include "tests/check.h"
#include "toolkit/child_path.h"
#include "toolkit/xpath.h"

int main() {
  // "A" is where the name-start range begins.
  const char text[] = "<r xmlns:p='urn:p'><p:a><p:n>x</p:n><p:A_z/></p:a><p:a><p:n>y</p:n><p:A_z/>"
                      "<p:A_z/></p:a><a><p:A_z/></a></r>";
  xmlDoc *document = xmlReadMemory(text, sizeof text - 1, "r.xml", nullptr, 0);
  xmlXPathContext *context = xmlXPathNewContext(document);
  xmlXPathRegisterNs(context, BAD_CAST "p", BAD_CAST "urn:p");
  xmlNode *root = xmlDocGetRootElement(document);
  for (const char *path : {"./p:a/p:A_z", "p:a[p:n='y']/p:A_z", "./p:a[p:n=\"x\"]"}) {
    XPathResult walked(eval_child_path(root, path, context));
    XPathResult own(xmlXPathNodeEval(root, BAD_CAST path, context));
    int count = nodeset_count(own);
    CHECK(
        count > 0 && nodeset_count(walked) == count &&
        !memcmp(walked->nodesetval->nodeTab, own->nodesetval->nodeTab, count * sizeof(xmlNode *)));
  }
  for (const char *path : {"./p:a|p:A_z", "./p:a//p:A_z", "./q:a", "p:a[p:n='x'"})
    CHECK(!eval_child_path(root, path, context));
  CHECK(!eval_child_path(nullptr, "./p:a", context) && !eval_child_path(root, "./p:a", nullptr));
  xmlXPathFreeContext(context);
  xmlFreeDoc(document);
  return check_failures != 0;
}

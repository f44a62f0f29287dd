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
  // "A" and "z" bound the name-start range, "0" and "9" the digits.
  const char text[] =
      "<r xmlns:p='urn:p'><p:a><p:n>x</p:n><p:A_z-0.9/></p:a><p:a><p:n>y</p:n><p:A_z-0.9/>"
      "<p:A_z-0.9/></p:a><a><p:A_z-0.9/></a></r>";
  xmlDoc *document = xmlReadMemory(text, sizeof text - 1, "r.xml", nullptr, 0);
  xmlXPathContext *context = xmlXPathNewContext(document);
  xmlXPathRegisterNs(context, BAD_CAST "p", BAD_CAST "urn:p");
  xmlNode *root = xmlDocGetRootElement(document);
  for (const char *path : {"./p:a/p:A_z-0.9", "p:a[p:n='y']/p:A_z-0.9", "./p:a[p:n=\"x\"]"}) {
    XPathResult walked(eval_child_path(root, path, context));
    XPathResult own(xmlXPathNodeEval(root, BAD_CAST path, context));
    int count = nodeset_count(own);
    CHECK(
        count > 0 && nodeset_count(walked) == count &&
        !memcmp(walked->nodesetval->nodeTab, own->nodesetval->nodeTab, count * sizeof(xmlNode *)));
  }
  // Left to libxml2, malformed or not: a test cut short, unquoted or of an
  // unknown prefix, more steps than the walk holds, a name too long to copy.
  const char long_name[] = "./p:aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
  for (const char *path :
       {"./p:a|p:A_z-0.9", "./p:a//p:A_z-0.9", "./q:a", "p:a[p:n='x'", "p:a[p:n/p:A_z-0.9",
        "p:a[q:n='x']", "p:a[p:n=x]", "p:a/p:a/p:a/p:a/p:a/p:a/p:a/p:a/p:a", long_name})
    CHECK(!eval_child_path(root, path, context));
  CHECK(!eval_child_path(nullptr, "./p:a", context) && !eval_child_path(root, "./p:a", nullptr));
  xmlXPathFreeContext(context);
  xmlFreeDoc(document);
  return check_failures != 0;
}

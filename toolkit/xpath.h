// Null-tolerant XPath queries and node edits on the run's document.
//
// Every operation accepts null inputs and then does nothing, so a step can
// chain calls without checking each one; failures are logged where they
// happen.
#pragma once

#include <cstddef>
#include <memory>

#include <libxml/tree.h>
#include <libxml/xpath.h>

struct XPathObjectFree {
  void operator()(xmlXPathObject *result) const { xmlXPathFreeObject(result); }
};
// The caller of xpath_eval owns its result; it is released on scope exit.
using XPathResult = std::unique_ptr<xmlXPathObject, XPathObjectFree>;

struct XmlTextFree {
  void operator()(xmlChar *text) const { xmlFree(text); }
};
// Text libxml2 allocated for the caller, as xmlNodeGetContent returns it.
using XmlText = std::unique_ptr<xmlChar, XmlTextFree>;

// The node's text, as xmlNodeGetContent gives it: a lone text child's is
// read in place, anything else is concatenated by libxml2 into `copy`. Null
// for no node.
const char *node_text(xmlNode *node, XmlText *copy);

int nodeset_count(const xmlXPathObject *result);
xmlNode *nodeset_first(const xmlXPathObject *result);
xmlNode *nodeset_item(const xmlXPathObject *result, int index);
bool nodeset_is_empty(const xmlXPathObject *result);

inline int nodeset_count(const XPathResult &result) { return nodeset_count(result.get()); }
inline xmlNode *nodeset_first(const XPathResult &result) { return nodeset_first(result.get()); }
inline xmlNode *nodeset_item(const XPathResult &result, int index) {
  return nodeset_item(result.get(), index);
}
inline bool nodeset_is_empty(const XPathResult &result) { return nodeset_is_empty(result.get()); }

// Evaluates `expression` with `node` as context node and the run's context.
XPathResult xpath_eval(xmlNode *node, const char *expression);

// The first node of what xpath_eval gives, a node of the tree; null when
// that is null, empty or starts with a namespace node. A child path stops
// at it.
xmlNode *xpath_first(xmlNode *node, const char *expression);

// 1 when the expression cannot be evaluated, else 0. Matches are handled
// from the last to the first.
int xpath_remove_all(xmlNode *node, const char *expression);
int xpath_rename_all(xmlNode *node, const char *expression, const char *name);

// The text of xpath_first's node, cut to size - 1 bytes, the rest of the buffer
// zeros; all zeros when nothing matches or its text cannot be had. Nothing
// of the buffer's earlier contents is left.
void xpath_get_text(xmlNode *node, const char *expression, char *buffer, size_t size);

// Appends <name>content</name> to xpath_first's node; the child takes its
// parent's namespace.
void xpath_add_text_child(xmlNode *node, const char *expression, const char *name,
                          const char *content);
void add_text_child(xmlNode *parent, const char *name, const char *content);
// Called for text a step adds to the tree other than by add_text_child:
// text that may be blank is stripped before the save.
void note_added_text(const char *content);

void add_child(xmlNode *parent, xmlNode *child);
void add_sibling(xmlNode *node, xmlNode *sibling);

// New elements have no namespace in memory. new_element_ns adds a plain
// "xmlns" attribute, so only a later parse of the saved file puts the
// element into that namespace.
xmlNode *new_element(const char *name);
xmlNode *new_element_ns(const char *name, const char *uri);

#include "toolkit/xpath.h"

#include <cstring>

#include "toolkit/child_path.h"
#include "toolkit/log.h"
#include "toolkit/run_state.h"

namespace {

const xmlChar *xml(const char *text) { return reinterpret_cast<const xmlChar *>(text); }

// Namespace nodes in a result are copies owned by the result, and document
// nodes are not the step's to free; neither can be detached from the tree.
bool is_detachable(const xmlNode *node) {
  return node && node->type != XML_NAMESPACE_DECL && node->type != XML_DOCUMENT_NODE &&
         node->type != XML_HTML_DOCUMENT_NODE;
}

} // namespace

const char *node_text(xmlNode *node, XmlText *copy) {
  if (!node)
    return nullptr;
  const xmlNode *only = node->children;
  if (only && !only->next && only->content &&
      (only->type == XML_TEXT_NODE || only->type == XML_CDATA_SECTION_NODE))
    return reinterpret_cast<const char *>(only->content);
  copy->reset(xmlNodeGetContent(node));
  return reinterpret_cast<const char *>(copy->get());
}

int nodeset_count(const xmlXPathObject *result) {
  if (!result || !result->nodesetval)
    return 0;
  return result->nodesetval->nodeNr;
}

xmlNode *nodeset_first(const xmlXPathObject *result) { return nodeset_item(result, 0); }

xmlNode *nodeset_item(const xmlXPathObject *result, int index) {
  if (!result || !result->nodesetval)
    return nullptr;
  const xmlNodeSet *set = result->nodesetval;
  if (set->nodeNr < 1 || set->nodeNr <= index || index < 0)
    return nullptr;
  return set->nodeTab[index];
}

bool nodeset_is_empty(const xmlXPathObject *result) {
  return !result || !result->nodesetval || result->nodesetval->nodeNr == 0 ||
         !result->nodesetval->nodeTab;
}

XPathResult xpath_eval(xmlNode *node, const char *expression) {
  if (xmlXPathObject *walked = eval_child_path(node, expression, run.xpath_context))
    return XPathResult(walked);
  return XPathResult(xmlXPathNodeEval(node, xml(expression), run.xpath_context));
}

xmlNode *xpath_first(xmlNode *node, const char *expression) {
  xmlNode *first = nullptr;
  if (first_child_path(node, expression, run.xpath_context, &first))
    return first;
  XPathResult result(xmlXPathNodeEval(node, xml(expression), run.xpath_context));
  first = nodeset_first(result);
  // A namespace node is a copy the result owns.
  return first && first->type != XML_NAMESPACE_DECL ? first : nullptr;
}

int xpath_remove_all(xmlNode *node, const char *expression) {
  XPathResult result = xpath_eval(node, expression);
  if (!result) {
    log_info("cfgmigrate(%d): Error: unable to evaluate xpath expression \"%s\"\n", __LINE__,
             expression);
    return 1;
  }
  // Last first: a descendant comes after its ancestor in document order,
  // so it is freed before the ancestor would free it.
  for (int i = nodeset_count(result) - 1; i >= 0; --i) {
    xmlNode *match = nodeset_item(result, i);
    if (!is_detachable(match))
      continue;
    xmlUnlinkNode(match);
    xmlFreeNode(match);
    // Freeing the result looks at the type of every node left in it.
    result->nodesetval->nodeTab[i] = nullptr;
  }
  return 0;
}

int xpath_rename_all(xmlNode *node, const char *expression, const char *name) {
  XPathResult result = xpath_eval(node, expression);
  if (!result) {
    log_info("cfgmigrate(%d): Error: unable to evaluate xpath expression \"%s\"\n", __LINE__,
             expression);
    return 1;
  }
  for (int i = nodeset_count(result) - 1; i >= 0; --i)
    xmlNodeSetName(nodeset_item(result, i), xml(name));
  return 0;
}

void xpath_get_text(xmlNode *node, const char *expression, char *buffer, size_t size) {
  XmlText copy;
  const char *content = node_text(xpath_first(node, expression), &copy);
  if (!buffer || size == 0)
    return;
  // Zeros first: callers compare against literals, and no earlier text stays.
  memset(buffer, 0, size);
  if (content)
    strncpy(buffer, content, size - 1);
}

void xpath_add_text_child(xmlNode *node, const char *expression, const char *name,
                          const char *content) {
  add_text_child(xpath_first(node, expression), name, content);
}

void add_text_child(xmlNode *parent, const char *name, const char *content) {
  if (!parent || !content)
    return;
  note_added_text(content);
  xmlNewTextChild(parent, nullptr, xml(name), xml(content));
}

// Text whose first byte is no white space is not blank.
void note_added_text(const char *content) {
  if (!content || static_cast<unsigned char>(content[0]) <= ' ')
    run.may_hold_blank_text = true;
}

void add_child(xmlNode *parent, xmlNode *child) {
  if (!parent || !child)
    return;
  if (!xmlAddChild(parent, child))
    log_info("cfgmigrate(%d): can not add child node", __LINE__);
}

void add_sibling(xmlNode *node, xmlNode *sibling) {
  if (!node || !sibling)
    return;
  if (!xmlAddSibling(node, sibling))
    log_info("cfgmigrate(%d): can not add sibing node", __LINE__);
}

xmlNode *new_element(const char *name) {
  xmlNode *element = xmlNewNode(nullptr, xml(name));
  if (!element)
    log_info("cfgmigrate(%d): Error: can not create a new node", __LINE__);
  return element;
}

xmlNode *new_element_ns(const char *name, const char *uri) {
  xmlNode *element = new_element(name);
  if (!element) {
    log_info("cfgmigrate(%d): Error: get a NULL Node", __LINE__);
    return nullptr;
  }
  // A plain attribute, not a namespace declaration: the element stays
  // outside the namespace until the saved file is parsed again.
  xmlNewProp(element, xml("xmlns"), xml(uri));
  return element;
}

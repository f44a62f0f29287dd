#include "toolkit/child_path.h"

#include <cstring>

#include <libxml/xpathInternals.h>

namespace {

constexpr int max_steps = 8;
constexpr size_t max_name = 64;

struct Name {
  const xmlChar *uri;
  char local[max_name];
  // A node's name and namespace last found equal to these. Names come
  // from the document's dictionary and the namespaces of siblings are
  // mostly one declaration, so most nodes compare by pointer; neither is
  // freed during a walk.
  const xmlChar *equal_local;
  const xmlNs *equal_ns;
};

struct Step {
  Name element;
  bool has_test;
  Name tested;
  const char *literal;
  size_t literal_length;
};

bool is_name_start(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

bool is_name_char(char c) {
  return is_name_start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// An ASCII NCName at *cursor, copied into `out`.
bool parse_ncname(const char **cursor, char *out) {
  const char *start = *cursor;
  if (!is_name_start(*start))
    return false;
  const char *end = start + 1;
  while (is_name_char(*end))
    ++end;
  size_t length = static_cast<size_t>(end - start);
  if (length >= max_name)
    return false;
  memcpy(out, start, length);
  out[length] = '\0';
  *cursor = end;
  return true;
}

// "prefix:local", the prefix resolved through the context.
bool parse_qname(const char **cursor, xmlXPathContext *context, Name *name) {
  char prefix[max_name];
  if (!parse_ncname(cursor, prefix) || **cursor != ':')
    return false;
  ++*cursor;
  if (!parse_ncname(cursor, name->local))
    return false;
  name->uri = xmlXPathNsLookup(context, reinterpret_cast<const xmlChar *>(prefix));
  name->equal_local = nullptr;
  name->equal_ns = nullptr;
  return name->uri != nullptr;
}

// "[p:c='text']" or with double quotes; XPath literals have no escapes.
bool parse_test(const char **cursor, xmlXPathContext *context, Step *step) {
  ++*cursor;
  if (!parse_qname(cursor, context, &step->tested) || **cursor != '=')
    return false;
  char quote = *++*cursor;
  if (quote != '\'' && quote != '"')
    return false;
  const char *literal = *cursor + 1;
  const char *close = strchr(literal, quote);
  if (!close || close[1] != ']')
    return false;
  step->has_test = true;
  step->literal = literal;
  step->literal_length = static_cast<size_t>(close - literal);
  *cursor = close + 2;
  return true;
}

int parse_path(const char *expression, xmlXPathContext *context, Step *steps) {
  const char *cursor = expression;
  if (cursor[0] == '.' && cursor[1] == '/')
    cursor += 2;
  int count = 0;
  while (count < max_steps) {
    Step &step = steps[count++];
    step.has_test = false;
    if (!parse_qname(&cursor, context, &step.element))
      return 0;
    if (*cursor == '[' && !parse_test(&cursor, context, &step))
      return 0;
    if (*cursor == '\0')
      return count;
    if (*cursor != '/')
      return 0;
    ++cursor;
  }
  return 0;
}

// The short local name first: the namespace URIs are long and shared by
// most siblings, so comparing them first costs the most and decides least.
[[gnu::always_inline]] inline bool matches(const xmlNode *node, Name &name) {
  if (node->type != XML_ELEMENT_NODE || !node->ns)
    return false;
  if (node->name != name.equal_local) {
    // Siblings of other names mostly differ in their first letter.
    if (node->name[0] != name.local[0] ||
        !xmlStrEqual(node->name, reinterpret_cast<const xmlChar *>(name.local)))
      return false;
    name.equal_local = node->name;
  }
  if (node->ns != name.equal_ns) {
    if (!xmlStrEqual(node->ns->href, name.uri))
      return false;
    name.equal_ns = node->ns;
  }
  return true;
}

enum class Test { fails, passes, undecided };

// libxml2 compares the string value of each tested child with the literal;
// for a child that is empty or holds one text that value is plain. Any
// other content (elements, entity references) is left to libxml2.
Test run_test(const xmlNode *element, Step &step) {
  // The element matched a name of this namespace: a child in the element's
  // own namespace declaration matches it too.
  if (step.tested.uri == step.element.uri)
    step.tested.equal_ns = element->ns;
  for (const xmlNode *child = element->children; child; child = child->next) {
    if (!matches(child, step.tested))
      continue;
    const xmlNode *text = child->children;
    const xmlChar *value = reinterpret_cast<const xmlChar *>("");
    if (text) {
      if (text->next || (text->type != XML_TEXT_NODE && text->type != XML_CDATA_SECTION_NODE))
        return Test::undecided;
      value = text->content ? text->content : value;
    }
    if (strlen(reinterpret_cast<const char *>(value)) == step.literal_length &&
        memcmp(value, step.literal, step.literal_length) == 0)
      return Test::passes;
  }
  return Test::fails;
}

// A walk in document order: depth first along the steps, each node's
// children in order. Matches go to `set`, or only the first to `first`.
struct Walk {
  Step *steps;
  int count;
  xmlNodeSet *set;
  xmlNode *first;
};

// The last path parsed, kept: a step that asks it of each of thousands of
// nodes parses it once. Known by its text's address and context and checked
// against a copy of the text; forget_child_paths drops it with the context.
struct Parsed {
  const char *expression;
  const xmlXPathContext *context;
  char text[128];
  Step steps[max_steps];
  int count;
};

Parsed parsed;

enum class Outcome { go_on, stop, decline };

Outcome visit(Walk &walk, const xmlNode *parent, int depth) {
  Step &step = walk.steps[depth];
  // Likewise the children of a parent that matched this namespace.
  if (depth > 0 && step.element.uri == walk.steps[depth - 1].element.uri)
    step.element.equal_ns = parent->ns;
  for (xmlNode *child = parent->children; child; child = child->next) {
    if (!matches(child, step.element))
      continue;
    if (step.has_test) {
      Test outcome = run_test(child, step);
      if (outcome == Test::undecided)
        return Outcome::decline;
      if (outcome == Test::fails)
        continue;
    }
    Outcome next = Outcome::go_on;
    if (depth + 1 < walk.count) {
      next = visit(walk, child, depth + 1);
    } else if (!walk.set) {
      walk.first = child;
      next = Outcome::stop;
    } else if (xmlXPathNodeSetAddUnique(walk.set, child) < 0) {
      next = Outcome::decline;
    }
    if (next != Outcome::go_on)
      return next;
  }
  return Outcome::go_on;
}

// False when the walk cannot give libxml2's answer (see child_path.h).
bool walk_path(xmlNode *node, const char *expression, xmlXPathContext *context, Walk &walk) {
  // libxml2 evaluates nothing on a node of another document or of none.
  if (!node || !expression || !context || node->type != XML_ELEMENT_NODE ||
      node->doc != context->doc)
    return false;
  if (expression != parsed.expression || context != parsed.context ||
      strcmp(expression, parsed.text) != 0) {
    parsed.expression = nullptr;
    parsed.count = parse_path(expression, context, parsed.steps);
    size_t length = strlen(expression);
    if (parsed.count > 0 && length < sizeof parsed.text) {
      memcpy(parsed.text, expression, length + 1);
      parsed.expression = expression;
      parsed.context = context;
    }
  }
  if (parsed.count == 0)
    return false;
  // What was found equal in an earlier walk may have been freed since.
  for (int i = 0; i < parsed.count; ++i) {
    Step &step = parsed.steps[i];
    step.element.equal_local = step.tested.equal_local = nullptr;
    step.element.equal_ns = step.tested.equal_ns = nullptr;
  }
  walk.steps = parsed.steps;
  walk.count = parsed.count;
  return visit(walk, node, 0) != Outcome::decline;
}

} // namespace

xmlXPathObject *eval_child_path(xmlNode *node, const char *expression, xmlXPathContext *context) {
  Walk walk;
  walk.set = xmlXPathNodeSetCreate(nullptr);
  if (!walk.set)
    return nullptr;
  if (!walk_path(node, expression, context, walk)) {
    xmlXPathFreeNodeSet(walk.set);
    return nullptr;
  }
  return xmlXPathWrapNodeSet(walk.set);
}

bool first_child_path(xmlNode *node, const char *expression, xmlXPathContext *context,
                      xmlNode **first) {
  Walk walk;
  walk.set = nullptr;
  walk.first = nullptr;
  if (!walk_path(node, expression, context, walk))
    return false;
  *first = walk.first;
  return true;
}

bool child_path_read_names(const char *expression, xmlXPathContext *context,
                           void (*note)(const xmlChar *uri, const char *local, void *data),
                           void *data) {
  Step steps[max_steps];
  int count = parse_path(expression, context, steps);
  for (int i = 0; i < count; ++i) {
    if (steps[i].has_test)
      note(steps[i].tested.uri, steps[i].tested.local, data);
  }
  if (count > 0)
    note(steps[count - 1].element.uri, steps[count - 1].element.local, data);
  return count > 0;
}

void forget_child_paths() { parsed.expression = nullptr; }

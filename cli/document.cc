#include "cli/document.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include <libxml/SAX2.h>
#include <libxml/parser.h>

#include "cli/safe_save.h"
#include "engine/step_table.h"
#include "toolkit/log.h"
#include "toolkit/run_state.h"

namespace {

// xmlParseFile's parser, with names and blank texts shared through the
// document's dictionary and short texts kept inside their nodes: the same
// tree and output bytes, in less memory. From 2.14 libxml2 reads a
// gzip-compressed file only when asked to.
#if LIBXML_VERSION >= 21400
constexpr int parse_options = XML_PARSE_COMPACT | XML_PARSE_UNZIP;
#else
constexpr int parse_options = XML_PARSE_COMPACT;
#endif

// The tool's rule for white space: after the walk, every text or CDATA node
// below the root that holds white space alone (xmlIsBlankNode) goes, so the
// saver's indentation replaces the input's. strip_blank_nodes applies it
// (document.h).
//
// Most such nodes are never made: the parse drops them where that gives the
// tree the rule would, and nothing the walk does can tell.
// - libxml2 hands an element's text to `characters` in pieces and appends
//   each piece to the element's last child when that is a text node; a text
//   node is a run of pieces with nothing else between them. A white-space
//   piece that starts a run is dropped when the next input byte is '<':
//   markup follows, so the run is that piece alone. Any other white-space
//   piece that starts a run is made a node as usual, and removed as soon as
//   the run is over (an element starts or ends, or another run starts) if
//   it is still white space alone. After a CDATA section the node is made
//   either way: libxml2 2.9 would join that section with a next one.
// - A step reads the tree through element names and through the text of
//   the elements its handler_reads name (steps/steps.h). Inside those,
//   white space stays until the walk is over; so it does in an entity's
//   content, which is read through every reference to it. Text read
//   nowhere else, and new nodes placed after or under elements, the walk
//   does the same with the blank nodes or without them.
// - What stays, and what a step adds, strip_blank_nodes removes after the
//   walk.
struct ReadName {
  const xmlChar *local; // from the parser's dictionary, as element names are
  const char *uri;
  const xmlChar *equal_uri; // a namespace name last found equal to `uri`
};

struct BlankDrop {
  // The document's parse. An entity's content comes through a context of
  // its own (libxml2 2.9) or through this one on an input of its own.
  xmlParserCtxt *parser;
  // A text node begun with white space whose run may not be over.
  xmlNode *maybe_blank;
  // The element a run was last in, and whether a step reads its text. No
  // element is freed during the parse.
  const xmlNode *parent_seen;
  bool parent_is_read;
  // A read path of a form not understood here: nothing is dropped.
  bool keep_all;
  int name_count;
  ReadName names[32];
  // A bit per name's pointer (name_bit): most elements are told apart by it.
  uint64_t name_bits;
};

// One parse per run.
BlankDrop drop;

uint64_t name_bit(const xmlChar *name) {
  return uint64_t{1} << (reinterpret_cast<uintptr_t>(name) / 8 % 64);
}

const NamespaceBinding *binding_of(const char *prefix, size_t length) {
  for (const NamespaceBinding *binding = namespace_table; binding->prefix; ++binding) {
    if (strlen(binding->prefix) == length && memcmp(binding->prefix, prefix, length) == 0)
      return binding;
  }
  return nullptr;
}

bool is_name_char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '_' || c == '-' || c == '.';
}

// "prefix:local" at *cursor, noted as read when `read`.
bool note_qname(const char **cursor, bool read, xmlDict *dict) {
  const char *prefix = *cursor;
  const char *colon = prefix;
  while (is_name_char(*colon))
    ++colon;
  const char *local = colon + 1;
  const char *end = local;
  while (is_name_char(*end))
    ++end;
  if (*colon != ':' || colon == prefix || end == local)
    return false;
  *cursor = end;
  const NamespaceBinding *binding = binding_of(prefix, static_cast<size_t>(colon - prefix));
  // A prefix the table lacks fails the step's query: it reads nothing.
  if (!read || !binding)
    return true;
  if (drop.name_count == sizeof drop.names / sizeof drop.names[0]) {
    drop.keep_all = true;
    return true;
  }
  const xmlChar *interned = xmlDictLookup(dict, reinterpret_cast<const xmlChar *>(local),
                                         static_cast<int>(end - local));
  // Out of memory: the walk will not run.
  drop.keep_all = drop.keep_all || !interned;
  for (int i = 0; i < drop.name_count; ++i) {
    if (drop.names[i].local == interned && drop.names[i].uri == binding->uri)
      return true;
  }
  drop.names[drop.name_count++] = {interned, binding->uri, nullptr};
  drop.name_bits |= name_bit(interned);
  return true;
}

// The element a child path ("./p:a/p:b[p:c='text']") ends in and those its
// tests compare; any other form keeps every blank.
void note_read_path(const char *path, xmlDict *dict) {
  const char *cursor = path[0] == '.' && path[1] == '/' ? path + 2 : path;
  for (;;) {
    const char *step = cursor;
    if (!note_qname(&cursor, false, dict))
      break;
    if (*cursor == '[') {
      ++cursor;
      if (!note_qname(&cursor, true, dict) || *cursor != '=' ||
          (cursor[1] != '\'' && cursor[1] != '"'))
        break;
      const char *close = strchr(cursor + 2, cursor[1]);
      if (!close || close[1] != ']')
        break;
      cursor = close + 2;
    }
    if (*cursor == '\0') {
      note_qname(&step, true, dict);
      return;
    }
    if (*cursor != '/')
      break;
    ++cursor;
  }
  drop.keep_all = true;
}

void note_read_names(xmlDict *dict) {
  for (int i = 0; i < step_count; ++i) {
    for (const char *const *path = step_table[i].reads; *path; ++path)
      note_read_path(*path, dict);
  }
}

bool is_read(const xmlChar *local, const xmlChar *uri) {
  if (!uri)
    return false;
  for (int i = 0; i < drop.name_count; ++i) {
    ReadName &name = drop.names[i];
    if (name.local != local)
      continue;
    if (uri == name.equal_uri || xmlStrEqual(uri, reinterpret_cast<const xmlChar *>(name.uri))) {
      name.equal_uri = uri;
      return true;
    }
  }
  return false;
}

void settle_maybe_blank() {
  xmlNode *text = drop.maybe_blank;
  drop.maybe_blank = nullptr;
  if (xmlIsBlankNode(text)) {
    xmlUnlinkNode(text);
    xmlFreeNode(text);
  }
}

// xmlIsBlankNode's white space: blank, tab, line feed, carriage return.
bool is_blank_char(xmlChar c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }

// Eight bytes all blanks or line feeds, as indentation is: one test for
// all of them (a byte is 0x80 in zero_bytes where it was zero, and only
// there).
bool is_indentation(uint64_t eight) {
  constexpr uint64_t ones = 0x0101010101010101;
  auto zero_bytes = [](uint64_t x) {
    return ~(((x & 0x7F * ones) + 0x7F * ones) | x) & 0x80 * ones;
  };
  return (zero_bytes(eight ^ ' ' * ones) | zero_bytes(eight ^ '\n' * ones)) == 0x80 * ones;
}

bool is_blank(const xmlChar *text, int length) {
  // Four bytes or more: words, the last ending where the piece ends, cover it.
  bool covered = length >= 4;
  for (int at = 0; covered && length >= 8; at += 8) {
    int start = at < length - 8 ? at : length - 8;
    uint64_t eight;
    memcpy(&eight, text + start, 8);
    covered = is_indentation(eight);
    if (start == length - 8)
      break;
  }
  if (covered && length < 8) {
    uint32_t first, last;
    memcpy(&first, text, 4);
    memcpy(&last, text + length - 4, 4);
    covered = is_indentation(uint64_t{first} << 32 | last);
  }
  if (covered)
    return true;
  // Tabs, carriage returns, short pieces, and what is not blank.
  for (int i = 0; i < length; ++i) {
    if (!is_blank_char(text[i]))
      return false;
  }
  return true;
}

// Inside an element whose text a step reads.
bool is_inside_read(const xmlNode *element) {
  for (; element && element->type == XML_ELEMENT_NODE; element = element->parent) {
    if ((drop.name_bits & name_bit(element->name)) &&
        is_read(element->name, element->ns ? element->ns->href : nullptr))
      return true;
  }
  return drop.keep_all;
}

// For a piece that may begin a blank run of the document's own text: true
// when it is dropped or made a node here.
[[gnu::noinline]] bool took_blank(xmlParserCtxt *parser, const xmlChar *text, int length) {
  xmlNode *parent = parser->node;
  if (!parent || (parent->last && parent->last->type == XML_TEXT_NODE) || parser != drop.parser ||
      parser->inputNr != 1)
    return false;
  if (drop.maybe_blank)
    settle_maybe_blank();
  if (!is_blank(text, length))
    return false;
  // Siblings' runs share their parent: it is looked at once.
  if (parent != drop.parent_seen) {
    drop.parent_seen = parent;
    drop.parent_is_read = is_inside_read(parent);
  }
  if (drop.parent_is_read)
    return false;
  // The piece lies in the input buffer, not in a buffer of its own.
  auto at = reinterpret_cast<uintptr_t>(text);
  const xmlParserInput *input = parser->input;
  bool alone = at >= reinterpret_cast<uintptr_t>(input->base) &&
               at + static_cast<uintptr_t>(length) < reinterpret_cast<uintptr_t>(input->end) &&
               text[length] == '<';
  if (alone && !(parent->last && parent->last->type == XML_CDATA_SECTION_NODE))
    return true;
  xmlSAX2Characters(parser, text, length);
  if (parent->last && parent->last->type == XML_TEXT_NODE)
    drop.maybe_blank = parent->last;
  return true;
}

// Most pieces are words: one look at their first byte passes them on.
void on_characters(void *context, const xmlChar *text, int length) {
  if (length > 0 && (drop.maybe_blank || is_blank_char(text[0])) &&
      took_blank(static_cast<xmlParserCtxt *>(context), text, length))
    return;
  xmlSAX2Characters(context, text, length);
}

} // namespace

// Only elements own their children: an entity reference's are the entity's
// own content, shared by every reference to it.
void strip_blank_nodes(xmlNode *root) {
  if (!root)
    return;
  xmlNode *parent = root;
  xmlNode *child = root->children;
  for (;;) {
    if (!child) {
      if (parent == root)
        return;
      child = parent->next;
      parent = parent->parent;
      continue;
    }
    xmlNode *next = child->next;
    if (child->type == XML_ELEMENT_NODE && child->children) {
      parent = child;
      next = child->children;
    } else if ((child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) &&
               (!child->content || child->content[0] <= ' ') && xmlIsBlankNode(child)) {
      xmlUnlinkNode(child);
      xmlFreeNode(child);
    }
    child = next;
  }
}

void load_document() {
  // Memory ran out as libxml2 was set up: the library cannot be called.
  if (run.out_of_memory)
    return;
  xmlParserCtxt *parser = xmlNewParserCtxt();
  if (!parser)
    return;
  // Both the same, as by default: libxml2's own guesses at ignorable white
  // space are not the tool's rule.
  parser->sax->characters = on_characters;
  parser->sax->ignorableWhitespace = on_characters;
  drop = BlankDrop{};
  drop.parser = parser;
  note_read_names(parser->dict);
  // From 2.13.1 xmlReadFile alone takes "-" for standard input. The
  // libxml2 running decides: 2.9 to 2.13 share a soname.
  if (strcmp(run.input_path, "-") == 0 && atoi(xmlParserVersion) >= 21301)
    run.document = xmlCtxtReadFd(parser, STDIN_FILENO, run.input_path, nullptr, parse_options);
  else
    run.document = xmlCtxtReadFile(parser, run.input_path, nullptr, parse_options);
  xmlFreeParserCtxt(parser);
  // The last run is over; without a document it went with the rest.
  if (run.document && drop.maybe_blank)
    settle_maybe_blank();
  run.root = xmlDocGetRootElement(run.document);
}

bool save_document() {
  if (run.out_of_memory)
    return false;
  strip_blank_nodes(run.root);
  // Its other failures are not reported: the log line and the status stay
  // the same.
  int written = save_document_safely(run.output_path, run.document);
  if (!run.out_of_memory)
    log_info("cfgmigrate(%d): write upgraded xml to %s", __LINE__, run.output_path);
  return written >= 0;
}

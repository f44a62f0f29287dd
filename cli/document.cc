#include "cli/document.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include <libxml/SAX2.h>
#include <libxml/parser.h>

#include "cli/safe_save.h"
#include "engine/walk.h"
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
//   piece that starts a run is made a node as usual and, once the run is
//   over (the next run starts, or the parse ends), removed if it is still
//   white space alone. After a CDATA section the node is made either way:
//   libxml2 2.9 would join that section with a next one.
// - A step reads the tree through element names and through the text of
//   the elements its handler_reads name (steps/steps.h, listed by
//   note_read_elements). Inside those, white space stays until the walk is
//   over; so it does in an entity's content, which is read through every
//   reference to it. Text read nowhere else, and new nodes placed after or
//   under elements, the walk does the same with the blank nodes or
//   without them.
// - What stays, and what a step adds, strip_blank_nodes removes after the
//   walk. Where the parse kept no text that may be blank, nor a step added
//   any (run.may_hold_blank_text), there is none to remove, and the save
//   does not walk the tree for it.
struct ReadName {
  const xmlChar *local;
  const xmlChar *uri;
  const xmlChar *equal_uri; // a namespace name last found equal to `uri`
};

struct Seen {
  const xmlNode *element;
  bool read;
};

struct BlankDrop {
  // The document's parse. An entity's content comes through a context of
  // its own (libxml2 2.9) or through this one on an input of its own.
  xmlParserCtxt *parser;
  // A text node begun with white space whose run may not be over.
  xmlNode *maybe_blank;
  // Elements runs were in lately, and whether a step reads their text.
  Seen seen[16];
  // Which elements the steps read is not known: nothing is dropped.
  bool keep_all;
  // The parser's own handler of CDATA sections.
  cdataBlockSAXFunc cdata_block;
  int name_count;
  ReadName names[32];
  // A bit for each name's pointer (may_be_read): most elements are told
  // apart by it.
  uint64_t name_bits[4];
};

// One parse per run.
BlankDrop drop;

// 0 to 255, from the name's address.
unsigned name_hash(const xmlChar *name) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(name) / 8) * 0x9E3779B1u >> 24;
}

[[gnu::always_inline]] inline bool may_be_read(const xmlChar *name) {
  unsigned hash = name_hash(name);
  return drop.name_bits[hash / 64] >> hash % 64 & 1;
}

// An element whose text a step reads, its names interned in the parser's
// dictionary, as the parser's names of elements are.
void note_read_element(const xmlChar *uri, const char *local, void *dictionary) {
  auto *dict = static_cast<xmlDict *>(dictionary);
  const xmlChar *name = xmlDictLookup(dict, reinterpret_cast<const xmlChar *>(local), -1);
  uri = xmlDictLookup(dict, uri, -1);
  // Out of memory (the walk will not run), or more names than are kept.
  if (!name || !uri || drop.name_count == sizeof drop.names / sizeof drop.names[0]) {
    drop.keep_all = true;
    return;
  }
  for (int i = 0; i < drop.name_count; ++i) {
    if (drop.names[i].local == name && drop.names[i].uri == uri)
      return;
  }
  drop.names[drop.name_count++] = {name, uri, nullptr};
  unsigned hash = name_hash(name);
  drop.name_bits[hash / 64] |= uint64_t{1} << hash % 64;
}

bool is_read(const xmlChar *local, const xmlChar *uri) {
  if (!uri)
    return false;
  for (int i = 0; i < drop.name_count; ++i) {
    ReadName &name = drop.names[i];
    if (name.local != local)
      continue;
    if (uri == name.equal_uri || xmlStrEqual(uri, name.uri)) {
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

// Eight bytes all blanks or line feeds, as indentation is: one test for all.
// A blank XORed with a blank is 0, a line feed 0x2A: each byte must be one
// of the two, so no bit outside 0x2A is set, and its bits 0x02, 0x08 and
// 0x20 are all set or none (each equal to the one two places up).
[[gnu::always_inline]] inline bool is_indentation(uint64_t eight) {
  constexpr uint64_t ones = 0x0101010101010101;
  uint64_t from_blanks = eight ^ ' ' * ones;
  return ((from_blanks & 0xD5 * ones) | ((from_blanks ^ from_blanks >> 2) & 0x0A * ones)) == 0;
}

[[gnu::always_inline]] inline bool is_blank(const xmlChar *text, int length) {
  // Four bytes or more: words, the last ending where the piece ends, cover it.
  bool covered = false;
  if (length >= 8) {
    uint64_t eight;
    covered = true;
    for (int at = 0; covered && at < length - 8; at += 8) {
      memcpy(&eight, text + at, 8);
      covered = is_indentation(eight);
    }
    if (covered) {
      memcpy(&eight, text + length - 8, 8);
      covered = is_indentation(eight);
    }
  } else if (length >= 4) {
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

// The piece lies in the input buffer, not in a buffer of its own, and the
// next input byte begins markup: the run ends with it.
[[gnu::always_inline]] inline bool is_markup_next(const xmlParserCtxt *parser, const xmlChar *text,
                                                  int length) {
  auto at = reinterpret_cast<uintptr_t>(text);
  const xmlParserInput *input = parser->input;
  return at >= reinterpret_cast<uintptr_t>(input->base) &&
         at + static_cast<uintptr_t>(length) < reinterpret_cast<uintptr_t>(input->end) &&
         text[length] == '<';
}

// Inside an element whose text a step reads.
bool is_inside_read(const xmlNode *element) {
  for (; element && element->type == XML_ELEMENT_NODE; element = element->parent) {
    if (may_be_read(element->name) &&
        is_read(element->name, element->ns ? element->ns->href : nullptr))
      return true;
  }
  return drop.keep_all;
}

// is_inside_read of a run's parent, as far as the elements asked about
// lately tell it (`seen`, by their address): runs between siblings share
// their parent, and a child whose name no step reads inherits its parent's
// answer. 1 read, 0 not, -1 not told. No element is freed during the parse.
[[gnu::always_inline]] inline Seen &seen_slot(const xmlNode *element) {
  return drop.seen[reinterpret_cast<uintptr_t>(element) / 16 % 16];
}

[[gnu::always_inline]] inline int told_read(const xmlNode *parent) {
  Seen &slot = seen_slot(parent);
  if (slot.element == parent)
    return slot.read;
  const Seen &around = seen_slot(parent->parent);
  if (!parent->parent || around.element != parent->parent || may_be_read(parent->name))
    return -1;
  slot = {parent, around.read};
  return slot.read;
}

bool is_parent_read(const xmlNode *parent) {
  int told = told_read(parent);
  if (told >= 0)
    return told;
  seen_slot(parent) = {parent, is_inside_read(parent)};
  return seen_slot(parent).read;
}

// Any piece that may begin a run of the document's own text, `blank` when
// it is white space alone: true when it is dropped or made a node here.
[[gnu::noinline]] bool took_blank(xmlParserCtxt *parser, const xmlChar *text, int length,
                                  bool blank) {
  if (parser != drop.parser)
    return false;
  xmlNode *parent = parser->node;
  if (!parent || parser->inputNr != 1)
    return false;
  xmlNode *last = parent->last;
  if (last && last->type == XML_TEXT_NODE)
    return false;
  if (drop.maybe_blank)
    settle_maybe_blank();
  if (!blank || is_parent_read(parent))
    return false;
  if (is_markup_next(parser, text, length) && !(last && last->type == XML_CDATA_SECTION_NODE))
    return true;
  xmlSAX2Characters(parser, text, length);
  if (parent->last && parent->last->type == XML_TEXT_NODE)
    drop.maybe_blank = parent->last;
  return true;
}

[[gnu::noinline]] void on_piece(void *context, const xmlChar *text, int length, bool blank) {
  if (took_blank(static_cast<xmlParserCtxt *>(context), text, length, blank))
    return;
  // Kept white space, or an empty piece, may be or begin a blank text.
  if (blank || length <= 0)
    run.may_hold_blank_text = true;
  xmlSAX2Characters(context, text, length);
}

// The commonest piece by far, white space that took_blank would drop, told
// with fewer tests: before markup, nothing pending, after neither text nor
// CDATA, in an element no step reads.
[[gnu::noinline]] void on_blank_start(void *context, const xmlChar *text, int length) {
  const auto *parser = static_cast<const xmlParserCtxt *>(context);
  const xmlNode *parent = parser->node;
  bool blank = is_blank(text, length);
  if (blank && parser == drop.parser && parent && !drop.maybe_blank && parser->inputNr == 1) {
    const xmlNode *last = parent->last;
    if (!(last && (last->type == XML_TEXT_NODE || last->type == XML_CDATA_SECTION_NODE)) &&
        is_markup_next(parser, text, length) && told_read(parent) == 0)
      return;
  }
  on_piece(context, text, length, blank);
}

// Most pieces are words: one look at their first byte passes them on
// (white space is all at or below the blank); an empty one is noted as
// text that may be blank (on_piece).
void on_characters(void *context, const xmlChar *text, int length) {
  if (length > 0 && text[0] <= ' ')
    return on_blank_start(context, text, length);
  if (drop.maybe_blank || length <= 0)
    return on_piece(context, text, length, false);
  return xmlSAX2Characters(context, text, length);
}

// A CDATA section is kept as it is; one of white space alone is blank text.
void on_cdata(void *context, const xmlChar *text, int length) {
  if (is_blank(text, length))
    run.may_hold_blank_text = true;
  drop.cdata_block(context, text, length);
}

} // namespace

namespace {

// Text of which the first byte is no white space is not blank.
[[gnu::always_inline]] inline bool may_be_blank(const xmlNode *node) {
  return (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) &&
         (!node->content || node->content[0] <= ' ');
}

// One step of the walk of the subtree under `top` (parent, child): false
// once it is over. A leaf of one word, as most are, is passed over.
[[gnu::always_inline]] inline bool strip_step(const xmlNode *top, xmlNode *&parent,
                                              xmlNode *&child) {
  if (!child) {
    if (parent == top)
      return false;
    child = parent->next;
    parent = parent->parent;
    return true;
  }
  xmlNode *next = child->next;
  xmlNode *first = child->children;
  if (child->type == XML_ELEMENT_NODE && first) {
    if (first->next || first->children || may_be_blank(first)) {
      parent = child;
      next = first;
    }
  } else if (may_be_blank(child) && xmlIsBlankNode(child)) {
    xmlUnlinkNode(child);
    xmlFreeNode(child);
  }
  child = next;
  return true;
}

} // namespace

// Only elements own their children: an entity reference's are the entity's
// own content, shared by every reference to it.
void strip_blank_nodes(xmlNode *root) {
  if (!root)
    return;
  // The walk is bound by memory: two of the root's children are walked at
  // once, a node of each in turn, so one's node is fetched while the other's
  // is looked at.
  xmlNode *tops[2] = {nullptr, nullptr}, *parents[2], *children[2];
  xmlNode *next_top = root->children;
  for (;;) {
    for (int i = 0; i < 2; ++i) {
      if (tops[i])
        continue;
      // The root's own text is looked at where it stands.
      while (next_top && !(next_top->type == XML_ELEMENT_NODE && next_top->children)) {
        xmlNode *top = next_top;
        next_top = top->next;
        if (may_be_blank(top) && xmlIsBlankNode(top)) {
          xmlUnlinkNode(top);
          xmlFreeNode(top);
        }
      }
      if (next_top) {
        tops[i] = parents[i] = next_top;
        children[i] = next_top->children;
        next_top = next_top->next;
      }
    }
    if (!tops[0] && !tops[1])
      return;
    bool first_on = tops[0], second_on = tops[1];
    while (first_on && second_on) {
      first_on = strip_step(tops[0], parents[0], children[0]);
      second_on = strip_step(tops[1], parents[1], children[1]);
    }
    while (first_on && !tops[1] && !next_top)
      first_on = strip_step(tops[0], parents[0], children[0]);
    while (second_on && !tops[0] && !next_top)
      second_on = strip_step(tops[1], parents[1], children[1]);
    if (!first_on)
      tops[0] = nullptr;
    if (!second_on)
      tops[1] = nullptr;
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
  drop.cdata_block = parser->sax->cdataBlock;
  if (drop.cdata_block)
    parser->sax->cdataBlock = on_cdata;
  if (!note_read_elements(note_read_element, parser->dict))
    drop.keep_all = true;
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
  if (run.may_hold_blank_text)
    strip_blank_nodes(run.root);
  // A temporary file that did not take the whole document is reported; the
  // save's other failures are not, and the status stays the same.
  int written = save_document_safely(run.output_path, run.document);
  if (!run.out_of_memory)
    log_info("cfgmigrate(%d): write upgraded xml to %s", __LINE__, run.output_path);
  if (written == save_fell_short)
    log_info("cfgmigrate(%d): Error: unable to write %s whole, left as it was", __LINE__,
             run.output_path);
  return written >= 0;
}

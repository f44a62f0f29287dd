// Test support: a document parsed from a string and installed in the run
// state, and a capture of the log lines a piece of code writes.
#pragma once

#include <string>
#include <vector>

#include <libxml/tree.h>
#include <libxml/xpath.h>

// Parses `xml` as the tool parses its input (default options: white-space
// text nodes stay) and installs it in the run state: run.document, run.root
// and run.xpath_context with every namespace prefix registered. The
// destructor frees all three and puts back what the run state held before,
// so a temporary TestDocument(text).save() beside another one is harmless
// (documents must be destroyed in reverse order of construction).
//
// run_migration() makes and frees a context of its own and leaves
// run.xpath_context null; call use_context() before querying again.
class TestDocument {
public:
  explicit TestDocument(const char *xml);
  explicit TestDocument(const std::string &xml) : TestDocument(xml.c_str()) {}
  ~TestDocument();
  TestDocument(const TestDocument &) = delete;
  TestDocument &operator=(const TestDocument &) = delete;

  // False when the text did not parse; root() is then null.
  bool parsed() const { return document_ != nullptr; }
  xmlDoc *document() const { return document_; }
  xmlNode *root() const { return xmlDocGetRootElement(document_); }

  // Puts this document's context back into the run state.
  void use_context() const;

  // The bytes the tool writes for this document: blank text nodes stripped
  // (this changes the tree), then UTF-8 and indented as
  // xmlSaveFormatFileEnc(path, document, "UTF-8", 1) writes them.
  std::string save() const;

private:
  xmlDoc *document_ = nullptr;
  xmlXPathContext *context_ = nullptr;
  xmlDoc *previous_document_;
  xmlNode *previous_root_;
  xmlXPathContext *previous_context_;
};

// Collects every line the log writes while it lives, instead of sending it
// to the console and syslog. Sets the run's debug level (restored after):
// debug lines are only written when it is not 0.
class LogCapture {
public:
  explicit LogCapture(int debug_level = 1);
  ~LogCapture();
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  struct Line {
    int priority; // LOG_INFO or LOG_DEBUG
    std::string text;
  };
  const std::vector<Line> &lines() const { return lines_; }

  // The texts only, each with its source line number replaced by "N"
  // ("cfgmigrate(N): ..."), so tests do not depend on where a call sits.
  std::vector<std::string> texts() const;

  void clear() { lines_.clear(); }

private:
  static void tap(int priority, const char *line);
  static LogCapture *active_;
  std::vector<Line> lines_;
  int saved_debug_level_;
};

// "cfgmigrate(123): rest" -> "cfgmigrate(N): rest"; other texts unchanged.
std::string without_line_number(const std::string &line);

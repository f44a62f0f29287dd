#include "tests/test_document.h"

#include <cstring>

#include <libxml/parser.h>

#include "cli/document.h"
#include "cli/log.h"
#include "cli/run_state.h"
#include "engine/walk.h"

TestDocument::TestDocument(const char *xml)
    : previous_document_(run.document), previous_root_(run.root),
      previous_context_(run.xpath_context) {
  document_ = xmlReadMemory(xml, static_cast<int>(strlen(xml)), "test.xml", nullptr, 0);
  if (!document_)
    return;
  context_ = xmlXPathNewContext(document_);
  register_namespaces(context_);
  run.document = document_;
  run.root = xmlDocGetRootElement(document_);
  run.xpath_context = context_;
}

TestDocument::~TestDocument() {
  if (document_ && run.document == document_) {
    run.document = previous_document_;
    run.root = previous_root_;
    run.xpath_context = previous_context_;
  }
  xmlXPathFreeContext(context_);
  xmlFreeDoc(document_);
}

void TestDocument::use_context() const { run.xpath_context = context_; }

std::string TestDocument::save() const {
  if (!document_)
    return {};
  strip_blank_nodes(xmlDocGetRootElement(document_));
  xmlChar *bytes = nullptr;
  int size = 0;
  xmlDocDumpFormatMemoryEnc(document_, &bytes, &size, "UTF-8", 1);
  std::string saved(reinterpret_cast<const char *>(bytes), static_cast<size_t>(size));
  xmlFree(bytes);
  return saved;
}

LogCapture *LogCapture::active_ = nullptr;

LogCapture::LogCapture(int debug_level) : saved_debug_level_(run.debug_level) {
  run.debug_level = debug_level;
  active_ = this;
  set_log_tap(&LogCapture::tap);
}

LogCapture::~LogCapture() {
  set_log_tap(nullptr);
  active_ = nullptr;
  run.debug_level = saved_debug_level_;
}

void LogCapture::tap(int priority, const char *line) {
  if (active_)
    active_->lines_.push_back({priority, line});
}

std::vector<std::string> LogCapture::texts() const {
  std::vector<std::string> texts;
  for (const Line &line : lines_)
    texts.push_back(without_line_number(line.text));
  return texts;
}

std::string without_line_number(const std::string &line) {
  static constexpr char prefix[] = "cfgmigrate(";
  constexpr size_t prefix_length = sizeof prefix - 1;
  if (line.compare(0, prefix_length, prefix) != 0)
    return line;
  size_t close = line.find("): ", prefix_length);
  if (close == std::string::npos || close == prefix_length)
    return line;
  for (size_t i = prefix_length; i < close; ++i) {
    if (line[i] < '0' || line[i] > '9')
      return line;
  }
  return line.substr(0, prefix_length) + "N" + line.substr(close);
}

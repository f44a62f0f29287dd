#include "tests/test_document.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli/document.h"
#include "cli/log.h"
#include "cli/run_state.h"
#include "engine/namespace_config.h"
#include "tests/file_bytes.h"
#include "toolkit/xpath.h"

namespace {

#define CONFIG_NS CFGMIGRATE_STORE_NS_BASE "/ns/config/1.0"

const char indented[] = "<config xmlns=\"" CONFIG_NS "\">\n"
                        "    <a>  <b>x</b>\n  </a>\n  <c>   </c>\n</config>\n";

TEST(TestDocumentTest, InstallsDocumentRootAndContextInRunState) {
  {
    TestDocument document(indented);
    ASSERT_TRUE(document.parsed());
    EXPECT_EQ(run.document, document.document());
    EXPECT_EQ(run.root, document.root());
    ASSERT_NE(run.xpath_context, nullptr);
    EXPECT_EQ(nodeset_count(xpath_eval(run.root, "./config:a/config:b")), 1);
  }
  EXPECT_EQ(run.document, nullptr);
  EXPECT_EQ(run.root, nullptr);
  EXPECT_EQ(run.xpath_context, nullptr);
}

TEST(TestDocumentTest, ATemporaryDocumentGivesTheRunStateBack) {
  TestDocument outer(indented);
  xmlXPathContext *context = run.xpath_context;
  std::string saved = TestDocument("<other/>").save();
  EXPECT_EQ(saved, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<other/>\n");
  EXPECT_EQ(run.document, outer.document());
  EXPECT_EQ(run.root, outer.root());
  EXPECT_EQ(run.xpath_context, context);
}

TEST(TestDocumentTest, UnparseableTextLeavesRunStateEmpty) {
  TestDocument document("<config><a></config>");
  EXPECT_FALSE(document.parsed());
  EXPECT_EQ(document.root(), nullptr);
  EXPECT_EQ(run.document, nullptr);
  EXPECT_EQ(document.save(), "");
}

// save() stands in for save_document in tests: both must give the same bytes.
TEST(TestDocumentTest, SaveGivesTheBytesSaveDocumentWrites) {
  mkdir(SCRATCH_ROOT, 0755);
  std::string folder = std::string(SCRATCH_ROOT) + "/test_document-XXXXXX";
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  std::string path = folder + "/out.xml";

  TestDocument expected(indented);
  std::string saved = expected.save();

  TestDocument written(indented);
  run.output_path = path.c_str();
  {
    LogCapture log;
    save_document(written.document());
  }
  run.output_path = nullptr;
  std::string file = read_file(path);
  unlink(path.c_str());
  rmdir(folder.c_str());

  EXPECT_EQ(file, saved);
  EXPECT_EQ(saved, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<config xmlns=\"" CONFIG_NS "\">\n"
                   "  <a>\n    <b>x</b>\n  </a>\n  <c/>\n</config>\n");
}

TEST(LogCaptureTest, CollectsLinesWithPriorityAndRestoresDebugLevel) {
  run.debug_level = 0;
  {
    LogCapture log(2);
    EXPECT_EQ(run.debug_level, 2);
    log_info("cfgmigrate(%d): info %s", 12, "one");
    log_debug("cfgmigrate(%d): debug %d", 345, 2);
    ASSERT_EQ(log.lines().size(), 2u);
    EXPECT_EQ(log.lines()[0].priority, LOG_INFO);
    EXPECT_EQ(log.lines()[0].text, "cfgmigrate(12): info one");
    EXPECT_EQ(log.lines()[1].priority, LOG_DEBUG);
    EXPECT_EQ(log.texts(),
              (std::vector<std::string>{"cfgmigrate(N): info one", "cfgmigrate(N): debug 2"}));
  }
  EXPECT_EQ(run.debug_level, 0);
}

TEST(LogCaptureTest, DebugLevelZeroCapturesOnlyInfoLines) {
  LogCapture log(0);
  log_debug("cfgmigrate(%d): hidden", 1);
  log_info("cfgmigrate(%d): shown", 2);
  EXPECT_EQ(log.texts(), std::vector<std::string>{"cfgmigrate(N): shown"});
}

TEST(LogCaptureTest, WithoutLineNumberTouchesOnlyTheNumberPrefix) {
  EXPECT_EQ(without_line_number("cfgmigrate(7): a (1): b"), "cfgmigrate(N): a (1): b");
  EXPECT_EQ(without_line_number("cfgmigrate(x): a"), "cfgmigrate(x): a");
  EXPECT_EQ(without_line_number("cfgmigrate(): a"), "cfgmigrate(): a");
  EXPECT_EQ(without_line_number("other(7): a"), "other(7): a");
}

} // namespace

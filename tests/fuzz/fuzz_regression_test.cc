// Replays what the fuzz targets once failed on, and the seed documents, in
// every build of the tests (the sanitizer build included).
#include <dirent.h>
#include <string>
#include <vector>

#include <libxml/parser.h>

#include "cli/log.h"
#include "tests/file_bytes.h"
#include "tests/fuzz/fuzz_entry.h"
#include "tests/private_tmp.h"

namespace {

// Every file of the folder but its README.
std::vector<std::string> inputs_in(const std::string &directory) {
  std::vector<std::string> paths;
  DIR *listing = opendir(directory.c_str());
  if (!listing)
    return paths;
  while (const dirent *entry = readdir(listing)) {
    std::string name = entry->d_name;
    if (name != "." && name != ".." && name != "README.md")
      paths.push_back(directory + "/" + name);
  }
  closedir(listing);
  return paths;
}

const uint8_t *bytes_of(const std::string &text) {
  return reinterpret_cast<const uint8_t *>(text.data());
}

bool parses(const std::string &saved) {
  xmlDoc *document = xmlReadMemory(saved.data(), static_cast<int>(saved.size()), "saved.xml",
                                   nullptr, XML_PARSE_NONET | XML_PARSE_HUGE);
  xmlFreeDoc(document);
  return document != nullptr;
}

class FuzzRegression : public PrivateTmpTest {
protected:
  void SetUp() override {
    PrivateTmpTest::SetUp();
    fuzz_quiet();
  }
  void TearDown() override {
    set_log_tap(nullptr);
    PrivateTmpTest::TearDown();
  }
};

TEST_F(FuzzRegression, MigrationInputsSaveADocumentThatParses) {
  if (!ready())
    return;
  std::vector<std::string> paths = inputs_in(FUZZ_REGRESSIONS "/migration");
  // The seeds reach every step, so the oracle is known to see real output.
  for (const char *seed :
       {"/examples/config-v1.0.16.xml", "/tests/cases/example-full-road/input.xml"})
    paths.push_back(std::string(SOURCE_ROOT) + seed);
  int saved_documents = 0;
  for (const std::string &path : paths) {
    SCOPED_TRACE(path);
    std::string input = read_file(path);
    std::string saved = fuzz_migration(bytes_of(input), input.size());
    if (saved.empty())
      continue;
    ++saved_documents;
    EXPECT_TRUE(parses(saved)) << saved;
  }
  EXPECT_GE(saved_documents, 2);
}

TEST_F(FuzzRegression, VersionLabels) {
  if (!ready())
    return;
  std::vector<std::string> labels;
  for (const std::string &path : inputs_in(FUZZ_REGRESSIONS "/version"))
    labels.push_back(read_file(path));
  // Fields past their byte, negative fields, a label longer than the work
  // text, an empty one, one cut by a NUL.
  labels.insert(labels.end(), {"v4294967295.4294967295.4294967295-99999999", "v-1.-1.-1-00000000",
                               "v" + std::string(200, '9'), "", std::string("v1.4\0.09", 7),
                               "v1.4.09-" + std::string(100, '-'), "v.-.-.-"});
  for (const std::string &label : labels) {
    SCOPED_TRACE(label);
    std::string formatted = fuzz_version_label(bytes_of(label), label.size());
    EXPECT_EQ(formatted[0], 'v');
    EXPECT_LT(formatted.size(), 32u);
  }
}

} // namespace

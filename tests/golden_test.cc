// The golden-case corpus: every folder under tests/cases is one run of the
// built tool, found at run time, so a new case is a new folder. The files
// of a case folder are described in tests/cases/README.md.
//
// The tool runs as "./cfgmigrate" from the run's working folder, so the
// argument echo of -d reads the same wherever the tree is built; in every
// text the working folder's path reads "@DIR@".
#include <syslog.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/sandbox.h"

namespace {

namespace fs = std::filesystem;

const fs::path cases_dir = GOLDEN_CASES_DIR;

std::vector<std::string> case_names() {
  std::vector<std::string> names;
  std::error_code error;
  for (const fs::directory_entry &entry : fs::directory_iterator(cases_dir, error))
    if (entry.is_directory())
      names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool read_file(const fs::path &path, std::string *bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  std::ostringstream text;
  text << in.rdbuf();
  *bytes = text.str();
  return true;
}

std::string replace_all(std::string text, const std::string &from, const std::string &to) {
  if (from.empty())
    return text;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::vector<std::string> arguments(const std::string &text, const std::string &dir) {
  std::vector<std::string> args;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    line = replace_all(line, "@IN@", "input.xml");
    line = replace_all(line, "@OUT@", "output.xml");
    args.push_back(replace_all(line, "@DIR@", dir));
  }
  return args;
}

// Console and syslog texts in the form the case files write them.
std::string placeheld(const std::vector<std::string> &lines, const std::string &dir) {
  std::string text;
  for (const std::string &line : lines)
    text += replace_all(line_placeholder(line), dir, "@DIR@") + "\n";
  return text;
}

std::string syslog_text(const std::vector<SyslogLine> &lines, const std::string &dir) {
  std::vector<std::string> texts;
  for (const SyslogLine &line : lines) {
    const char *level = line.priority == LOG_INFO    ? "info "
                        : line.priority == LOG_DEBUG ? "debug "
                                                     : "other ";
    texts.push_back(level + line_placeholder(line.text));
  }
  return placeheld(texts, dir);
}

std::string unified_diff(Sandbox &sandbox, const fs::path &expected, const std::string &actual,
                         const std::string &name) {
  std::string actual_path = sandbox.write("actual." + name, actual);
  std::string command = "diff -u '" + expected.string() + "' '" + actual_path + "' 2>&1";
  std::string diff;
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe)
    return "(diff could not run)";
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    diff.append(buffer, n);
  pclose(pipe);
  return diff;
}

// Compares one expected file of the case with what the run gave; a missing
// file means `fallback` is expected, or, with no fallback, anything goes.
void expect_file(Sandbox &sandbox, const fs::path &folder, const std::string &name,
                 const std::string &actual, const char *fallback = "") {
  fs::path path = folder / name;
  std::string expected;
  if (!read_file(path, &expected)) {
    if (!fallback)
      return;
    EXPECT_EQ(actual, fallback) << name << " (no expected file: must be empty)";
    return;
  }
  if (actual == expected)
    return;
  ADD_FAILURE() << name << " differs:\n" << unified_diff(sandbox, path, actual, name);
}

// Each file of the case's tmp folder must be in the run's private /tmp
// with the same bytes.
void expect_tmp_files(Sandbox &sandbox, const fs::path &folder) {
  std::error_code error;
  for (const fs::directory_entry &entry : fs::directory_iterator(folder, error)) {
    std::string name = entry.path().filename().string();
    std::string actual;
    if (!read_file(sandbox.tmp_path(name), &actual)) {
      ADD_FAILURE() << "/tmp/" << name << " was not written";
      continue;
    }
    expect_file(sandbox, folder, name, actual, nullptr);
  }
}

class Golden : public testing::TestWithParam<std::string> {};

TEST_P(Golden, Case) {
  REQUIRE_SANDBOX();
  const fs::path folder = cases_dir / GetParam();
  std::string args_text;
  ASSERT_TRUE(read_file(folder / "args", &args_text)) << folder << " has no args file";

  Sandbox sandbox;
  std::error_code error;
  fs::create_symlink(cfgmigrate_binary(), sandbox.path("cfgmigrate"), error);
  ASSERT_FALSE(error) << error.message();
  std::string input;
  if (read_file(folder / "input.xml", &input))
    sandbox.write("input.xml", input);

  SandboxOptions options;
  options.binary = "./cfgmigrate";
  options.args = arguments(args_text, sandbox.dir());
  options.with_control_file = read_file(folder / "control", &options.control_file);
  SandboxResult result = sandbox.run(options);

  std::string status_text = "0";
  read_file(folder / "status", &status_text);
  EXPECT_EQ(result.status, std::stoi(status_text)) << "exit status";

  std::string output;
  if (file_exists(folder / "expected.xml")) {
    EXPECT_TRUE(read_file(sandbox.path("output.xml"), &output)) << "no output.xml written";
    expect_file(sandbox, folder, "expected.xml", output, nullptr);
  } else {
    EXPECT_FALSE(file_exists(sandbox.path("output.xml"))) << "output.xml written";
  }
  expect_file(sandbox, folder, "stdout", replace_all(result.out, sandbox.dir(), "@DIR@"));
  expect_file(sandbox, folder, "stderr", replace_all(result.err, sandbox.dir(), "@DIR@"));
  expect_file(sandbox, folder, "console", placeheld(result.console_lines, sandbox.dir()));
  expect_file(sandbox, folder, "syslog", syslog_text(result.syslog, sandbox.dir()), nullptr);
  expect_tmp_files(sandbox, folder / "tmp");
}

INSTANTIATE_TEST_SUITE_P(Corpus, Golden, testing::ValuesIn(case_names()),
                         [](const testing::TestParamInfo<std::string> &info) {
                           std::string name = info.param;
                           std::replace_if(
                               name.begin(), name.end(), [](char c) { return !isalnum(c); }, '_');
                           return name;
                         });

TEST(GoldenCorpus, IsNotEmpty) { EXPECT_FALSE(case_names().empty()) << cases_dir; }

} // namespace

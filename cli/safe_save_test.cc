#include "cli/safe_save.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include "tests/file_bytes.h"

namespace {

constexpr char old_bytes[] = "<config>old</config>\n";
constexpr char document_text[] = "<config><a>1</a><b/></config>";

void write_file_mode(const std::string &path, const std::string &bytes, mode_t mode = 0644) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fd);
  chmod(path.c_str(), mode);
}

ino_t inode_of(const std::string &path) {
  struct stat status {};
  stat(path.c_str(), &status);
  return status.st_ino;
}

int remove_entry(const char *path, const struct stat *, int, struct FTW *) { return remove(path); }

int failing_errno = EIO;
int fail_make_temp(char *) {
  errno = failing_errno;
  return -1;
}
// Leaves a partial document behind, as a write cut short by a full disk does.
int fail_write(const char *path, xmlDoc *) {
  FILE *file = fopen(path, "wb");
  if (file) {
    fputs("<?xml version=", file);
    fclose(file);
  }
  return -1;
}
int fail_sync(int) {
  errno = EIO;
  return -1;
}
int fail_rename(const char *, const char *) {
  errno = EXDEV;
  return -1;
}

class SafeSaveTest : public testing::Test {
protected:
  void SetUp() override {
    std::string pattern = std::string(SCRATCH_ROOT) + "/safe_save-XXXXXX";
    mkdir(SCRATCH_ROOT, 0755);
    ASSERT_NE(mkdtemp(pattern.data()), nullptr) << pattern;
    dir_ = pattern;
    document_ = xmlReadMemory(document_text, sizeof document_text - 1, "doc.xml", nullptr, 0);
    ASSERT_NE(document_, nullptr);
    saved_calls_ = save_calls;
    saved_umask_ = umask(022);
  }
  void TearDown() override {
    save_calls = saved_calls_;
    umask(saved_umask_);
    xmlFreeDoc(document_);
    nftw(dir_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  // What libxml2's saver alone writes for the document.
  std::string direct_bytes() {
    std::string reference = path("reference.out");
    EXPECT_GE(write_document_direct(reference.c_str(), document_), 0);
    std::string bytes = read_file(reference);
    remove(reference.c_str());
    return bytes;
  }

  std::string dir_;
  xmlDoc *document_ = nullptr;
  SaveCalls saved_calls_{};
  mode_t saved_umask_ = 0;
};

TEST_F(SafeSaveTest, ReplacesAFileWithTheSaversBytesAndLeavesNothingElse) {
  std::string expected = direct_bytes();
  ASSERT_FALSE(expected.empty());
  write_file_mode(path("out.xml"), old_bytes);
  ino_t old_inode = inode_of(path("out.xml"));

  EXPECT_EQ(save_document_safely(path("out.xml").c_str(), document_), 0);
  EXPECT_EQ(read_file(path("out.xml")), expected);
  EXPECT_NE(inode_of(path("out.xml")), old_inode) << "written in place, not replaced";
  EXPECT_EQ(names_in(dir_), std::set<std::string>{"out.xml"});
}

TEST_F(SafeSaveTest, CompressedDocumentsStayCompressedAsTheSaverWritesThem) {
  document_->compression = 9;
  std::string expected = direct_bytes();
  ASSERT_GE(expected.size(), 2u);
  ASSERT_EQ(expected.substr(0, 2), "\x1f\x8b") << "the saver no longer compresses";
  write_file_mode(path("out.xml.gz"), old_bytes);

  EXPECT_EQ(save_document_safely(path("out.xml.gz").c_str(), document_), 0);
  EXPECT_EQ(read_file(path("out.xml.gz")), expected);
}

TEST_F(SafeSaveTest, ModeOfReplacedOrNewFile) {
  const struct {
    const char *name;
    bool exists;
    mode_t mode_before; // of an existing file
    mode_t mask;
    mode_t mode_after;
  } cases[] = {
      {"existing-0640", true, 0640, 022, 0640}, {"existing-0600", true, 0600, 000, 0600},
      {"existing-0755", true, 0755, 077, 0755}, {"existing-2775", true, 02775, 022, 02775},
      {"new-umask-022", false, 0, 022, 0644},   {"new-umask-077", false, 0, 077, 0600},
      {"new-umask-002", false, 0, 002, 0664},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::string out = path(c.name);
    if (c.exists)
      write_file_mode(out, old_bytes, c.mode_before);
    umask(c.mask);
    EXPECT_EQ(save_document_safely(out.c_str(), document_), 0);
    umask(022);
    struct stat status {};
    ASSERT_EQ(stat(out.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, c.mode_after);
  }
}

TEST_F(SafeSaveTest, OwnerAndGroupKeptWhenRoot) {
  if (geteuid() != 0)
    GTEST_SKIP() << "only root can give a file another owner";
  write_file_mode(path("out.xml"), old_bytes, 0640);
  ASSERT_EQ(chown(path("out.xml").c_str(), 4321, 8765), 0);

  EXPECT_EQ(save_document_safely(path("out.xml").c_str(), document_), 0);
  struct stat status {};
  ASSERT_EQ(stat(path("out.xml").c_str(), &status), 0);
  EXPECT_EQ(status.st_uid, 4321u);
  EXPECT_EQ(status.st_gid, 8765u);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
}

TEST_F(SafeSaveTest, LinksStayAndTheFileTheyNameIsReplaced) {
  std::string expected = direct_bytes();
  ASSERT_EQ(mkdir(path("real").c_str(), 0755), 0);
  write_file_mode(path("real/config.xml"), old_bytes, 0600);
  // out.xml -> hop (relative) -> real/config.xml
  ASSERT_EQ(symlink("real/config.xml", path("hop").c_str()), 0);
  ASSERT_EQ(symlink("hop", path("out.xml").c_str()), 0);
  // A link to a file not there yet: the file is made where it points.
  ASSERT_EQ(symlink("real/new.xml", path("dangling.xml").c_str()), 0);

  EXPECT_EQ(save_document_safely(path("out.xml").c_str(), document_), 0);
  EXPECT_EQ(save_document_safely(path("dangling.xml").c_str(), document_), 0);

  struct stat status {};
  ASSERT_EQ(lstat(path("out.xml").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  ASSERT_EQ(lstat(path("dangling.xml").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  EXPECT_EQ(read_file(path("real/config.xml")), expected);
  EXPECT_EQ(read_file(path("real/new.xml")), expected);
  ASSERT_EQ(stat(path("real/config.xml").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  EXPECT_EQ(names_in(dir_), (std::set<std::string>{"dangling.xml", "hop", "out.xml", "real"}));
  EXPECT_EQ(names_in(path("real")), (std::set<std::string>{"config.xml", "new.xml"}));
}

TEST_F(SafeSaveTest, FifoIsWrittenDirectly) {
  std::string expected = direct_bytes();
  ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = read_file(path("pipe")); });

  EXPECT_EQ(save_document_safely(path("pipe").c_str(), document_), 0);
  reader.join();
  EXPECT_EQ(received, expected);
  struct stat status {};
  ASSERT_EQ(lstat(path("pipe").c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
  EXPECT_EQ(names_in(dir_), std::set<std::string>{"pipe"});
}

TEST_F(SafeSaveTest, EscapedNamesGoWhereTheSaverPutsThem) {
  std::string expected = direct_bytes();
  // libxml2 unescapes a file name that reads as a URI reference.
  EXPECT_EQ(save_document_safely(path("a%41.xml").c_str(), document_), 0);
  EXPECT_EQ(names_in(dir_), std::set<std::string>{"aA.xml"});
  EXPECT_EQ(read_file(path("aA.xml")), expected);
}

TEST_F(SafeSaveTest, FailedSaveKeepsTheOldFileAndRemovesItsTemporaryFile) {
  const struct {
    const char *name;
    SaveCalls calls;
  } cases[] = {
      {"write fails", {save_calls.make_temp, fail_write, save_calls.sync, save_calls.rename}},
      {"sync fails",
       {save_calls.make_temp, save_calls.write_document, fail_sync, save_calls.rename}},
      {"rename fails",
       {save_calls.make_temp, save_calls.write_document, save_calls.sync, fail_rename}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    write_file_mode(path("out.xml"), old_bytes, 0640);
    save_calls = c.calls;
    EXPECT_EQ(save_document_safely(path("out.xml").c_str(), document_), -1);
    save_calls = saved_calls_;
    EXPECT_EQ(read_file(path("out.xml")), old_bytes);
    EXPECT_EQ(names_in(dir_), std::set<std::string>{"out.xml"});
  }
}

TEST_F(SafeSaveTest, NoTemporaryFile) {
  std::string expected = direct_bytes();
  const struct {
    const char *name;
    int error;
    bool exists;
    const char *after; // the output's bytes afterwards; null: the saver's
  } cases[] = {
      // A directory that takes no new file: the old way, in place.
      {"read-only directory", EACCES, true, nullptr},
      {"not permitted", EPERM, true, nullptr},
      {"read-only file system", EROFS, true, nullptr},
      // A full file system would cut the old file short: it is kept.
      {"no space", ENOSPC, true, old_bytes},
      {"quota", EDQUOT, true, old_bytes},
      {"too many files", EMFILE, true, old_bytes},
      // Nothing to lose.
      {"no space, new file", ENOSPC, false, nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::string out = path("out.xml");
    remove(out.c_str());
    if (c.exists)
      write_file_mode(out, old_bytes);
    ino_t old_inode = inode_of(out);
    failing_errno = c.error;
    save_calls.make_temp = fail_make_temp;
    int status = save_document_safely(out.c_str(), document_);
    save_calls = saved_calls_;
    EXPECT_EQ(status, c.after ? -1 : 0);
    EXPECT_EQ(read_file(out), c.after ? std::string(c.after) : expected);
    if (c.exists) {
      EXPECT_EQ(inode_of(out), old_inode);
    }
  }
}

TEST_F(SafeSaveTest, AbandonedTemporaryFilesAreRemovedOthersKept) {
  write_file_mode(path("out.xml"), old_bytes);
  const char *abandoned[] = {".out.xml.cfgmigrate-abc123", ".out.xml.cfgmigrate-Z9Z9Z9"};
  const char *not_ours[] = {
      ".out.xml.cfgmigrate-abc12",
      ".out.xml.cfgmigrate-abc1234",
      ".out.xml.cfgmigrate-abc-12",
      ".other.xml.cfgmigrate-abc123",
      ".out.xml.backup",
      "out.xml.cfgmigrate-abc123",
  };
  for (const char *name : abandoned)
    write_file_mode(path(name), "<?xml ver");
  for (const char *name : not_ours)
    write_file_mode(path(name), "keep");
  // One still being written by another run holds its lock.
  write_file_mode(path(".out.xml.cfgmigrate-locked"), "<?xml");
  int held = open(path(".out.xml.cfgmigrate-locked").c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);

  EXPECT_EQ(save_document_safely(path("out.xml").c_str(), document_), 0);
  close(held);

  std::set<std::string> expected_names(std::begin(not_ours), std::end(not_ours));
  expected_names.insert("out.xml");
  expected_names.insert(".out.xml.cfgmigrate-locked");
  EXPECT_EQ(names_in(dir_), expected_names);
}

TEST(TempNameTest, RecognisesOnlyItsOwnPattern) {
  const std::string long_base(300, 'n');
  const std::string long_temp = "." + std::string(200, 'n') + ".cfgmigrate-a1B2c3";
  const struct {
    std::string name;
    std::string base;
    bool ours;
  } cases[] = {
      {".cfg.xml.cfgmigrate-a1B2c3", "cfg.xml", true},
      {".cfg.xml.cfgmigrate-a1B2c", "cfg.xml", false},
      {".cfg.xml.cfgmigrate-a1B2c3d", "cfg.xml", false},
      {".cfg.xml.cfgmigrate-a1B.c3", "cfg.xml", false},
      {".cfg.xml.cfgmigrate-a1B2c3", "cfg.xm", false},
      {"cfg.xml.cfgmigrate-a1B2c3", "cfg.xml", false},
      {".cfg.xml.a1B2c3", "cfg.xml", false},
      {long_temp, long_base, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(is_temp_name_for(c.name.c_str(), c.base.c_str()), c.ours);
  }
}

} // namespace

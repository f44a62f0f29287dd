// A /tmp of the test process's own, for in-process tests of code that
// writes fixed paths there: the process moves into a mount namespace of its
// own once, and each test gets a fresh tmpfs on /tmp, unmounted after it.
// gtest runs single-threaded, which unshare(CLONE_NEWNS) needs.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

// Empty once the process has a private mount namespace; else why not.
inline const std::string &private_mount_namespace() {
  static const std::string reason = [] {
    if (unshare(CLONE_NEWNS) != 0)
      return std::string("unshare(CLONE_NEWNS): ") + strerror(errno);
    // Mounts made from here on must not propagate back to the host.
    if (mount("none", "/", "", MS_REC | MS_PRIVATE, nullptr) != 0)
      return std::string("making / private: ") + strerror(errno);
    return std::string();
  }();
  return reason;
}

// The folder right under /tmp that holds the test executable, when the tree
// was built there (a clone in /tmp/x); empty otherwise.
inline std::string build_tree_under_tmp() {
  char *exe = realpath("/proc/self/exe", nullptr);
  std::string path = exe ? exe : "";
  free(exe);
  if (path.rfind("/tmp/", 0) != 0)
    return "";
  return path.substr(0, path.find('/', 5));
}

// Mounts the folder `kept` refers to back at `top` inside the new /tmp, so a
// build tree under /tmp stays where the tests look for it.
inline std::string mount_back(int kept, const std::string &top) {
  if (mkdir(top.c_str(), 0755) != 0 && errno != EEXIST)
    return "making " + top + ": " + strerror(errno);
  std::string source = "/proc/self/fd/" + std::to_string(kept);
  if (mount(source.c_str(), top.c_str(), "", MS_BIND | MS_REC, nullptr) != 0)
    return "binding " + top + " back: " + strerror(errno);
  return "";
}

inline bool running_in_ci() {
  const char *ci = getenv("CI");
  return ci && strcmp(ci, "true") == 0;
}

class PrivateTmpTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string reason = private_mount_namespace();
    std::string top = build_tree_under_tmp();
    int kept = top.empty() ? -1 : open(top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (reason.empty() &&
        mount("cfgmigrate-test", "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777,size=256m") != 0)
      reason = std::string("mounting a tmpfs on /tmp: ") + strerror(errno);
    if (reason.empty() && kept >= 0) {
      reason = mount_back(kept, top);
      if (!reason.empty())
        umount2("/tmp", MNT_DETACH);
    }
    if (kept >= 0)
      close(kept);
    if (reason.empty()) {
      mounted_ = true;
      return;
    }
    if (running_in_ci())
      FAIL() << "no private /tmp under CI: " << reason;
    GTEST_SKIP() << "needs a private /tmp (run as root with mount namespaces): " << reason;
  }

  void TearDown() override {
    if (mounted_)
      umount2("/tmp", MNT_DETACH);
  }

  // True when the test may go on after SetUp.
  bool ready() const { return mounted_; }

private:
  bool mounted_ = false;
};

// A /tmp of the test process's own, for in-process tests of code that
// writes fixed paths there: the process moves into a mount namespace of its
// own once, and each test gets a fresh tmpfs on /tmp, unmounted after it.
// gtest runs single-threaded, which unshare(CLONE_NEWNS) needs.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <string>
#include <sys/mount.h>

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

inline bool running_in_ci() {
  const char *ci = getenv("CI");
  return ci && strcmp(ci, "true") == 0;
}

class PrivateTmpTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string reason = private_mount_namespace();
    if (reason.empty() &&
        mount("cfgmigrate-test", "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777,size=256m") != 0)
      reason = std::string("mounting a tmpfs on /tmp: ") + strerror(errno);
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

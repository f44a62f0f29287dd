// The migration writes image files to fixed /tmp paths: a fuzzer process
// gets a tmpfs /tmp of its own in a private mount namespace, or stops.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>

inline void enter_private_tmp() {
  const char *step = nullptr;
  if (unshare(CLONE_NEWNS) != 0)
    step = "unshare(CLONE_NEWNS)";
  else if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    step = "making / private";
  else if (mount("cfgmigrate-fuzz", "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "size=64m") != 0)
    step = "tmpfs on /tmp";
  if (!step)
    return;
  fprintf(stderr, "fuzzer needs a private /tmp (run as root): %s: %s\n", step, strerror(errno));
  exit(1);
}

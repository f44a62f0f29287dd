// The unit tests' one assertion. Each *_test.cc is a program of its own,
// run in the build folder without a sandbox, whose main returns
// check_failures != 0.
#pragma once

#include <cstdio>

inline int check_failures = 0;

#define CHECK(condition)                                                                           \
  ((condition) ? (void)0                                                                           \
               : (void)fprintf(stderr, "%s:%d: failed %d: %s\n", __FILE__, __LINE__,               \
                               ++check_failures, #condition))

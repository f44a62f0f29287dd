// Force-included by the musl builds (cmake/router-libs.cmake): GCC's C++
// headers, as Debian builds them, take these names from glibc's C headers.
// The tool calls none of them; <memory> brings in <ostream> and with it the
// locale and thread parts that name them.
#pragma once
#include <features.h>
#include <locale.h>
#include <pthread.h>
#include <time.h>

#define __GLIBC_PREREQ(major, minor) 0
typedef locale_t __locale_t;
// glibc's character class bits, the masks of std::ctype_base.
enum {
  _ISupper = 1 << 0,
  _ISlower = 1 << 1,
  _ISalpha = 1 << 2,
  _ISdigit = 1 << 3,
  _ISxdigit = 1 << 4,
  _ISspace = 1 << 5,
  _ISprint = 1 << 6,
  _ISgraph = 1 << 7,
  _ISblank = 1 << 8,
  _IScntrl = 1 << 9,
  _ISpunct = 1 << 10,
  _ISalnum = 1 << 11
};

// glibc's waits on a given clock, by musl's on the real-time clock.
static inline struct timespec __musl_cxx_realtime(clockid_t clock, const struct timespec *at) {
  struct timespec now, real;
  clock_gettime(clock, &now);
  clock_gettime(CLOCK_REALTIME, &real);
  long nanoseconds = real.tv_nsec + (at->tv_nsec - now.tv_nsec);
  real.tv_sec += at->tv_sec - now.tv_sec + nanoseconds / 1000000000 - (nanoseconds < 0);
  real.tv_nsec = (nanoseconds % 1000000000 + 1000000000) % 1000000000;
  return real;
}
static inline int pthread_cond_clockwait(pthread_cond_t *cond, pthread_mutex_t *mutex,
                                         clockid_t clock, const struct timespec *at) {
  struct timespec real = __musl_cxx_realtime(clock, at);
  return pthread_cond_timedwait(cond, mutex, &real);
}
static inline int pthread_mutex_clocklock(pthread_mutex_t *mutex, clockid_t clock,
                                          const struct timespec *at) {
  struct timespec real = __musl_cxx_realtime(clock, at);
  return pthread_mutex_timedlock(mutex, &real);
}
static inline int pthread_rwlock_clockrdlock(pthread_rwlock_t *lock, clockid_t clock,
                                             const struct timespec *at) {
  struct timespec real = __musl_cxx_realtime(clock, at);
  return pthread_rwlock_timedrdlock(lock, &real);
}
static inline int pthread_rwlock_clockwrlock(pthread_rwlock_t *lock, clockid_t clock,
                                             const struct timespec *at) {
  struct timespec real = __musl_cxx_realtime(clock, at);
  return pthread_rwlock_timedwrlock(lock, &real);
}

// What the static C++ runtime, built against glibc, asks of it in the test
// programs: weak, so any real one wins. The unwinder falls back to
// dl_iterate_phdr when _dl_find_object finds nothing.
#include <stdint.h>
#include <sys/random.h>
extern "C" {
__attribute__((weak)) char __libc_single_threaded = 0;
__attribute__((weak)) uint32_t arc4random(void) {
  uint32_t value = 0;
  getrandom(&value, sizeof value, 0);
  return value;
}
struct dl_find_object;
__attribute__((weak)) int _dl_find_object(void *, struct dl_find_object *) { return -1; }
}

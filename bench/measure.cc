// Runs a command several times and reports the median wall time and the
// peak resident memory of the process (its own, from wait4), after one
// unmeasured run that warms the page cache.
//
//   measure RUNS COMMAND [ARGUMENTS...]
//
// Prints one line: median, fastest and slowest wall seconds, the median
// peak resident set in KiB, and the median CPU seconds (user + system),
// which a busy machine disturbs less than the wall time. The command's standard output is
// discarded. Fails when any run of the command does not exit with status 0.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

struct Sample {
  double seconds;
  double cpu_seconds;
  long peak_kib;
};

double seconds_of(const timeval &time) { return double(time.tv_sec) + double(time.tv_usec) * 1e-6; }

double now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

bool run_once(char **command, Sample *sample) {
  double start = now();
  pid_t child = fork();
  if (child < 0) {
    perror("measure: fork");
    return false;
  }
  if (child == 0) {
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0)
      dup2(null, STDOUT_FILENO);
    execvp(command[0], command);
    fprintf(stderr, "measure: cannot run %s: %s\n", command[0], strerror(errno));
    _exit(127);
  }
  int status = 0;
  rusage usage;
  while (wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      perror("measure: wait4");
      return false;
    }
  }
  sample->seconds = now() - start;
  sample->peak_kib = usage.ru_maxrss;
  sample->cpu_seconds = seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "measure: %s ended with status %d\n", command[0],
            WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return false;
  }
  return true;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    fputs("usage: measure RUNS COMMAND [ARGUMENTS...]\n", stderr);
    return 2;
  }
  int runs = atoi(argv[1]);
  if (runs < 1 || runs > 1000) {
    fputs("measure: RUNS must be 1 to 1000\n", stderr);
    return 2;
  }
  char **command = argv + 2;
  Sample warm_up;
  if (!run_once(command, &warm_up))
    return 1;
  double seconds[1000];
  double cpu_seconds[1000];
  long peaks[1000];
  for (int i = 0; i < runs; ++i) {
    Sample sample;
    if (!run_once(command, &sample))
      return 1;
    seconds[i] = sample.seconds;
    cpu_seconds[i] = sample.cpu_seconds;
    peaks[i] = sample.peak_kib;
  }
  std::sort(seconds, seconds + runs);
  std::sort(cpu_seconds, cpu_seconds + runs);
  std::sort(peaks, peaks + runs);
  printf("%.6f %.6f %.6f %ld %.6f\n", seconds[runs / 2], seconds[0], seconds[runs - 1],
         peaks[runs / 2], cpu_seconds[runs / 2]);
  return 0;
}

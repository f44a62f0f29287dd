// Runs commands several times, interleaved, and reports for each the median
// wall time and the peak resident memory of its process (its own, from
// wait4), after one unmeasured run of each that warms the page cache.
// Interleaving lets a busy machine weigh on every command alike.
//
//   measure RUNS COMMAND [ARGUMENTS...] [:: COMMAND [ARGUMENTS...]]...
//
// Prints one line per command: median, fastest and slowest wall seconds,
// the median peak resident set in KiB, and the median CPU seconds (user +
// system). Commands' standard output is discarded. Fails when any run of
// a command does not exit with status 0.
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

constexpr int max_runs = 100;
constexpr int max_commands = 8;

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

void report(const Sample *samples, int runs) {
  double seconds[max_runs], cpu_seconds[max_runs];
  long peaks[max_runs];
  for (int i = 0; i < runs; ++i) {
    seconds[i] = samples[i].seconds;
    cpu_seconds[i] = samples[i].cpu_seconds;
    peaks[i] = samples[i].peak_kib;
  }
  std::sort(seconds, seconds + runs);
  std::sort(cpu_seconds, cpu_seconds + runs);
  std::sort(peaks, peaks + runs);
  printf("%.6f %.6f %.6f %ld %.6f\n", seconds[runs / 2], seconds[0], seconds[runs - 1],
         peaks[runs / 2], cpu_seconds[runs / 2]);
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    fputs("usage: measure RUNS COMMAND [ARGUMENTS...] [:: COMMAND [ARGUMENTS...]]...\n", stderr);
    return 2;
  }
  int runs = atoi(argv[1]);
  if (runs < 1 || runs > max_runs) {
    fputs("measure: RUNS must be 1 to 100\n", stderr);
    return 2;
  }
  // Split the rest at "::" into NULL-terminated argument vectors.
  char **commands[max_commands];
  int count = 0;
  for (int i = 2; i < argc && count < max_commands; ++i) {
    commands[count++] = argv + i;
    while (i < argc && strcmp(argv[i], "::") != 0)
      ++i;
    if (i < argc)
      argv[i] = nullptr;
  }
  static Sample samples[max_commands][max_runs];
  Sample warm_up;
  for (int c = 0; c < count; ++c) {
    if (!run_once(commands[c], &warm_up))
      return 1;
  }
  for (int r = 0; r < runs; ++r) {
    for (int c = 0; c < count; ++c) {
      if (!run_once(commands[c], &samples[c][r]))
        return 1;
    }
  }
  for (int c = 0; c < count; ++c)
    report(samples[c], runs);
  return 0;
}

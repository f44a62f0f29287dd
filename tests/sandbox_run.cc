// Runs the built cfgmigrate once in the end-to-end sandbox and shows what
// it did to the machine it thinks it runs on: exit status, console lines,
// syslog datagrams and the files it left in /tmp. Used by `make demo`.
//
//   sandbox_run --check      exit 0 when a sandbox can be made, else say why
//   sandbox_run ARG...       run cfgmigrate ARG... (paths outside /tmp)
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <syslog.h>

#include "tests/sandbox.h"

namespace {

const char *priority_name(int priority) {
  if (priority == LOG_INFO)
    return "info";
  return priority == LOG_DEBUG ? "debug" : "other";
}

void print_section(const char *title) { printf("\n--- %s ---\n", title); }

void print_tmp_files(const Sandbox &sandbox) {
  DIR *folder = opendir(sandbox.tmp_path("").c_str());
  if (!folder)
    return;
  int count = 0;
  while (const dirent *entry = readdir(folder)) {
    if (entry->d_name[0] == '.')
      continue;
    struct stat info;
    if (stat(sandbox.tmp_path(entry->d_name).c_str(), &info) != 0)
      continue;
    printf("/tmp/%s (%lld bytes)\n", entry->d_name, static_cast<long long>(info.st_size));
    ++count;
  }
  closedir(folder);
  if (count == 0)
    printf("(none)\n");
}

} // namespace

int main(int argc, char **argv) {
  std::string why;
  if (!sandbox_available(&why)) {
    fprintf(stderr, "no sandbox: %s\n", why.c_str());
    return 125;
  }
  if (argc == 2 && strcmp(argv[1], "--check") == 0)
    return 0;

  Sandbox sandbox;
  SandboxOptions options;
  options.args.assign(argv + 1, argv + argc);
  SandboxResult result = sandbox.run(options);
  if (result.status < 0) {
    fprintf(stderr, "the sandbox could not run %s\n", cfgmigrate_binary());
    return 125;
  }
  fwrite(result.out.data(), 1, result.out.size(), stdout);
  fwrite(result.err.data(), 1, result.err.size(), stderr);
  fflush(stderr);

  printf("exit status: %d\n", result.status);
  print_section("/dev/console");
  for (const std::string &line : result.console_lines)
    printf("%s\n", line.c_str());
  print_section("syslog (/dev/log)");
  for (const SyslogLine &line : result.syslog)
    printf("%-6s %s\n", priority_name(line.priority), line.text.c_str());
  print_section("files left in /tmp");
  print_tmp_files(sandbox);
  return result.status;
}

#include "cli/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "engine/step_table.h"
#include "engine/version.h"
#include "engine/walk.h"
#include "toolkit/log.h"
#include "toolkit/run_state.h"

namespace {

// Kept byte for byte, "new-veriosn" included: scripts and operators match it.
constexpr char usage_text[] =
    "Usage: cfgmigrate [options] <old-version> <new-veriosn> <input xml> <output xml>\n"
    "Options:\n"
    "  -h\tDisplay this help\n"
    "  -v\tShow version and quit\n"
    "  -c\tcheck if need to do upgrade actually and quit\n"
    "  -d\tDebug level\n";

constexpr char yang_version_command[] =
    "cat /usr/lib/opkg/info/orvalis-yang.control | grep Version | awk -F[\\ ] '{print $2}'";

// The whole argument vector, "%s " each, cut to what fits in 128 bytes.
void log_arguments(int argc, char **argv) {
  char line[128];
  size_t used = 0;
  line[0] = '\0';
  for (int i = 0; i < argc; ++i) {
    int written = snprintf(line + used, sizeof line - used, "%s ", argv[i]);
    if (written < 0 || used + static_cast<size_t>(written) >= sizeof line)
      break;
    used += static_cast<size_t>(written);
  }
  log_debug("cfgmigrate(%d): %s", __LINE__, line);
}

} // namespace

void print_usage() {
  fputs(usage_text, stderr);
  exit(1);
}

void print_versions() {
  FILE *command = popen(yang_version_command, "r");
  if (!command)
    exit(0);
  char word[64] = "";
  if (fscanf(command, "%63s", word) != 1)
    word[0] = '\0';
  printf("yang-model version:\t v%s\n", word);
  printf("cfgmigrate version:\t %s\n", step_table[step_count - 1].to_label);
  pclose(command);
  exit(0);
}

void parse_command_line(int argc, char **argv) {
  bool check_only = false;
  for (int option; (option = getopt(argc, argv, "dhvc")) != -1;) {
    switch (option) {
    case 'd':
      ++run.debug_level;
      break;
    case 'v':
      print_versions();
    case 'c':
      check_only = true;
      break;
    default:
      print_usage();
    }
  }
  if (run.debug_level != 0)
    log_arguments(argc, argv);

  int positional_count = argc - optind;
  char **positional = argv + optind;
  if (positional_count <= 1)
    print_usage();

  run.source_version = parse_version(positional[0]);
  run.target_version = parse_version(positional[1]);
  if (check_only)
    exit(check_migration());

  if (positional_count != 4) {
    log_info("cfgmigrate(%d): Error: wrong number of arguments.", __LINE__);
    print_usage();
  }
  run.input_path = positional[2];
  run.output_path = positional[3];
}

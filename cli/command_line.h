// Options, arguments and the early exits: usage, version report, check mode.
#pragma once

// Fills the run state; may end the process.
void parse_command_line(int argc, char **argv);

[[noreturn]] void print_usage();
[[noreturn]] void print_versions();

#include "cli/run.h"

int main(int argc, char **argv) { return cfgmigrate_main(argc, argv); }

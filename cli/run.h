// The whole run, from the command line to the exit status.
#pragma once

int cfgmigrate_main(int argc, char **argv);

// Diagnostic log: the console (when debugging) and syslog.
//
// Every format starts with "cfgmigrate(%d): " and its first argument is
// __LINE__ of the logging statement.
#pragma once

// The texts logged through these are kept byte for byte, misspellings
// included: scripts and operators match them.
void log_info(const char *format, ...) __attribute__((format(printf, 1, 2)));
void log_debug(const char *format, ...) __attribute__((format(printf, 1, 2)));

#include "cli/log.h"

#include <cstdio>
#include <syslog.h>

#include "cli/run_state.h"

namespace {

LogTap log_tap = nullptr;

void tap_line(int priority, const char *format, va_list arguments)
    __attribute__((format(printf, 2, 0)));

void tap_line(int priority, const char *format, va_list arguments) {
  char line[4096];
  vsnprintf(line, sizeof line, format, arguments);
  log_tap(priority, line);
}

} // namespace

void set_log_tap(LogTap tap) { log_tap = tap; }

void console_write(const char *format, va_list arguments) {
  FILE *console = fopen("/dev/console", "a");
  if (!console)
    return;
  vfprintf(console, format, arguments);
  fputc('\n', console);
  fclose(console);
}

void log_info(const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  if (log_tap) {
    tap_line(LOG_INFO, format, arguments);
    va_end(arguments);
    return;
  }
  if (run.debug_level > 0) {
    va_list console_copy;
    va_copy(console_copy, arguments);
    console_write(format, console_copy);
    va_end(console_copy);
  }
  vsyslog(LOG_INFO, format, arguments);
  va_end(arguments);
}

void log_debug(const char *format, ...) {
  if (run.debug_level == 0)
    return;
  va_list arguments;
  va_start(arguments, format);
  if (log_tap) {
    tap_line(LOG_DEBUG, format, arguments);
    va_end(arguments);
    return;
  }
  va_list console_copy;
  va_copy(console_copy, arguments);
  console_write(format, console_copy);
  va_end(console_copy);
  vsyslog(LOG_DEBUG, format, arguments);
  va_end(arguments);
}

#include "toolkit/log.h"

#include <cstdarg>
#include <cstdio>
#include <syslog.h>

#include "toolkit/run_state.h"

namespace {

// Opened and closed per line; a console that cannot be opened loses the line.
__attribute__((format(printf, 1, 0))) void console_write(const char *format, va_list arguments) {
  FILE *console = fopen("/dev/console", "a");
  if (!console)
    return;
  vfprintf(console, format, arguments);
  fputc('\n', console);
  fclose(console);
}

} // namespace

void log_info(const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
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
  va_list console_copy;
  va_copy(console_copy, arguments);
  console_write(format, console_copy);
  va_end(console_copy);
  vsyslog(LOG_DEBUG, format, arguments);
  va_end(arguments);
}

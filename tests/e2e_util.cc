#include "tests/e2e_util.h"

#include <cstdio>
#include <syslog.h>

#include "engine/step_table.h"

std::string namespace_uri(const std::string &prefix) {
  for (const NamespaceBinding *binding = namespace_table; binding->prefix; ++binding)
    if (prefix == binding->prefix)
      return binding->uri;
  ADD_FAILURE() << "no namespace prefix " << prefix;
  return "";
}

std::string with_namespaces(const std::string &text) {
  std::string out;
  size_t start = 0;
  for (size_t open; (open = text.find('{', start)) != std::string::npos;) {
    size_t close = text.find('}', open);
    if (close == std::string::npos)
      break;
    out +=
        text.substr(start, open - start) + namespace_uri(text.substr(open + 1, close - open - 1));
    start = close + 1;
  }
  return out + text.substr(start);
}

std::string read_file(const std::string &path) {
  std::string bytes;
  FILE *stream = fopen(path.c_str(), "rb");
  if (!stream) {
    ADD_FAILURE() << "cannot read " << path;
    return bytes;
  }
  char buffer[65536];
  for (size_t length; (length = fread(buffer, 1, sizeof buffer, stream)) > 0;)
    bytes.append(buffer, length);
  fclose(stream);
  return bytes;
}

SandboxResult run_tool(Sandbox &sandbox, std::vector<std::string> args, bool control_file) {
  SandboxOptions options;
  options.args = std::move(args);
  options.with_control_file = control_file;
  return sandbox.run(options);
}

std::vector<std::string> placeheld(const std::vector<std::string> &lines) {
  std::vector<std::string> out;
  for (const std::string &line : lines)
    out.push_back(line_placeholder(line));
  return out;
}

std::vector<std::string> syslog_lines(const SandboxResult &result) {
  std::vector<std::string> out;
  for (const SyslogLine &line : result.syslog) {
    const char *level = line.priority == LOG_INFO    ? "info: "
                        : line.priority == LOG_DEBUG ? "debug: "
                                                     : "other: ";
    out.push_back(level + line_placeholder(line.text));
  }
  return out;
}

std::string argument_echo(const std::vector<std::string> &args) {
  std::string echo = std::string(cfgmigrate_binary()) + " ";
  for (const std::string &arg : args)
    echo += arg + " ";
  return "cfgmigrate(N): " + echo.substr(0, 127);
}

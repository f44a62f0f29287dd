// Shorthands for end-to-end tests: documents in the tool's namespaces and
// log lines in a comparable form.
#pragma once

#include <string>
#include <vector>

#include "tests/sandbox.h"

// The URI bound to an XPath prefix of the namespace table ("config",
// "netconf", ...); fails the test for an unknown prefix.
std::string namespace_uri(const std::string &prefix);

// Replaces each "{prefix}" in `text` by namespace_uri(prefix), so documents
// are written once for whatever namespaces the build was configured with.
std::string with_namespaces(const std::string &text);

// The whole file; fails the test when it cannot be read.
std::string read_file(const std::string &path);

// Runs the built tool with these arguments.
SandboxResult run_tool(Sandbox &sandbox, std::vector<std::string> args, bool control_file = false);

// Each line with its source line number replaced by "N".
std::vector<std::string> placeheld(const std::vector<std::string> &lines);

// Every datagram as "info: text" or "debug: text" (line numbers replaced),
// so priority and text compare in one go.
std::vector<std::string> syslog_lines(const SandboxResult &result);

// The argument echo the tool logs at debug level: "%s " of every argument
// from the binary path on, cut to what a 128-byte buffer holds.
std::string argument_echo(const std::vector<std::string> &args);

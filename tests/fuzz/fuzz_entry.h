// What the fuzz targets run on each input, shared with the test that
// replays the inputs that once failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Parses the bytes as the input document, upgrades it from the oldest
// label of the step table to the newest and downgrades it back, then strips
// blank nodes and saves it to memory as the tool saves it. Returns the
// saved text; empty when the bytes do not parse. Writes /tmp/cpp_*.jpg like
// the tool: callers give the process a /tmp of its own.
std::string fuzz_migration(const uint8_t *data, size_t size);

// parse_version on the bytes as a label, format_version on the code and on
// the first four bytes taken as a code. Returns the formatted label.
std::string fuzz_version_label(const uint8_t *data, size_t size);

// Log lines and libxml2's diagnostics are dropped.
void fuzz_quiet();

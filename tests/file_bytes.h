// Whole-file reads and writes for tests that check bytes on disk.
#pragma once

#include <cstdio>
#include <string>

// The file's bytes; empty when it cannot be opened.
inline std::string read_file(const std::string &path) {
  std::string bytes;
  FILE *file = fopen(path.c_str(), "rb");
  if (!file)
    return bytes;
  char chunk[65536];
  for (size_t got; (got = fread(chunk, 1, sizeof chunk, file)) > 0;)
    bytes.append(chunk, got);
  fclose(file);
  return bytes;
}

inline bool write_file(const std::string &path, const std::string &bytes) {
  FILE *file = fopen(path.c_str(), "wb");
  if (!file)
    return false;
  bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && written;
}

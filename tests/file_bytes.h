// Whole-file reads and writes, and folder listings, for tests that check
// what is on disk.
#pragma once

#include <cstdio>
#include <dirent.h>
#include <set>
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

// The names in a folder, without "." and "..".
inline std::set<std::string> names_in(const std::string &directory) {
  std::set<std::string> names;
  DIR *listing = opendir(directory.c_str());
  if (!listing)
    return names;
  while (const dirent *entry = readdir(listing)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..")
      names.insert(name);
  }
  closedir(listing);
  return names;
}

// Helpers for the tests of the content codecs and of the image step: file
// bytes, standard output caught in a file, and a plain group-at-a-time
// Base64 encoder to compare against.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/file_bytes.h"

// `bytes` as hex text, two digits a byte, high nibble first.
inline std::string hex_text(const std::string &bytes, const char *digits = "0123456789ABCDEF") {
  std::string text;
  for (unsigned char byte : bytes) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

// RFC 4648 Base64 of `bytes`, padded.
inline std::string reference_base64(const std::string &bytes) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    size_t left = bytes.size() - i;
    unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
    if (left > 1)
      group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (left > 2)
      group |= static_cast<unsigned char>(bytes[i + 2]);
    text += alphabet[group >> 18 & 63];
    text += alphabet[group >> 12 & 63];
    text += left > 1 ? alphabet[group >> 6 & 63] : '=';
    text += left > 2 ? alphabet[group & 63] : '=';
  }
  return text;
}

// `size` bytes that run through every value and do not repeat with period 3.
inline std::string patterned_bytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return bytes;
}

// Sends standard output (fd 1 and stdio) to a file until text() is called.
class StdoutCapture {
public:
  explicit StdoutCapture(std::string path) : path_(std::move(path)) {
    fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    FILE *sink = fopen(path_.c_str(), "wb");
    if (!sink)
      return;
    dup2(fileno(sink), STDOUT_FILENO);
    fclose(sink);
  }
  ~StdoutCapture() { restore(); }
  StdoutCapture(const StdoutCapture &) = delete;
  StdoutCapture &operator=(const StdoutCapture &) = delete;

  std::string text() {
    restore();
    return read_file(path_);
  }

private:
  void restore() {
    if (saved_ < 0)
      return;
    fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    saved_ = -1;
  }

  std::string path_;
  int saved_ = -1;
};

// The encoder's limits, which the image step reaches only with images it
// never encodes: seen here with buffers of a few bytes.
#include <algorithm>
#include <cstdio>
#include <string>

#include "tests/check.h"
#include "toolkit/codec.h"

// "count:" and a buffer of 16 '#' after encoding a file of the first `size`
// bytes of ABCDABCDABCD into it, NUL shown as '|'.
std::string encode(size_t size, int32_t limit) {
  FILE *file = fopen("image.jpg", "wb");
  fwrite("ABCDABCDABCD", 1, size, file);
  fclose(file);
  std::string out(16, '#');
  int32_t count = base64_encode_file("image.jpg", out.data(), limit);
  std::replace(out.begin(), out.end(), '\0', '|');
  return std::to_string(count) + ":" + out;
}

std::string holds(const std::string &text) {
  return std::to_string(text.size()) + ":" + text + "|" + std::string(15 - text.size(), '#');
}

int main() {
  // The last group is completed only with one byte to spare beyond the NUL.
  CHECK(encode(1, 6) == holds("QQ==") && encode(1, 5) == holds("Q") &&
        encode(3, 5) == holds("QUJD"));
  CHECK(encode(4, 10) == holds("QUJDRA==") && encode(4, 9) == holds("QUJDR"));
  CHECK(encode(5, 10) == holds("QUJDREE=") && encode(5, 9) == holds("QUJDRE"));
  // A text that reaches the limit before its last group ends at limit - 1.
  CHECK(encode(8, 10) == holds("QUJDREFCQ") && encode(3, 4) == holds("QUJ"));
  CHECK(encode(3, 3) == holds("QU") && encode(9, 1) == holds("") &&
        encode(9, 0) == "0:################");
  return check_failures != 0;
}

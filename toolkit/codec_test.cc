// The encoder's limits, which the image step reaches only with images it
// never encodes: seen here with buffers of a few bytes.
#include <algorithm>
#include <cstdio>
#include <string>

#include "tests/check.h"
#include "toolkit/codec.h"

// "count:" and a buffer of 16 '#' after encoding a file of the first `size`
// bytes of ABCDABCDABCD into it, NUL shown as '|': what lies beyond the
// NUL must be untouched.
std::string encode(size_t size, int32_t limit) {
  FILE *file = fopen("image.jpg", "wb");
  fwrite("ABCDABCDABCD", 1, size, file);
  fclose(file);
  std::string out(16, '#');
  int32_t count = base64_encode_file("image.jpg", out.data(), limit);
  std::replace(out.begin(), out.end(), '\0', '|');
  return std::to_string(count) + ":" + out;
}

int main() {
  // The last group is completed only with one byte to spare beyond the NUL.
  CHECK(encode(1, 6) == "4:QQ==|###########" && encode(1, 5) == "1:Q|##############" &&
        encode(3, 5) == "4:QUJD|###########");
  CHECK(encode(4, 10) == "8:QUJDRA==|#######" && encode(4, 9) == "5:QUJDR|##########");
  CHECK(encode(5, 10) == "8:QUJDREE=|#######" && encode(5, 9) == "6:QUJDRE|#########");
  // A text that reaches the limit before its last group ends at limit - 1.
  CHECK(encode(8, 10) == "9:QUJDREFCQ|######" && encode(3, 4) == "3:QUJ|############");
  CHECK(encode(3, 3) == "2:QU|#############" && encode(9, 1) == "0:|###############" &&
        encode(9, 0) == "0:################");
  return check_failures != 0;
}

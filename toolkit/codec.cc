#include "toolkit/codec.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "toolkit/memory.h"

namespace {

const char base64_alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The two characters of every 12 bits, for whole groups; made on first use.
char base64_pairs[4096][2];
bool base64_pairs_made;

void make_base64_pairs() {
  for (unsigned bits = 0; bits < 4096; ++bits) {
    base64_pairs[bits][0] = base64_alphabet[bits >> 6];
    base64_pairs[bits][1] = base64_alphabet[bits & 0x3F];
  }
  base64_pairs_made = true;
}

// A stream that could not be had for want of memory must not pass for an
// unreadable file: the run then saves nothing.
int32_t cannot_read(const char *path) {
  note_if_out_of_memory(errno);
  printf("Can't open %s for reading!\n", path);
  return 0;
}

// Encodes what `file` holds from its position on, then closes it: the
// stream must not outlive this call.
int32_t encode_and_close(FILE *file, char *out, int32_t limit) {
  if (!base64_pairs_made)
    make_base64_pairs();
  // Unbuffered, so each read goes straight into the block.
  setvbuf(file, nullptr, _IONBF, 0);
  unsigned char block[65536];
  // One byte is always kept for the NUL. A text that fits never reaches it,
  // so the guard only cuts files too large for the buffer: the characters of
  // each byte are stored as soon as their bits are known, and the text stops
  // where the next one would take the NUL's place.
  int32_t n = 0;
  int position = 0;
  unsigned previous = 0;
  size_t got;
  while (n + 1 < limit && (got = fread(block, 1, sizeof block, file)) > 0) {
    const unsigned char *in = block;
    const unsigned char *end = block + got;
    while (in < end && n + 1 < limit) {
      // Whole groups, three bytes to four characters: as many as the block
      // holds whose four characters all come before the NUL's byte.
      size_t groups =
          position == 0 ? std::min<int64_t>((end - in) / 3, (int64_t{limit} - n - 1) / 4) : 0;
      if (groups > 0) {
        char *text = out + n;
        for (const unsigned char *last = in + 3 * groups; in < last; in += 3, text += 4) {
          unsigned group = unsigned{in[0]} << 16 | unsigned{in[1]} << 8 | in[2];
          memcpy(text, base64_pairs[group >> 12], 2);
          memcpy(text + 2, base64_pairs[group & 0xFFF], 2);
        }
        n += static_cast<int32_t>(4 * groups);
        continue;
      }
      unsigned byte = *in++;
      if (position == 0) {
        out[n++] = base64_alphabet[byte >> 2];
        position = 1;
      } else if (position == 1) {
        out[n++] = base64_alphabet[((previous & 0x03) << 4) | (byte >> 4)];
        position = 2;
      } else {
        out[n++] = base64_alphabet[((previous & 0x0F) << 2) | (byte >> 6)];
        if (n + 1 < limit)
          out[n++] = base64_alphabet[byte & 0x3F];
        position = 0;
      }
      previous = byte;
    }
  }
  if (position == 1 && int64_t{n} + 4 < limit) {
    out[n++] = base64_alphabet[(previous & 0x03) << 4];
    out[n++] = '=';
    out[n++] = '=';
  } else if (position == 2 && int64_t{n} + 3 < limit) {
    out[n++] = base64_alphabet[(previous & 0x0F) << 2];
    out[n++] = '=';
  }
  if (n < limit)
    out[n] = '\0';
  fclose(file);
  return n;
}

} // namespace

uint8_t hex_digit_value(unsigned char character) {
  if (character >= 'A' && character <= 'F')
    return character - 55;
  if (character >= '0' && character <= '9')
    return character & 0x0F;
  if (character >= 'a' && character <= 'f')
    return character - 87;
  return 0;
}

int32_t base64_encode_file(const char *path, int descriptor, char *out, int32_t limit) {
  // The stream closes a copy of the descriptor: a lock the caller holds
  // through its own stays until the caller closes that.
  int copy = lseek(descriptor, 0, SEEK_SET) == 0 ? fcntl(descriptor, F_DUPFD_CLOEXEC, 0) : -1;
  FILE *file = copy >= 0 ? fdopen(copy, "rb") : nullptr;
  if (file)
    return encode_and_close(file, out, limit);
  if (copy >= 0)
    close(copy);
  return cannot_read(path);
}

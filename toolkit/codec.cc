#include "toolkit/codec.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "toolkit/memory.h"

namespace {

const char base64_alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// A stream that could not be had for want of memory must not pass for an
// unreadable file: the run then saves nothing.
int32_t cannot_read(const char *path) {
  note_if_out_of_memory(errno);
  printf("Can't open %s for reading!\n", path);
  return 0;
}

// Encodes what `file` holds from its position on, then closes it: the
// stream's buffer lives here, so the stream must not outlive this call.
int32_t encode_and_close(FILE *file, char *out, int32_t limit) {
  // Still one getc per byte, from a buffer big enough that an image takes
  // a few reads instead of one per 4 KiB; the process has one thread, so
  // the stream needs no lock.
  char buffer[65536];
  setvbuf(file, buffer, _IOFBF, sizeof buffer);
  // One byte is always kept for the NUL. A text that fits never reaches it,
  // so the guard only cuts files too large for the buffer.
  int32_t n = 0;
  int position = 0;
  int previous = 0;
  int byte;
  while (n + 1 < limit && (byte = getc_unlocked(file)) != EOF) {
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

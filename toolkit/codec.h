// Conversions for element contents that carry raw bytes: hex digits in,
// whole files out as Base64.
#pragma once

#include <cstdint>

// 0 to 15 for a hexadecimal digit of either case; 0 for any other byte,
// so the digit "0" and a non-digit cannot be told apart.
uint8_t hex_digit_value(unsigned char character);

// Writes the Base64 text (standard alphabet, padded, one line) of the file
// `path`, read from its start through `descriptor`, open on it, and never
// by name: in a shared folder the name may lead elsewhere by then. The
// descriptor stays open. The text goes into `out`, `limit` bytes long,
// ended with a NUL. Returns the number of characters, NUL not counted. The
// last group is completed only with room to spare; a text that would fill
// the buffer earlier is cut to limit - 1 characters. A file that cannot be
// read gets a message naming `path` on stdout, leaves `out` untouched and
// returns 0.
int32_t base64_encode_file(const char *path, int descriptor, char *out, int32_t limit);

// Conversions for element contents that carry raw bytes: hex digits in,
// whole files out as Base64.
#pragma once

#include <cstdint>

// 0 to 15 for a hexadecimal digit of either case; 0 for any other byte,
// so the digit "0" and a non-digit cannot be told apart.
uint8_t hex_digit_value(unsigned char character);

// Writes the Base64 text (standard alphabet, padded, one line) of the file
// at `path` into `out`, `limit` bytes long, and ends it with a NUL. Returns
// the number of characters, NUL not counted. The last group is completed
// only with room to spare; a text that would fill the buffer earlier is cut
// to limit - 1 characters. A file that cannot be opened gets a message on
// stdout, leaves `out` untouched and returns 0.
int32_t base64_encode_file(const char *path, char *out, int32_t limit);

// The same for the file open as `descriptor`, read from its start and not
// by name; the descriptor stays open. `path`, the file's name, only appears
// in the message when the file cannot be read.
int32_t base64_encode_descriptor(int descriptor, const char *path, char *out, int32_t limit);

// Base64 of RFC 4648, section 4 (standard alphabet, "=" padding, no line breaks).
// No operating system needed.
#pragma once

// Room in bytes that Base64Encode needs for n input bytes, terminator included.
inline unsigned Base64EncodedSize(unsigned n) { return (n + 2) / 3 * 4 + 1; }

// Writes the text of n bytes to out, NUL-terminated. out must hold Base64EncodedSize(n)
// bytes. Always 0.
int Base64Encode(const unsigned char* in, char* out, unsigned n);

// Decodes the NUL-terminated text into out and writes a NUL behind the decoded bytes.
// The text is valid when its length is a multiple of 4, every character is of the
// alphabet or "=", and "=" stands only in the third or fourth place of a group. Each "="
// shortens the result by one byte; a group with padding gives only its leading bytes.
// out must hold 3 * (length / 4) + 1 bytes (as many bytes as the text has characters will
// do for any non-empty text). Returns 0 and the decoded byte count in *count (when count
// is given), or -1 when the text is invalid (out may then hold the bytes of the groups
// before the fault, without a terminator; *count is untouched).
int Base64Decode(const char* text, unsigned char* out, unsigned* count);

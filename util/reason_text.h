// Names that come from other users (file names in folders anyone may write), made safe to
// put into a log line. No operating system needed.
#pragma once
#include <stddef.h>
#include <stdint.h>

// At most this many bytes of a name are shown; a longer one ends in "...".
const size_t kReasonNameMax = 96;

// Copies name into dst (size bytes) with every byte below 0x20 and 0x7F written as "\xNN"
// ("\r" and "\n" as such), so that a name can neither start a new log line nor hide one,
// and cut after kReasonNameMax bytes of the name with "..." appended. A cut never splits
// an escape. False when dst is too small for the result (dst then holds "").
bool ReasonName(char* dst, size_t size, const char* name);
// The same for a UTF-16 name of chars units (not terminated): printable ASCII as it is,
// every other unit as "\uXXXX", so that no code page can turn it into a line break.
bool ReasonNameW(char* dst, size_t size, const uint16_t* name, size_t chars);

template <size_t N>
inline bool ReasonName(char (&dst)[N], const char* name) {
  return ReasonName(dst, N, name);
}

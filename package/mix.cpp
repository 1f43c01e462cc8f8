#include "package/mix.h"

#include <string.h>

uint32_t MixBuffer(void* buffer, uint32_t length) {
  if (buffer == nullptr) return 0;
  unsigned char* p = static_cast<unsigned char*>(buffer);
  uint32_t i = 0;
  // Four bytes at a time: the negation of each byte is its complement plus one. Adding one
  // to the low seven bits cannot carry into the next byte; the top bit is then flipped by
  // the carry out of those seven bits, which the final XOR supplies.
  for (; i + 4 <= length; i += 4) {
    uint32_t w;
    memcpy(&w, p + i, 4);
    uint32_t n = ~w;
    w = ((n & 0x7f7f7f7fu) + 0x01010101u) ^ (n & 0x80808080u);
    memcpy(p + i, &w, 4);
  }
  for (; i < length; ++i) p[i] = static_cast<unsigned char>(0u - p[i]);
  return length;
}

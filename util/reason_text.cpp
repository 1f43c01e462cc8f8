#include "util/reason_text.h"

#include <string.h>

namespace {

const char kHex[] = "0123456789abcdef";

// Appends text to dst (pos bytes used); false when it and a NUL do not fit.
bool Put(char* dst, size_t size, size_t* pos, const char* text, size_t len) {
  if (*pos + len >= size) return false;
  memcpy(dst + *pos, text, len);
  *pos += len;
  return true;
}

// One unit as its escape, or as itself when it is printable ASCII.
size_t Escape(unsigned unit, bool wide, char (&out)[8]) {
  if (unit >= 0x20 && unit < 0x7F) {
    out[0] = static_cast<char>(unit);
    return 1;
  }
  if (!wide && (unit == '\r' || unit == '\n')) {
    out[0] = '\\';
    out[1] = unit == '\r' ? 'r' : 'n';
    return 2;
  }
  if (!wide && unit >= 0x80) {
    out[0] = static_cast<char>(unit);  // a byte of the code page's own characters
    return 1;
  }
  size_t n = 0;
  out[n++] = '\\';
  out[n++] = wide ? 'u' : 'x';
  for (int shift = wide ? 12 : 4; shift >= 0; shift -= 4) out[n++] = kHex[(unit >> shift) & 0xF];
  return n;
}

// One loop for both kinds of name: a template would be the same code twice in the program.
bool Build(char* dst, size_t size, const void* name, size_t chars, bool wide) {
  if (dst == nullptr || size == 0) return false;
  dst[0] = '\0';
  size_t pos = 0, shown = 0;
  for (size_t i = 0; i < chars; ++i) {
    if (shown >= kReasonNameMax) {
      if (!Put(dst, size, &pos, "...", 3)) return dst[0] = '\0', false;
      break;
    }
    char esc[8];
    unsigned unit = wide ? static_cast<const uint16_t*>(name)[i]
                         : static_cast<const unsigned char*>(name)[i];
    size_t n = Escape(unit, wide, esc);
    if (!Put(dst, size, &pos, esc, n)) return dst[0] = '\0', false;
    ++shown;
  }
  dst[pos] = '\0';
  return true;
}

}  // namespace

bool ReasonName(char* dst, size_t size, const char* name) {
  if (name == nullptr) name = "";
  return Build(dst, size, name, strlen(name), false);
}

bool ReasonNameW(char* dst, size_t size, const uint16_t* name, size_t chars) {
  return Build(dst, size, name, name == nullptr ? 0 : chars, true);
}

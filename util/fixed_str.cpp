#include "util/fixed_str.h"

#include <stdio.h>
#include <string.h>

bool StrCopy(char* dst, size_t size, const char* src) {
  size_t n = strlen(src);
  if (dst == nullptr || n >= size) return false;
  memmove(dst, src, n + 1);
  return true;
}

bool StrAppend(char* dst, size_t size, const char* src) {
  size_t have = strnlen(dst, size);
  size_t n = strlen(src);
  if (have >= size || n >= size - have) return false;
  memmove(dst + have, src, n + 1);
  return true;
}

bool StrJoinPath(char* dst, size_t size, const char* a, const char* b) {
  size_t na = strlen(a), nb = strlen(b);
  if (dst == nullptr || na + 1 + nb >= size) return false;
  // a or b may alias dst: move b first, then a.
  memmove(dst + na + 1, b, nb + 1);
  memmove(dst, a, na);
  dst[na] = '\\';
  return true;
}

bool StrFormatV(char* dst, size_t size, const char* fmt, va_list ap) {
  if (dst == nullptr || size == 0) return false;
  char tmp[1024];
  char* out = size <= sizeof tmp ? tmp : nullptr;
  if (out == nullptr) {
    // Large targets: format in place is unsafe on failure, so count first.
    va_list cp;
    va_copy(cp, ap);
#ifdef _WIN32
    int need = _vscprintf(fmt, cp);
#else
    int need = vsnprintf(nullptr, 0, fmt, cp);
#endif
    va_end(cp);
    if (need < 0 || static_cast<size_t>(need) >= size) return false;
#ifdef _WIN32
    _vsnprintf(dst, size, fmt, ap);
#else
    vsnprintf(dst, size, fmt, ap);
#endif
    dst[need] = '\0';
    return true;
  }
#ifdef _WIN32
  // msvcrt: -1 when the text does not fit, no NUL when it fits exactly.
  int n = _vsnprintf(out, size, fmt, ap);
  if (n < 0 || static_cast<size_t>(n) >= size) return false;
#else
  int n = vsnprintf(out, size, fmt, ap);
  if (n < 0 || static_cast<size_t>(n) >= size) return false;
#endif
  memcpy(dst, out, static_cast<size_t>(n) + 1);
  return true;
}

bool StrFormat(char* dst, size_t size, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  bool ok = StrFormatV(dst, size, fmt, ap);
  va_end(ap);
  return ok;
}

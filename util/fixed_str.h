// Fixed-size narrow string buffers that never truncate silently.
// Every function returns false when the result does not fit; the target is then unchanged.
// Sizes are in bytes and include the terminating NUL.
#pragma once
#include <stdarg.h>
#include <stddef.h>

bool StrCopy(char* dst, size_t size, const char* src);
bool StrAppend(char* dst, size_t size, const char* src);
// dst = a "\" b, the way every path of the program is joined.
bool StrJoinPath(char* dst, size_t size, const char* a, const char* b);
// printf-style formatting; on overflow dst is left unchanged.
bool StrFormat(char* dst, size_t size, const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
bool StrFormatV(char* dst, size_t size, const char* fmt, va_list ap);

template <size_t N>
inline bool StrCopy(char (&dst)[N], const char* src) {
  return StrCopy(dst, N, src);
}
template <size_t N>
inline bool StrAppend(char (&dst)[N], const char* src) {
  return StrAppend(dst, N, src);
}
template <size_t N>
inline bool StrJoinPath(char (&dst)[N], const char* a, const char* b) {
  return StrJoinPath(dst, N, a, b);
}

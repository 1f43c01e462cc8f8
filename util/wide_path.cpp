#include "util/wide_path.h"

#include <wchar.h>

bool WideJoinPath(wchar_t (&dst)[MAX_PATH], const wchar_t* a, const wchar_t* b) {
  size_t la = wcslen(a), lb = wcslen(b);
  if (la + 1 + lb >= MAX_PATH) return false;
  wmemcpy(dst, a, la);
  dst[la] = L'\\';
  wmemcpy(dst + la + 1, b, lb + 1);
  return true;
}

bool WideToAnsi(char* dst, size_t size, const wchar_t* src) {
  int n = WideCharToMultiByte(CP_ACP, 0, src, -1, dst, static_cast<int>(size), nullptr, nullptr);
  return n > 0;
}

bool AnsiToWide(wchar_t* dst, size_t count, const char* src) {
  int n = MultiByteToWideChar(CP_ACP, 0, src, -1, dst, static_cast<int>(count));
  return n > 0;
}

#include "xml/ansi_text.h"

#include <windows.h>

#include "util/handles.h"

bool Utf8ToAnsi(const char* utf8, size_t n, TextBuf& out) {
  out.Clear();
  if (n == 0) return true;
  // Through UTF-16, so that characters of every UTF-8 length convert, and nothing in the
  // result is a NUL.
  const size_t kMaxChars = 0x3FFFFFFF;
  if (n > kMaxChars) return false;
  int len = static_cast<int>(n);
  int wide = MultiByteToWideChar(CP_UTF8, 0, utf8, len, nullptr, 0);
  if (wide <= 0) return false;
  HeapBuffer w(static_cast<SIZE_T>(wide) * sizeof(WCHAR));
  if (w.Get() == nullptr || MultiByteToWideChar(CP_UTF8, 0, utf8, len, w.As<WCHAR>(), wide) != wide)
    return false;
  int bytes = WideCharToMultiByte(CP_ACP, 0, w.As<WCHAR>(), wide, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return false;
  HeapBuffer a(static_cast<SIZE_T>(bytes));
  if (a.Get() == nullptr || WideCharToMultiByte(CP_ACP, 0, w.As<WCHAR>(), wide, a.As<char>(), bytes,
                                                nullptr, nullptr) != bytes)
    return false;
  return out.Append(a.As<char>(), static_cast<size_t>(bytes));
}

#include "xml/ansi_text.h"

bool Utf8ToAnsi(const char* utf8, size_t n, TextBuf& out) {
  out.Clear();
  return out.Append(utf8, n);
}

#include "package/entry_name.h"

namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsUpper(const char* s, uint32_t n, const char* upper) {
  uint32_t i = 0;
  for (; i < n; ++i) {
    if (upper[i] == '\0' || Upper(s[i]) != upper[i]) return false;
  }
  return upper[i] == '\0';
}

// Windows opens a device for these names whatever the extension; the part before the
// first dot counts, with trailing blanks ignored.
bool IsDeviceName(const char* name, uint32_t length) {
  uint32_t n = 0;
  while (n < length && name[n] != '.') ++n;
  while (n > 0 && name[n - 1] == ' ') --n;
  static const char* const kFixed[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* d : kFixed) {
    if (EqualsUpper(name, n, d)) return true;
  }
  if (n == 4 && (EqualsUpper(name, 3, "COM") || EqualsUpper(name, 3, "LPT"))) {
    unsigned char last = static_cast<unsigned char>(name[3]);
    // Digits 1-9 and the superscript digits 1, 2, 3 of code page 1252.
    if ((last >= '1' && last <= '9') || last == 0xB9 || last == 0xB2 || last == 0xB3)
      return true;
  }
  return false;
}

}  // namespace

bool IsSafeEntryName(const char* name, uint32_t length) {
  if (name == nullptr || length == 0) return false;
  for (uint32_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7f) return false;
    switch (c) {
      case '\\': case '/': case ':': case '<': case '>': case '"': case '|': case '?':
      case '*':
        return false;
      default:
        break;
    }
  }
  char last = name[length - 1];
  // Covers "." and ".." as well.
  if (last == '.' || last == ' ') return false;
  return !IsDeviceName(name, length);
}

#include "package/entry_name.h"

#include <stddef.h>

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
    if ((last >= '1' && last <= '9') || last == 0xB9 || last == 0xB2 || last == 0xB3) return true;
  }
  return false;
}

struct ByteRange {
  unsigned char low, high;
};

// The byte ranges of a double-byte ANSI code page: lead bytes, and the bytes that may
// follow one. Unused slots are empty (low above high).
struct DoubleByteRules {
  uint32_t codePage;
  ByteRange lead[2];
  ByteRange trail[3];
};

const DoubleByteRules kDoubleByte[] = {
    {932, {{0x81, 0x9F}, {0xE0, 0xFC}}, {{0x40, 0x7E}, {0x80, 0xFC}, {1, 0}}},
    {936, {{0x81, 0xFE}, {1, 0}}, {{0x40, 0x7E}, {0x80, 0xFE}, {1, 0}}},
    {949, {{0x81, 0xFE}, {1, 0}}, {{0x41, 0x5A}, {0x61, 0x7A}, {0x81, 0xFE}}},
    {950, {{0x81, 0xFE}, {1, 0}}, {{0x40, 0x7E}, {0xA1, 0xFE}, {1, 0}}},
};

template <size_t N>
bool InRanges(const ByteRange (&ranges)[N], unsigned char c) {
  for (const ByteRange& r : ranges) {
    if (c >= r.low && c <= r.high) return true;
  }
  return false;
}

// The rules of codePage, or null when it has one byte per character.
const DoubleByteRules* DoubleByteRulesOf(uint32_t codePage) {
  for (const DoubleByteRules& r : kDoubleByte) {
    if (r.codePage == codePage) return &r;
  }
  return nullptr;
}

}  // namespace

bool IsSafeEntryName(const char* name, uint32_t length, uint32_t codePage) {
  if (name == nullptr || length == 0) return false;
  const DoubleByteRules* dbcs = DoubleByteRulesOf(codePage);
  for (uint32_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (dbcs != nullptr && InRanges(dbcs->lead, c)) {
      // One character of two bytes; none of them is a separator or a forbidden character.
      // Without a fitting second byte Windows would not keep the name as it is.
      if (i + 1 == length || !InRanges(dbcs->trail, static_cast<unsigned char>(name[i + 1])))
        return false;
      ++i;
      continue;
    }
    if (c < 0x20 || c == 0x7f) return false;
    switch (c) {
      case '\\':
      case '/':
      case ':':
      case '<':
      case '>':
      case '"':
      case '|':
      case '?':
      case '*': return false;
      default: break;
    }
  }
  char last = name[length - 1];
  // Covers "." and ".." as well. A second byte of a double-byte character is never a dot
  // or a blank.
  if (last == '.' || last == ' ') return false;
  return !IsDeviceName(name, length);
}

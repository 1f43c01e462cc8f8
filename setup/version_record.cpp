#include "setup/version_record.h"

#include <string.h>

#include "util/fixed_str.h"

namespace {

// The block's header: wLength, wValueLength, wType, the UTF-16 key "VS_VERSION_INFO" with
// its NUL, then padding to a 4-byte boundary, where VS_FIXEDFILEINFO starts.
const char16_t kKey[] = u"VS_VERSION_INFO";
const size_t kKeyOffset = 6;
const size_t kFixedOffset = 40;
const size_t kFixedLen = 52;
const uint32_t kFixedSignature = 0xFEEF04BD;

uint32_t Word(const unsigned char* p) { return p[0] | (p[1] << 8); }
uint32_t Dword(const unsigned char* p) { return Word(p) | (Word(p + 2) << 16); }

}  // namespace

bool VersionFromRecord(char* dst, size_t size, const void* record, size_t len) {
  if (dst == nullptr || size == 0) return false;
  dst[0] = '\0';
  const unsigned char* p = static_cast<const unsigned char*>(record);
  if (p == nullptr || len < kFixedOffset + kFixedLen) return false;
  uint32_t blockLen = Word(p);
  if (blockLen < kFixedOffset + kFixedLen || blockLen > len || Word(p + 2) != kFixedLen)
    return false;
  // The record is little-endian UTF-16, as the key is in memory on every machine this runs on.
  if (memcmp(p + kKeyOffset, kKey, sizeof kKey) != 0) return false;
  const unsigned char* fixed = p + kFixedOffset;
  if (Dword(fixed) != kFixedSignature) return false;
  uint32_t ms = Dword(fixed + 8), ls = Dword(fixed + 12);
  return StrFormat(dst, size, "%u.%u.%u.%u", static_cast<unsigned>(ms >> 16),
                   static_cast<unsigned>(ms & 0xFFFF), static_cast<unsigned>(ls >> 16),
                   static_cast<unsigned>(ls & 0xFFFF));
}

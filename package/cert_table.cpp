#include "package/cert_table.h"

#include <string.h>

#include "package/package_format.h"

CertLimit PackageCertLimit(const unsigned char* head, uint32_t headLen, uint32_t offset,
                           uint32_t packageLen) {
  CertLimit limit;
  limit.readable = kNoCertLimit;
  if (headLen < 0x40 || head[0] != 'M' || head[1] != 'Z') return limit;
  const uint64_t pe = LoadLe32(head + 0x3c);
  if (pe + 24 + 2 > headLen || memcmp(head + pe, "PE\0\0", 4) != 0) return limit;
  // The data directories follow the optional header's fixed part: PE32 or PE32+.
  const uint64_t opt = pe + 24;
  const unsigned magic = head[opt] | head[opt + 1] << 8;
  const uint64_t count = opt + (magic == 0x10b ? 92 : magic == 0x20b ? 108 : 0);
  if (count == opt || count + 4 + 5 * 8 > headLen || LoadLe32(head + count) <= 4) return limit;
  // Directory 4, the certificate table: a file offset and a size.
  const uint64_t at = LoadLe32(head + count + 4 + 4 * 8);
  const uint64_t size = LoadLe32(head + count + 4 + 4 * 8 + 4);
  if (size == 0) return limit;
  limit.tableAt = static_cast<uint32_t>(at);
  if (at <= offset && offset < at + size) {
    limit.inside = true;
    limit.readable = 0;
  } else if (at > offset && at - offset < packageLen) {
    limit.readable = static_cast<uint32_t>(at - offset);
  }
  return limit;
}

bool LimitedReader::Read(void* buffer, uint32_t count, uint32_t* got) {
  if (count > left_) {
    ranInto_ = true;
    count = left_;
  }
  *got = 0;
  if (count != 0 && !in_.Read(buffer, count, got)) return false;
  left_ -= *got;
  return true;
}

#include "package/package_writer.h"

#include <string.h>

#include "package/entry_name.h"
#include "package/mix.h"
#include "package/package_format.h"

bool MixAndWrite(PackageSink& sink, void* buffer, uint32_t count) {
  MixBuffer(buffer, count);
  return sink.Put(buffer, count);
}

bool WritePackageMarker(PackageSink& sink) {
  unsigned char marker[kPackageMarkerLen];
  memcpy(marker, kPackageMarker, kPackageMarkerLen);
  return MixAndWrite(sink, marker, kPackageMarkerLen);
}

bool WritePackageEntryHead(PackageSink& sink, const char* name, uint32_t dataLen) {
  size_t n = name != nullptr ? strlen(name) : 0;
  if (n > kPackageMaxNameLen || !IsSafeEntryName(name, static_cast<uint32_t>(n))) return false;
  unsigned char head[kPackageEntryHeaderLen + kPackageMaxNameLen];
  StoreLe32(head, static_cast<uint32_t>(n));
  StoreLe32(head + 4, dataLen);
  memcpy(head + kPackageEntryHeaderLen, name, n);
  MixBuffer(head + kPackageEntryHeaderLen, static_cast<uint32_t>(n));
  return sink.Put(head, static_cast<uint32_t>(kPackageEntryHeaderLen + n));
}

bool WritePackageContent(PackageSink& sink, const void* data, uint32_t count) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  unsigned char chunk[kPackageSmallChunk];
  while (count > 0) {
    uint32_t n = count < kPackageSmallChunk ? count : kPackageSmallChunk;
    memcpy(chunk, p, n);
    if (!MixAndWrite(sink, chunk, n)) return false;
    p += n;
    count -= n;
  }
  return true;
}

bool WritePackageEnd(PackageSink& sink) { return WritePackageEntryHead(sink, kPackageEndName, 0); }

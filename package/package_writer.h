// Writes packages in the layout of package_format.h: the one writer of the format, used by
// the release tool and the tests. No operating system needed; the caller supplies the sink.
#pragma once
#include <stdint.h>

// Where the package's bytes go, in order.
class PackageSink {
 public:
  // Writes all count bytes; false when that fails.
  virtual bool Put(const void* data, uint32_t count) = 0;

 protected:
  ~PackageSink() = default;
};

// Mixes count bytes of buffer in place, then writes them. The buffer holds the mixed bytes
// afterwards. False when the sink fails.
bool MixAndWrite(PackageSink& sink, void* buffer, uint32_t count);

// The 17 marker bytes.
bool WritePackageMarker(PackageSink& sink);
// An entry's header and name; its dataLen content bytes must follow through
// WritePackageContent. name must pass IsSafeEntryName and be at most 64 bytes.
bool WritePackageEntryHead(PackageSink& sink, const char* name, uint32_t dataLen);
// Content of the current entry, in pieces of any size (each is mixed on a private copy).
bool WritePackageContent(PackageSink& sink, const void* data, uint32_t count);
// The end entry "^Olvan_end^" with data length 0.
bool WritePackageEnd(PackageSink& sink);

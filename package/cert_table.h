// The certificate table of a signed program and the package behind it. No operating system
// needed: Setup.exe and the release tool apply the same limit.
//
// An Authenticode signature does not cover the certificate table, and Windows accepts bytes
// padded into it unless EnableCertPaddingCheck is set. The package lies at a fixed offset, so
// a signed program that is not bound to its package (see digest_slot.h) could be given any
// package inside an enlarged table while its signature still shows. A package may therefore
// neither start inside the table nor be read into it.
#pragma once
#include <stdint.h>

#include "package/package_walk.h"

// Bytes from the carrier's start that hold the header read for the table (the program's
// PE header lies in its first bytes).
const uint32_t kCertHeadLen = 1024;

const uint32_t kNoCertLimit = 0xffffffffu;

struct CertLimit {
  bool inside = false;  // the package starts inside the certificate table
  // Bytes of the package the walk may read: up to the table when it lies behind the
  // package's start and before its end, else kNoCertLimit.
  uint32_t readable = 0;
  uint32_t tableAt = 0;  // file offset of the table; 0 when there is none
};

// The limit for the package of packageLen bytes at offset, from the first headLen bytes of
// its carrier. A carrier that is no PE image, or whose header names no table, sets no limit.
CertLimit PackageCertLimit(const unsigned char* head, uint32_t headLen, uint32_t offset,
                           uint32_t packageLen);

// Passes on at most limit bytes of another reader; a read asking for more gets only what is
// left (a short read, which fails the walk) and marks RanInto().
class LimitedReader : public PackageReader {
 public:
  LimitedReader(PackageReader& in, uint32_t limit) : in_(in), left_(limit) {}
  bool Read(void* buffer, uint32_t count, uint32_t* got) override;
  uint32_t LastError() override { return in_.LastError(); }
  bool RanInto() const { return ranInto_; }

 private:
  PackageReader& in_;
  uint32_t left_;
  bool ranInto_ = false;
};

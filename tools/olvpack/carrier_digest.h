// The digests by which a shipped carrier is matched with one rebuilt from the source: the
// SHA-256 of the whole file, and for a PE image its Authenticode digest, the SHA-256 that a
// signature covers. Host and Windows code.
#pragma once
#include <stdint.h>

#include <string>

#include "package/sha256.h"

struct CarrierDigests {
  bool ok = false;                      // the file could be read
  unsigned char file[kSha256Len] = {};  // every byte of the file
  bool isPe = false;                    // the file is a PE image: authenticode is set
  // The whole image without the header's checksum field, the certificate table's directory
  // entry and the certificate table, padded with zeros to a multiple of 8 bytes as signing
  // pads it: the same before and after signing.
  unsigned char authenticode[kSha256Len] = {};
};

CarrierDigests DigestCarrier(const std::string& path);

// DigestHex (lower-case hexadecimal of a digest) is in carrier.h.

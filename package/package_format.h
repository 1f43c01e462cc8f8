// Byte layout of the payload package appended to a carrier file. Shared by Setup.exe, the
// release tool, the tests and the fuzzer. No operating system needed.
//
// A package starts at a fixed offset of its carrier and runs to the carrier's end:
//   17 bytes  start marker "^-=Olvan=-^ Quib " (mixed)
//   entries, back to back:
//     4 bytes  name length N, 0..64 (plain, little-endian)
//     4 bytes  data length D (plain, little-endian)
//     N bytes  bare file name in the ANSI code page, no terminating zero (mixed)
//     D bytes  the file's content (mixed)
//   an entry named "^Olvan_end^" ends the package; its data is never read.
// Mixed bytes are stored negated: stored = (256 - b) mod 256 (see MixBuffer).
#pragma once
#include <stdint.h>

#include "package/install_errors.h"

const char kPackageMarker[] = "^-=Olvan=-^ Quib ";
const uint32_t kPackageMarkerLen = 17;
const char kPackageEndName[] = "^Olvan_end^";
const uint32_t kPackageEndNameLen = 11;
// Longest entry name in bytes.
const uint32_t kPackageMaxNameLen = 64;
// Size of an entry header: name length and data length.
const uint32_t kPackageEntryHeaderLen = 8;
// Largest piece of content read or written at once, in bytes. Large pieces keep the number
// of system calls per megabyte low; pieces that stay in the processor's cache between the
// un-mixing and the write are faster than larger ones (256 KiB measured faster than 64 KiB
// and 1 MiB). Unpacking then runs close to the speed of a file copy.
const uint32_t kPackageChunk = 256u << 10;
// Piece that is always at hand when the large buffer cannot be had.
const uint32_t kPackageSmallChunk = 4096;
// Where the package starts in each kind of carrier.
const uint32_t kExeCarrierOffset = 530000;
const uint32_t kMsiCarrierOffset = 3300000;
// Paths of the program are below this many characters.
const uint32_t kPathLimit = 260;

inline uint32_t LoadLe32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline void StoreLe32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

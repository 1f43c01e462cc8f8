// SHA-256 (FIPS 180-4). No operating system needed: Setup.exe checks its package with it and
// the release tool writes and prints digests with it.
#pragma once
#include <stddef.h>
#include <stdint.h>

const uint32_t kSha256Len = 32;

// The state of one digest in progress. Start with Sha256Init; feed any number of
// Sha256Update calls; Sha256Final gives the digest and leaves the state to be started again.
struct Sha256 {
  uint32_t h[8];
  uint64_t total;  // bytes fed so far
  uint32_t used;   // bytes waiting in block, 0..63
  unsigned char block[64];
};

void Sha256Init(Sha256* ctx);
void Sha256Update(Sha256* ctx, const void* data, size_t length);
void Sha256Final(Sha256* ctx, unsigned char digest[kSha256Len]);
// The digest of length bytes in one call.
void Sha256Digest(const void* data, size_t length, unsigned char digest[kSha256Len]);

// Whole 64-byte blocks are hashed with the processor's SHA extensions where it has them
// (chosen once, at the first use), else with portable code. A build with
// OLVAN_SHA256_PORTABLE defined always takes the portable code (for measurements).
bool Sha256HasShaExtensions();
// For the tests: every later block goes through the portable code (true) or through the
// choice above again (false).
void Sha256ForcePortable(bool force);

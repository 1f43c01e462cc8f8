// MD5 message digest as published in RFC 1321. No operating system needed.
#pragma once
#include <stddef.h>
#include <stdint.h>

const unsigned kMd5DigestSize = 16;

struct Md5Context {
  uint32_t state[4];
  uint64_t bytes;           // message length so far, in bytes
  unsigned char block[64];  // bytes of the block not yet processed
};

void Md5Init(Md5Context* ctx);
void Md5Update(Md5Context* ctx, const void* data, size_t n);
// Writes the 16 digest bytes in the order MD5 produces them; the context is used up.
void Md5Final(Md5Context* ctx, unsigned char* digest);
// The digest of n bytes in one call.
void Md5Digest(const void* data, size_t n, unsigned char* digest);

#include "custom/md5.h"

#include <string.h>

namespace {

const uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
const unsigned char kShift[4][4] = {
    {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

inline uint32_t Rotl(uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

void Transform(uint32_t* state, const unsigned char* block) {
  uint32_t x[16];
  for (unsigned i = 0; i < 16; ++i)
    x[i] = uint32_t(block[4 * i]) | (uint32_t(block[4 * i + 1]) << 8) |
           (uint32_t(block[4 * i + 2]) << 16) | (uint32_t(block[4 * i + 3]) << 24);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (unsigned i = 0; i < 64; ++i) {
    uint32_t f;
    unsigned g;
    switch (i / 16) {
      case 0:
        f = (b & c) | (~b & d);
        g = i;
        break;
      case 1:
        f = (b & d) | (c & ~d);
        g = (5 * i + 1) % 16;
        break;
      case 2:
        f = b ^ c ^ d;
        g = (3 * i + 5) % 16;
        break;
      default:
        f = c ^ (b | ~d);
        g = (7 * i) % 16;
        break;
    }
    uint32_t t = d;
    d = c;
    c = b;
    b = b + Rotl(a + f + kT[i] + x[g], kShift[i / 16][i % 4]);
    a = t;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void Md5Init(Md5Context* ctx) {
  ctx->state[0] = 0x67452301;
  ctx->state[1] = 0xefcdab89;
  ctx->state[2] = 0x98badcfe;
  ctx->state[3] = 0x10325476;
  ctx->bytes = 0;
}

void Md5Update(Md5Context* ctx, const void* data, size_t n) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  size_t have = static_cast<size_t>(ctx->bytes % 64);
  ctx->bytes += n;
  if (have) {
    size_t take = 64 - have < n ? 64 - have : n;
    memcpy(ctx->block + have, p, take);
    p += take;
    n -= take;
    if (have + take < 64) return;
    Transform(ctx->state, ctx->block);
  }
  for (; n >= 64; p += 64, n -= 64) Transform(ctx->state, p);
  if (n) memcpy(ctx->block, p, n);
}

void Md5Final(Md5Context* ctx, unsigned char* digest) {
  uint64_t bits = ctx->bytes * 8;
  static const unsigned char kPadding[64] = {0x80};
  size_t have = static_cast<size_t>(ctx->bytes % 64);
  Md5Update(ctx, kPadding, have < 56 ? 56 - have : 120 - have);
  unsigned char length[8];
  for (unsigned i = 0; i < 8; ++i) length[i] = static_cast<unsigned char>(bits >> (8 * i));
  Md5Update(ctx, length, 8);
  for (unsigned i = 0; i < 16; ++i)
    digest[i] = static_cast<unsigned char>(ctx->state[i / 4] >> (8 * (i % 4)));
}

void Md5Digest(const void* data, size_t n, unsigned char* digest) {
  Md5Context ctx;
  Md5Init(&ctx);
  Md5Update(&ctx, data, n);
  Md5Final(&ctx, digest);
}

#include "package/sha256.h"

#include <string.h>

#if (defined(__i386__) || defined(__x86_64__)) && !defined(OLVAN_SHA256_PORTABLE)
#include <cpuid.h>
#include <immintrin.h>
#define OLVAN_SHA256_X86 1
#endif

namespace {

alignas(16) const uint32_t kK[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t Ror(uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t LoadBe32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

// Hashes count whole 64-byte blocks into h. Eight rounds are spelt out so that the eight
// working variables change roles instead of moving; the message schedule is a ring of 16.
void BlocksPortable(uint32_t h[8], const unsigned char* p, size_t count) {
#define OLVAN_SHA_S0(x) (Ror(x, 7) ^ Ror(x, 18) ^ ((x) >> 3))
#define OLVAN_SHA_S1(x) (Ror(x, 17) ^ Ror(x, 19) ^ ((x) >> 10))
#define OLVAN_SHA_ROUND(a, b, c, d, e, f, g, k, j)                                                \
  do {                                                                                            \
    uint32_t wj;                                                                                  \
    if (i == 0) {                                                                                 \
      wj = w[j] = LoadBe32(p + 4 * (j));                                                          \
    } else {                                                                                      \
      wj = w[j] +=                                                                                \
          OLVAN_SHA_S1(w[((j) + 14) & 15]) + w[((j) + 9) & 15] + OLVAN_SHA_S0(w[((j) + 1) & 15]); \
    }                                                                                             \
    uint32_t t1 =                                                                                 \
        k + (Ror(e, 6) ^ Ror(e, 11) ^ Ror(e, 25)) + (g ^ (e & (f ^ g))) + kK[i + (j)] + wj;       \
    d += t1;                                                                                      \
    k = t1 + (Ror(a, 2) ^ Ror(a, 13) ^ Ror(a, 22)) + ((a & b) | (c & (a | b)));                   \
  } while (0)
  for (; count != 0; --count, p += 64) {
    uint32_t w[16];
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
    for (int i = 0; i < 64; i += 16) {
      OLVAN_SHA_ROUND(a, b, c, d, e, f, g, k, 0);
      OLVAN_SHA_ROUND(k, a, b, c, d, e, f, g, 1);
      OLVAN_SHA_ROUND(g, k, a, b, c, d, e, f, 2);
      OLVAN_SHA_ROUND(f, g, k, a, b, c, d, e, 3);
      OLVAN_SHA_ROUND(e, f, g, k, a, b, c, d, 4);
      OLVAN_SHA_ROUND(d, e, f, g, k, a, b, c, 5);
      OLVAN_SHA_ROUND(c, d, e, f, g, k, a, b, 6);
      OLVAN_SHA_ROUND(b, c, d, e, f, g, k, a, 7);
      OLVAN_SHA_ROUND(a, b, c, d, e, f, g, k, 8);
      OLVAN_SHA_ROUND(k, a, b, c, d, e, f, g, 9);
      OLVAN_SHA_ROUND(g, k, a, b, c, d, e, f, 10);
      OLVAN_SHA_ROUND(f, g, k, a, b, c, d, e, 11);
      OLVAN_SHA_ROUND(e, f, g, k, a, b, c, d, 12);
      OLVAN_SHA_ROUND(d, e, f, g, k, a, b, c, 13);
      OLVAN_SHA_ROUND(c, d, e, f, g, k, a, b, 14);
      OLVAN_SHA_ROUND(b, c, d, e, f, g, k, a, 15);
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
    h[5] += f;
    h[6] += g;
    h[7] += k;
  }
#undef OLVAN_SHA_ROUND
#undef OLVAN_SHA_S0
#undef OLVAN_SHA_S1
}

#ifdef OLVAN_SHA256_X86
// The program is built for the i686 baseline; only this function uses the SHA extensions
// (with SSSE3 and SSE4.1 for the byte order and the state's shuffles), and only when the
// processor reports them. Its vectors may be spilled to the stack, which Windows aligns only
// to 4 bytes on i686: the function aligns its own frame.
__attribute__((target("sha,ssse3,sse4.1"), force_align_arg_pointer)) void BlocksShaExt(
    uint32_t h[8], const unsigned char* p, size_t count) {
  const __m128i kSwap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
  // The instructions keep the state as ABEF and CDGH.
  __m128i t = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0xB1);
  __m128i s1 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 4)), 0x1B);
  __m128i s0 = _mm_alignr_epi8(t, s1, 8);
  s1 = _mm_blend_epi16(s1, t, 0xF0);
  const __m128i* k = reinterpret_cast<const __m128i*>(kK);

// Four rounds with the message words in W.
#define OLVAN_SHA_ROUNDS4(W, i)                            \
  do {                                                     \
    __m128i m = _mm_add_epi32(W, _mm_load_si128(k + (i))); \
    s1 = _mm_sha256rnds2_epu32(s1, s0, m);                 \
    m = _mm_shuffle_epi32(m, 0x0E);                        \
    s0 = _mm_sha256rnds2_epu32(s0, s1, m);                 \
  } while (0)
// The next four message words, in place of the oldest four (W0), from the last sixteen.
#define OLVAN_SHA_SCHEDULE(W0, W1, W2, W3) \
  W0 = _mm_sha256msg2_epu32(               \
      _mm_add_epi32(_mm_sha256msg1_epu32(W0, W1), _mm_alignr_epi8(W3, W2, 4)), W3)

  for (; count != 0; --count, p += 64) {
    const __m128i* q = reinterpret_cast<const __m128i*>(p);
    const __m128i abef = s0, cdgh = s1;
    __m128i w0 = _mm_shuffle_epi8(_mm_loadu_si128(q), kSwap);
    __m128i w1 = _mm_shuffle_epi8(_mm_loadu_si128(q + 1), kSwap);
    __m128i w2 = _mm_shuffle_epi8(_mm_loadu_si128(q + 2), kSwap);
    __m128i w3 = _mm_shuffle_epi8(_mm_loadu_si128(q + 3), kSwap);
    OLVAN_SHA_ROUNDS4(w0, 0);
    OLVAN_SHA_ROUNDS4(w1, 1);
    OLVAN_SHA_ROUNDS4(w2, 2);
    OLVAN_SHA_ROUNDS4(w3, 3);
    for (int i = 4; i < 16; i += 4) {
      OLVAN_SHA_SCHEDULE(w0, w1, w2, w3);
      OLVAN_SHA_ROUNDS4(w0, i);
      OLVAN_SHA_SCHEDULE(w1, w2, w3, w0);
      OLVAN_SHA_ROUNDS4(w1, i + 1);
      OLVAN_SHA_SCHEDULE(w2, w3, w0, w1);
      OLVAN_SHA_ROUNDS4(w2, i + 2);
      OLVAN_SHA_SCHEDULE(w3, w0, w1, w2);
      OLVAN_SHA_ROUNDS4(w3, i + 3);
    }
    s0 = _mm_add_epi32(s0, abef);
    s1 = _mm_add_epi32(s1, cdgh);
  }
#undef OLVAN_SHA_ROUNDS4
#undef OLVAN_SHA_SCHEDULE

  t = _mm_shuffle_epi32(s0, 0x1B);
  s1 = _mm_shuffle_epi32(s1, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_blend_epi16(t, s1, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(h + 4), _mm_alignr_epi8(s1, t, 8));
}

bool DetectShaExtensions() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  if ((c & bit_SSSE3) == 0 || (c & bit_SSE4_1) == 0) return false;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, a, b, c, d);
  return (b & bit_SHA) != 0;
}
#endif

// -1 until the first use; a race only repeats the same answer.
int g_hasShaExt = -1;
bool g_forcePortable = false;

void Blocks(uint32_t h[8], const unsigned char* p, size_t count) {
#ifdef OLVAN_SHA256_X86
  if (!g_forcePortable && Sha256HasShaExtensions()) {
    BlocksShaExt(h, p, count);
    return;
  }
#endif
  BlocksPortable(h, p, count);
}

}  // namespace

bool Sha256HasShaExtensions() {
#ifdef OLVAN_SHA256_X86
  if (g_hasShaExt < 0) g_hasShaExt = DetectShaExtensions() ? 1 : 0;
  return g_hasShaExt != 0;
#else
  return false;
#endif
}

void Sha256ForcePortable(bool force) { g_forcePortable = force; }

void Sha256Init(Sha256* ctx) {
  static const uint32_t kInit[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                    0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  memcpy(ctx->h, kInit, sizeof kInit);
  ctx->total = 0;
  ctx->used = 0;
}

void Sha256Update(Sha256* ctx, const void* data, size_t length) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  ctx->total += length;
  if (ctx->used != 0) {
    size_t take = 64 - ctx->used;
    if (take > length) take = length;
    memcpy(ctx->block + ctx->used, p, take);
    ctx->used += static_cast<uint32_t>(take);
    p += take;
    length -= take;
    if (ctx->used < 64) return;
    Blocks(ctx->h, ctx->block, 1);
    ctx->used = 0;
  }
  if (length >= 64) {
    Blocks(ctx->h, p, length / 64);
    p += length & ~static_cast<size_t>(63);
    length &= 63;
  }
  if (length != 0) memcpy(ctx->block, p, length);
  ctx->used = static_cast<uint32_t>(length);
}

void Sha256Final(Sha256* ctx, unsigned char digest[kSha256Len]) {
  const uint64_t bits = ctx->total * 8;
  unsigned char pad[72];
  // 0x80, zeros up to 56 bytes mod 64, then the length in bits, big-endian.
  const uint32_t padLen = (ctx->used < 56 ? 56 : 120) - ctx->used;
  memset(pad, 0, sizeof pad);
  pad[0] = 0x80;
  for (int i = 0; i < 8; ++i) pad[padLen + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
  Sha256Update(ctx, pad, padLen + 8);
  for (int i = 0; i < 8; ++i) {
    digest[4 * i] = static_cast<unsigned char>(ctx->h[i] >> 24);
    digest[4 * i + 1] = static_cast<unsigned char>(ctx->h[i] >> 16);
    digest[4 * i + 2] = static_cast<unsigned char>(ctx->h[i] >> 8);
    digest[4 * i + 3] = static_cast<unsigned char>(ctx->h[i]);
  }
  Sha256Init(ctx);
}

void Sha256Digest(const void* data, size_t length, unsigned char digest[kSha256Len]) {
  Sha256 ctx;
  Sha256Init(&ctx);
  Sha256Update(&ctx, data, length);
  Sha256Final(&ctx, digest);
}

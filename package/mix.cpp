#include "package/mix.h"

#include <string.h>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <emmintrin.h>
#define OLVAN_MIX_X86 1
#endif

uint32_t MixCopyScalar(void* dst, const void* src, uint32_t length) {
  unsigned char* d = static_cast<unsigned char*>(dst);
  const unsigned char* s = static_cast<const unsigned char*>(src);
  uint32_t i = 0;
  // Four bytes at a time: the negation of each byte is its complement plus one. Adding one
  // to the low seven bits cannot carry into the next byte; the top bit is then flipped by
  // the carry out of those seven bits, which the final XOR supplies.
  for (; i + 4 <= length; i += 4) {
    uint32_t w;
    memcpy(&w, s + i, 4);
    uint32_t n = ~w;
    w = ((n & 0x7f7f7f7fu) + 0x01010101u) ^ (n & 0x80808080u);
    memcpy(d + i, &w, 4);
  }
  for (; i < length; ++i) d[i] = static_cast<unsigned char>(0u - s[i]);
  return length;
}

#ifdef OLVAN_MIX_X86
// The program is built for the i686 baseline; only this function uses SSE2, and only when
// the processor reports it.
__attribute__((target("sse2"))) uint32_t MixCopySse2(void* dst, const void* src, uint32_t length) {
  unsigned char* d = static_cast<unsigned char*>(dst);
  const unsigned char* s = static_cast<const unsigned char*>(src);
  const __m128i zero = _mm_setzero_si128();
  uint32_t i = 0;
  for (; i + 64 <= length; i += 64) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 16));
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 32));
    __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 48));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_sub_epi8(zero, a));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i + 16), _mm_sub_epi8(zero, b));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i + 32), _mm_sub_epi8(zero, c));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i + 48), _mm_sub_epi8(zero, e));
  }
  for (; i + 16 <= length; i += 16) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_sub_epi8(zero, a));
  }
  MixCopyScalar(d + i, s + i, length - i);
  return length;
}

bool MixHasSse2() {
  // -1 until the first call; a race only repeats the same answer.
  static int has = -1;
  if (has < 0) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    has = __get_cpuid(1, &a, &b, &c, &d) && (d & bit_SSE2) != 0;
  }
  return has != 0;
}
#else
uint32_t MixCopySse2(void* dst, const void* src, uint32_t length) {
  return MixCopyScalar(dst, src, length);
}
bool MixHasSse2() { return false; }
#endif

uint32_t MixCopy(void* dst, const void* src, uint32_t length) {
  return MixHasSse2() ? MixCopySse2(dst, src, length) : MixCopyScalar(dst, src, length);
}

uint32_t MixBuffer(void* buffer, uint32_t length) {
  if (buffer == nullptr) return 0;
  // In place: every block is loaded before it is stored.
  return MixCopy(buffer, buffer, length);
}

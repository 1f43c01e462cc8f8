#include "gate/cipher/des.h"

#include <string.h>

#include "gate/cipher/pwd_cipher.h"
#include "util/wipe.h"

namespace {

// The standard tables; bit positions count from 1 at the most significant bit.
const unsigned char kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
const unsigned char kPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                                26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                                51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
const unsigned char kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr unsigned char kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                  2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr unsigned char kSBox[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11}};

constexpr uint32_t Rotl(uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }
constexpr uint32_t Rotr(uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }

// S-box i merged with the permutation P: entry x is P of S-box i's output for the 6-bit
// input x (bits b1..b6, most significant first), rotated left by one bit because the
// halves are kept rotated that way between the initial and the final permutation.
// Computed on the first block rather than stored: 2 KB less in the image.
struct SpTables {
  uint32_t t[8][64];
};
SpTables g_sp;
bool g_spReady = false;

void FillSpTables() {
  for (unsigned box = 0; box < 8; ++box) {
    for (unsigned x = 0; x < 64; ++x) {
      unsigned row = ((x >> 4) & 2) | (x & 1);
      unsigned col = (x >> 1) & 15;
      uint32_t s = static_cast<uint32_t>(kSBox[box][row * 16 + col]) << (28 - 4 * box);
      uint32_t p = 0;
      for (unsigned j = 0; j < 32; ++j) p |= ((s >> (32 - kP[j])) & 1u) << (31 - j);
      g_sp.t[box][x] = Rotl(p, 1);
    }
  }
  g_spReady = true;
}

// The initial permutation as five masked swaps between the halves; leaves both halves
// rotated left by one bit. FinalPermutation undoes it, swap by swap in reverse order.
inline void InitialPermutation(uint32_t& x, uint32_t& y) {
  uint32_t t;
  t = ((x >> 4) ^ y) & 0x0F0F0F0Fu;
  y ^= t;
  x ^= t << 4;
  t = ((x >> 16) ^ y) & 0x0000FFFFu;
  y ^= t;
  x ^= t << 16;
  t = ((y >> 2) ^ x) & 0x33333333u;
  x ^= t;
  y ^= t << 2;
  t = ((y >> 8) ^ x) & 0x00FF00FFu;
  x ^= t;
  y ^= t << 8;
  y = Rotl(y, 1);
  t = (x ^ y) & 0xAAAAAAAAu;
  y ^= t;
  x ^= t;
  x = Rotl(x, 1);
}

inline void FinalPermutation(uint32_t& x, uint32_t& y) {
  uint32_t t;
  x = Rotr(x, 1);
  t = (x ^ y) & 0xAAAAAAAAu;
  x ^= t;
  y ^= t;
  y = Rotr(y, 1);
  t = ((y >> 8) ^ x) & 0x00FF00FFu;
  x ^= t;
  y ^= t << 8;
  t = ((y >> 2) ^ x) & 0x33333333u;
  x ^= t;
  y ^= t << 2;
  t = ((x >> 16) ^ y) & 0x0000FFFFu;
  y ^= t;
  x ^= t << 16;
  t = ((x >> 4) ^ y) & 0x0F0F0F0Fu;
  y ^= t;
  x ^= t << 4;
}

// One round: y ^= f(x, subkey). The first word of the subkey meets x itself (groups of
// S-boxes 2, 4, 6, 8), the second meets x rotated right by 4 (S-boxes 1, 3, 5, 7).
inline void Round(const uint32_t* sk, uint32_t x, uint32_t& y) {
  uint32_t t = sk[0] ^ x;
  y ^= g_sp.t[7][t & 63] ^ g_sp.t[5][(t >> 8) & 63] ^ g_sp.t[3][(t >> 16) & 63] ^
       g_sp.t[1][(t >> 24) & 63];
  t = sk[1] ^ Rotr(x, 4);
  y ^= g_sp.t[6][t & 63] ^ g_sp.t[4][(t >> 8) & 63] ^ g_sp.t[2][(t >> 16) & 63] ^
       g_sp.t[0][(t >> 24) & 63];
}

inline uint32_t LoadBe(const unsigned char* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline void StoreBe(uint32_t v, unsigned char* p) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

// Largest plain length whose ciphertext length still fits an int.
const unsigned kMaxPlain = 0x7FFFFFF0u;

}  // namespace

int DesSetKey(const unsigned char* key, uint32_t* encSchedule, uint32_t* decSchedule) {
  uint64_t k = 0;
  for (unsigned i = 0; i < 8; ++i) k = (k << 8) | key[i];
  uint32_t c = 0, d = 0;
  for (unsigned i = 0; i < 28; ++i) {
    c |= static_cast<uint32_t>((k >> (64 - kPc1[i])) & 1) << (27 - i);
    d |= static_cast<uint32_t>((k >> (64 - kPc1[i + 28])) & 1) << (27 - i);
  }
  for (unsigned r = 0; r < 16; ++r) {
    c = ((c << kShifts[r]) | (c >> (28 - kShifts[r]))) & 0x0FFFFFFFu;
    d = ((d << kShifts[r]) | (d >> (28 - kShifts[r]))) & 0x0FFFFFFFu;
    uint64_t cd = (static_cast<uint64_t>(c) << 28) | d;
    uint64_t sub = 0;
    for (unsigned i = 0; i < 48; ++i) sub |= ((cd >> (56 - kPc2[i])) & 1) << (47 - i);
    uint32_t g[8];
    for (unsigned j = 0; j < 8; ++j) g[j] = static_cast<uint32_t>(sub >> (42 - 6 * j)) & 63;
    encSchedule[2 * r] = (g[1] << 24) | (g[3] << 16) | (g[5] << 8) | g[7];
    encSchedule[2 * r + 1] = (g[0] << 24) | (g[2] << 16) | (g[4] << 8) | g[6];
  }
  for (unsigned r = 0; r < 16; ++r) {
    decSchedule[2 * r] = encSchedule[30 - 2 * r];
    decSchedule[2 * r + 1] = encSchedule[31 - 2 * r];
  }
  return 0;
}

void DesCryptBlock(const uint32_t* schedule, const unsigned char* in, unsigned char* out) {
  if (!g_spReady) FillSpTables();
  uint32_t x = LoadBe(in), y = LoadBe(in + 4);
  InitialPermutation(x, y);
  for (unsigned r = 0; r < 16; r += 2) {
    Round(schedule + 2 * r, y, x);
    Round(schedule + 2 * r + 2, x, y);
  }
  FinalPermutation(y, x);
  StoreBe(y, out);
  StoreBe(x, out + 4);
}

int DesEncryptEcb(const unsigned char* plain, unsigned n, unsigned char* out, unsigned size,
                  const uint32_t* encSchedule) {
  if (n > kMaxPlain) return -1;
  unsigned whole = n & ~7u;
  unsigned k = whole + kDesBlockSize;
  if (size < k) return -1;
  for (unsigned i = 0; i < whole; i += kDesBlockSize)
    DesCryptBlock(encSchedule, plain + i, out + i);
  unsigned char last[kDesBlockSize];
  unsigned rest = n - whole;
  if (rest) memcpy(last, plain + whole, rest);
  memset(last + rest, static_cast<int>(kDesBlockSize - rest), kDesBlockSize - rest);
  DesCryptBlock(encSchedule, last, out + whole);
  // The block holds the tail of the plain text.
  WipeBytes(last, sizeof last);
  return static_cast<int>(k);
}

int DesDecryptEcb(const unsigned char* cipher, unsigned m, unsigned char* out, unsigned size,
                  const uint32_t* decSchedule) {
  // An empty input has no last byte to read, and the output must hold every block.
  if (m == 0 || (m & 7u) != 0 || m > size || m > kMaxPlain + kDesBlockSize) return -1;
  for (unsigned i = 0; i < m; i += kDesBlockSize) DesCryptBlock(decSchedule, cipher + i, out + i);
  unsigned pad = out[m - 1];
  if (pad > m) return -1;
  return static_cast<int>(m - pad);
}

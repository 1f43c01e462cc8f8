// SHA-256 against digests made by OpenSSL: every length around the first block bounds and a
// few of several MiB, in one call and in uneven pieces, through the processor's SHA
// extensions and through the portable code.
#include "package/sha256.h"

#include <gtest/gtest.h>
#include <stdio.h>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#include <string>
#include <vector>

namespace {

struct Vector {
  size_t length;
  const char* hex;
};
const Vector kVectors[] = {
#include "sha256_vectors.inc"
};

std::vector<unsigned char> Message(size_t n) {
  std::vector<unsigned char> m(n);
  for (size_t i = 0; i < n; ++i) m[i] = static_cast<unsigned char>(0x35 + 97 * i + (i >> 8));
  return m;
}

std::string Hex(const unsigned char d[kSha256Len]) {
  std::string s;
  char two[3];
  for (uint32_t i = 0; i < kSha256Len; ++i) {
    snprintf(two, sizeof two, "%02x", d[i]);
    s += two;
  }
  return s;
}

// Every vector in one call, and again fed in pieces of 1, 7, 64, 65 and 4093 bytes in turn.
void CheckAll() {
  static const size_t kPieces[] = {1, 7, 64, 65, 4093};
  for (const Vector& v : kVectors) {
    unsigned char d[kSha256Len];
    std::vector<unsigned char> m = Message(v.length);
    Sha256Digest(m.data(), m.size(), d);
    EXPECT_EQ(Hex(d), v.hex) << "length " << v.length << ", one call";
    Sha256 ctx;
    Sha256Init(&ctx);
    size_t done = 0;
    for (size_t i = 0; done < m.size(); ++i) {
      size_t n = kPieces[i % 5];
      if (n > m.size() - done) n = m.size() - done;
      Sha256Update(&ctx, m.data() + done, n);
      done += n;
    }
    Sha256Final(&ctx, d);
    EXPECT_EQ(Hex(d), v.hex) << "length " << v.length << ", in pieces";
  }
}

TEST(Sha256, MatchesOpenSslWithShaExtensions) {
  if (!Sha256HasShaExtensions()) GTEST_SKIP() << "the processor has no SHA extensions";
  CheckAll();
}

TEST(Sha256, MatchesOpenSslWithPortableCode) {
  Sha256ForcePortable(true);
  CheckAll();
  Sha256ForcePortable(false);
}

// Final leaves the context as Init does: the next message's digest is its own.
TEST(Sha256, ContextFinishedOnceDigestsTheNextMessageAlone) {
  const Vector& v = kVectors[100];
  std::vector<unsigned char> m = Message(v.length);
  Sha256 ctx;
  Sha256Init(&ctx);
  unsigned char d[kSha256Len];
  for (int round = 0; round < 2; ++round) {
    Sha256Update(&ctx, m.data(), m.size());
    Sha256Final(&ctx, d);
    EXPECT_EQ(Hex(d), v.hex) << "round " << round;
  }
}

// The choice of code agrees with the processor's own answer: SSSE3 and SSE4.1 (leaf 1 ECX
// bits 9 and 19) and the SHA extensions (leaf 7 EBX bit 29).
TEST(Sha256, UsesShaExtensionsExactlyWhenTheProcessorHasThem) {
#if defined(__i386__) || defined(__x86_64__)
  unsigned a, b, c, d;
  bool has = __get_cpuid(1, &a, &b, &c, &d) && (c >> 9 & 1) && (c >> 19 & 1) &&
             __get_cpuid_max(0, nullptr) >= 7;
  if (has) {
    __cpuid_count(7, 0, a, b, c, d);
    has = (b >> 29 & 1) != 0;
  }
  EXPECT_EQ(Sha256HasShaExtensions(), has);
#else
  EXPECT_FALSE(Sha256HasShaExtensions());
#endif
}

}  // namespace

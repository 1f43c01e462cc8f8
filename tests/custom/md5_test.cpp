// MD5 with the test suite of RFC 1321.
#include "custom/md5.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string HexDigest(const void* data, size_t n) {
  unsigned char d[kMd5DigestSize];
  Md5Digest(data, n, d);
  char hex[33];
  for (unsigned i = 0; i < 16; ++i) snprintf(hex + 2 * i, 3, "%02x", d[i]);
  return hex;
}
std::string HexDigest(const std::string& s) { return HexDigest(s.data(), s.size()); }

struct Vector {
  unsigned length;
  const char* hex;
};
const Vector kHashlibVectors[] = {
#include "md5_vectors.inc"
};

TEST(Md5, Rfc1321TestSuite) {
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", HexDigest(""));
  EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", HexDigest("a"));
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", HexDigest("abc"));
  EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", HexDigest("message digest"));
  EXPECT_EQ("c3fcd3d76192e4007dfb496cca67e13b", HexDigest("abcdefghijklmnopqrstuvwxyz"));
  EXPECT_EQ("d174ab98d277d9f5a5611c2c9f419d9f",
            HexDigest("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"));
  EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a",
            HexDigest("1234567890123456789012345678901234567890"
                      "1234567890123456789012345678901234567890"));
}

TEST(Md5, OneMillionTimesA) {
  std::string a(1000000, 'a');
  EXPECT_EQ("7707d6ae4e027c70eea2a935c2296f21", HexDigest(a));
}

TEST(Md5, PiecewiseUpdatesGiveTheSameDigest) {
  std::vector<unsigned char> data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7 + 3);
  for (size_t n : {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 128, 300}) {
    unsigned char whole[16];
    Md5Digest(data.data(), n, whole);
    for (size_t step : {1, 3, 63, 64, 65}) {
      Md5Context ctx;
      Md5Init(&ctx);
      for (size_t off = 0; off < n; off += step)
        Md5Update(&ctx, data.data() + off, std::min(step, n - off));
      unsigned char parts[16];
      Md5Final(&ctx, parts);
      EXPECT_EQ(0, memcmp(whole, parts, 16)) << "length " << n << " step " << step;
    }
  }
}

TEST(Md5, MatchesHashlibForEveryLengthUpTo130) {
  // The verification code hashes both in one call and in pieces: both entry points.
  ASSERT_EQ(131u, sizeof kHashlibVectors / sizeof kHashlibVectors[0]);
  for (const Vector& v : kHashlibVectors) {
    std::string m(v.length, '\0');
    for (unsigned i = 0; i < v.length; ++i) m[i] = static_cast<char>((0x35 + 97 * i) % 256);
    EXPECT_EQ(v.hex, HexDigest(m)) << "length " << v.length;
    Md5Context ctx;
    Md5Init(&ctx);
    Md5Update(&ctx, m.data(), v.length / 2);
    Md5Update(&ctx, m.data() + v.length / 2, v.length - v.length / 2);
    unsigned char d[kMd5DigestSize];
    Md5Final(&ctx, d);
    char hex[33];
    for (unsigned i = 0; i < 16; ++i) snprintf(hex + 2 * i, 3, "%02x", d[i]);
    EXPECT_STREQ(v.hex, hex) << "length " << v.length << " in two pieces";
  }
}

}  // namespace

// The digest input of verification files, on buffers.
#include "custom/verify_digest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "custom/md5.h"
#include "gate/cipher/pwd_cipher.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Filler(unsigned char seed) {
  Bytes f(kVrfFillerSize);
  for (unsigned i = 0; i < f.size(); ++i) f[i] = static_cast<unsigned char>(seed + 31 * i);
  return f;
}
Bytes DefaultFingerprint() {
  Bytes fp(kIconFingerprintSize);
  DefaultIconFingerprint(fp.data());
  return fp;
}
Bytes Content(size_t n) {
  Bytes c(n);
  for (size_t i = 0; i < n; ++i) c[i] = static_cast<unsigned char>(i % 251);
  return c;
}
Bytes Image(const Bytes& content, const Bytes& filler, const Bytes& fp) {
  Bytes img(kVrfFileSize, 0);
  EXPECT_TRUE(
      MakeVerificationImage(content.data(), content.size(), filler.data(), fp.data(), img.data()));
  return img;
}

TEST(VerifyDigest, DefaultFingerprintIsFFThenZeros) {
  Bytes fp = DefaultFingerprint();
  EXPECT_EQ(0xFF, fp[0]);
  for (unsigned i = 1; i < fp.size(); ++i) EXPECT_EQ(0, fp[i]);
}

TEST(VerifyDigest, ProductConstantComesFromSixZeroBytes) {
  unsigned char c[kProductConstantSize];
  ASSERT_TRUE(BuildProductConstant(c));
  unsigned char zeros[6] = {0}, derived[100];
  unsigned count = 100;
  ASSERT_EQ(1, DeriveTableBytes(zeros, 6, derived, &count));
  ASSERT_EQ(30u, count);
  EXPECT_EQ(0, memcmp(c, derived, 30));
}

TEST(VerifyDigest, InputIsContentFillerFingerprintConstant) {
  Bytes content = Content(1000), filler = Filler(9), fp = DefaultFingerprint();
  fp[5] = 0x42;
  unsigned char constant[kProductConstantSize];
  ASSERT_TRUE(BuildProductConstant(constant));
  Bytes input = content;
  input.insert(input.end(), filler.begin(), filler.end());
  input.insert(input.end(), fp.begin(), fp.end());
  input.insert(input.end(), constant, constant + kProductConstantSize);
  ASSERT_EQ(content.size() + 302, input.size());
  unsigned char expected[16], got[16];
  Md5Digest(input.data(), input.size(), expected);
  ASSERT_TRUE(VerifyDigest(content.data(), content.size(), filler.data(), fp.data(), got));
  EXPECT_EQ(0, memcmp(expected, got, 16));
}

TEST(VerifyDigest, RefusesContentAboveTheLimit) {
  Bytes filler = Filler(1), fp = DefaultFingerprint();
  Bytes big = Content(kMaxVerifiedContent + 1), img(kVrfFileSize, 0x77);
  unsigned char d[16];
  EXPECT_FALSE(VerifyDigest(big.data(), big.size(), filler.data(), fp.data(), d));
  EXPECT_TRUE(VerifyDigest(big.data(), kMaxVerifiedContent, filler.data(), fp.data(), d));
  EXPECT_FALSE(MakeVerificationImage(big.data(), big.size(), filler.data(), fp.data(), img.data()));
  for (unsigned char b : img) EXPECT_EQ(0x77, b);
}

TEST(VerifyDigest, ImageHoldsFillerThenDigest) {
  Bytes content = Content(77), filler = Filler(3), fp = DefaultFingerprint();
  Bytes img = Image(content, filler, fp);
  EXPECT_TRUE(std::equal(filler.begin(), filler.end(), img.begin()));
  unsigned char d[16];
  VerifyDigest(content.data(), content.size(), filler.data(), fp.data(), d);
  EXPECT_EQ(0, memcmp(d, img.data() + kVrfDigestOffset, 16));
  EXPECT_TRUE(CheckVerificationImage(content.data(), content.size(), img.data(), fp.data()));
}

TEST(VerifyDigest, EmptyContentIsProven) {
  Bytes content, filler = Filler(5), fp = DefaultFingerprint();
  Bytes img = Image(content, filler, fp);
  EXPECT_TRUE(CheckVerificationImage(content.data(), 0, img.data(), fp.data()));
}

TEST(VerifyDigest, AnySingleChangedByteIsRefused) {
  Bytes content = Content(200), filler = Filler(7), fp = DefaultFingerprint();
  Bytes img = Image(content, filler, fp);
  for (size_t i = 0; i < content.size(); ++i) {
    Bytes c = content;
    c[i] ^= 0x01;
    EXPECT_FALSE(CheckVerificationImage(c.data(), c.size(), img.data(), fp.data()))
        << "content " << i;
  }
  for (size_t i = 0; i < kVrfFileSize; ++i) {
    Bytes v = img;
    v[i] ^= 0x80;
    EXPECT_FALSE(CheckVerificationImage(content.data(), content.size(), v.data(), fp.data()))
        << "vrf " << i;
  }
  for (size_t i = 0; i < kIconFingerprintSize; ++i) {
    Bytes f = fp;
    f[i] ^= 0x10;
    EXPECT_FALSE(CheckVerificationImage(content.data(), content.size(), img.data(), f.data()))
        << "fp " << i;
  }
}

// The smallest icon with a fingerprint has 544 bytes: its last 32 are the fingerprint. One
// byte fewer gives none and leaves the fingerprint as it was.
TEST(VerifyDigest, IconFingerprintNeedsExactly544Bytes) {
  Bytes icon = Content(544), fp = DefaultFingerprint();
  ASSERT_TRUE(IconFingerprintFromHead(icon.data(), 544, fp.data()));
  EXPECT_EQ(Bytes(icon.begin() + 512, icon.end()), fp);
  Bytes shorter(icon.begin(), icon.end() - 1);
  fp = DefaultFingerprint();
  EXPECT_FALSE(IconFingerprintFromHead(shorter.data(), 543, fp.data()));
  EXPECT_EQ(DefaultFingerprint(), fp);
}

TEST(VerifyDigest, DigestsEqualComparesAllSixteenBytes) {
  unsigned char a[16] = {0}, b[16] = {0};
  EXPECT_TRUE(DigestsEqual(a, b));
  b[15] = 1;
  EXPECT_FALSE(DigestsEqual(a, b));
}

}  // namespace

// The mixing of package bytes: known bytes, every byte value and alignment, SSE2 against
// the scalar code.
#include "package/mix.h"

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <vector>

namespace {

TEST(MixBuffer, KnownBytes) {
  unsigned char b[] = {0x00, 0x80, 0x01, 0xFF, 0x7F, 0x81};
  EXPECT_EQ(MixBuffer(b, sizeof b), 6u);
  const unsigned char want[] = {0x00, 0x80, 0xFF, 0x01, 0x81, 0x7F};
  EXPECT_EQ(0, memcmp(b, want, sizeof b));
}

TEST(MixCopy, Sse2AgreesWithScalarAtOddLengthsAndAlignments) {
  if (!MixHasSse2()) GTEST_SKIP() << "the processor has no SSE2";
  std::vector<unsigned char> src(300), a(300), b(300);
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<unsigned char>(i * 37 + 11);
  size_t differing = 0;
  for (size_t srcSkew = 0; srcSkew < 16; ++srcSkew) {
    for (size_t dstSkew = 0; dstSkew < 16; dstSkew += 3) {
      for (uint32_t len : {0u, 1u, 3u, 15u, 16u, 17u, 63u, 64u, 65u, 127u, 129u, 255u}) {
        std::fill(a.begin(), a.end(), 0xEE);
        std::fill(b.begin(), b.end(), 0xEE);
        MixCopyScalar(a.data() + dstSkew, src.data() + srcSkew, len);
        MixCopySse2(b.data() + dstSkew, src.data() + srcSkew, len);
        if (a != b) ++differing;
      }
    }
  }
  EXPECT_EQ(differing, 0u);
}

TEST(MixBuffer, EveryByteValueAtEveryAlignment) {
  for (size_t skew = 0; skew < 8; ++skew) {
    std::vector<unsigned char> buf(256 + skew + 5);
    for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<unsigned char>(i * 7 + skew);
    std::vector<unsigned char> orig = buf;
    MixBuffer(buf.data() + skew, 256 + 3);
    for (size_t i = 0; i < buf.size(); ++i) {
      bool inside = i >= skew && i < skew + 259;
      unsigned char want = inside ? static_cast<unsigned char>(0u - orig[i]) : orig[i];
      ASSERT_EQ(buf[i], want) << "skew " << skew << " index " << i;
    }
    MixBuffer(buf.data() + skew, 256 + 3);
    EXPECT_EQ(buf, orig);
  }
}

TEST(MixBuffer, NullAndEmpty) {
  EXPECT_EQ(MixBuffer(nullptr, 4), 0u);
  unsigned char b = 1;
  EXPECT_EQ(MixBuffer(&b, 0), 0u);
  EXPECT_EQ(b, 1);
}

}  // namespace

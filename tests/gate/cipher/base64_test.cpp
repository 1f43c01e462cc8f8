// Base64 of RFC 4648, section 4.
#include "gate/cipher/base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Encode(const std::string& s) {
  std::vector<char> out(Base64EncodedSize(s.size()));
  EXPECT_EQ(0,
            Base64Encode(reinterpret_cast<const unsigned char*>(s.data()), out.data(), s.size()));
  EXPECT_EQ(out.size() - 1, strlen(out.data()));
  return out.data();
}

// Decodes into a buffer as large as the text; -1 gives "<invalid>".
std::string Decode(const std::string& text, unsigned* count = nullptr) {
  std::vector<unsigned char> out(text.size() + 1, 0xEE);
  unsigned n = 12345;
  if (Base64Decode(text.c_str(), out.data(), &n) != 0) return "<invalid>";
  EXPECT_EQ(0, out[n]) << "terminator behind the decoded bytes";
  if (count) *count = n;
  return std::string(reinterpret_cast<char*>(out.data()), n);
}

TEST(Base64, Rfc4648TestVectors) {
  EXPECT_EQ("", Encode(""));
  EXPECT_EQ("Zg==", Encode("f"));
  EXPECT_EQ("Zm8=", Encode("fo"));
  EXPECT_EQ("Zm9v", Encode("foo"));
  EXPECT_EQ("Zm9vYg==", Encode("foob"));
  EXPECT_EQ("Zm9vYmE=", Encode("fooba"));
  EXPECT_EQ("Zm9vYmFy", Encode("foobar"));
  for (const char* s : {"", "f", "fo", "foo", "foob", "fooba", "foobar"})
    EXPECT_EQ(s, Decode(Encode(s)));
}

TEST(Base64, EveryByteValueRoundTrips) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  std::string text = Encode(all);
  EXPECT_EQ(
      std::string::npos,
      text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="));
  EXPECT_EQ(all, Decode(text));
}

TEST(Base64, LengthMustBeAMultipleOfFour) {
  EXPECT_EQ("<invalid>", Decode("Z"));
  EXPECT_EQ("<invalid>", Decode("Zm9"));
  EXPECT_EQ("<invalid>", Decode("Zm9vY"));
  EXPECT_EQ("<invalid>", Decode("Zm9vYmFy="));
}

TEST(Base64, CharactersOutsideTheAlphabetAreInvalid) {
  for (int c = 1; c < 256; ++c) {
    bool alphabet = isalnum(c) && c < 128;
    if (alphabet || c == '+' || c == '/' || c == '=') continue;
    std::string text = "Zm9v";
    text[1] = static_cast<char>(c);
    EXPECT_EQ("<invalid>", Decode(text)) << "byte " << c;
  }
}

TEST(Base64, PaddingInTheFirstOrSecondPlaceIsInvalid) {
  EXPECT_EQ("<invalid>", Decode("===="));
  EXPECT_EQ("<invalid>", Decode("=m9v"));
  EXPECT_EQ("<invalid>", Decode("Z=9v"));
  EXPECT_EQ("<invalid>", Decode("Zm9vZ==="));
}

TEST(Base64, EachPaddingMarkShortensTheResult) {
  unsigned n = 0;
  Decode("Zm9vYg==", &n);
  EXPECT_EQ(4u, n);
  Decode("Zm9vYmE=", &n);
  EXPECT_EQ(5u, n);
  // Padding before the last group still counts one byte less per mark.
  Decode("Zg==Zm9v", &n);
  EXPECT_EQ(4u, n);
  Decode("Zm=vZm9v", &n);
  EXPECT_EQ(5u, n);
}

TEST(Base64, DecodedCountMayBeOmitted) {
  unsigned char out[8];
  EXPECT_EQ(0, Base64Decode("Zm9v", out, nullptr));
  EXPECT_EQ(0, memcmp(out, "foo", 4));
}

TEST(Base64, FailureLeavesTheCountAlone) {
  unsigned char out[8];
  unsigned n = 77;
  EXPECT_EQ(-1, Base64Decode("Zm9v!!!!", out, &n));
  EXPECT_EQ(77u, n);
}

}  // namespace

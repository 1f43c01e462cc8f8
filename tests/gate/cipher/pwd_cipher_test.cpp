// The stored text form of passwords and the table-derived bytes.
#include "gate/cipher/pwd_cipher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gate/cipher/base64.h"
#include "gate/cipher/des.h"

namespace {

struct Vector {
  unsigned length;
  const char* text;
};
const Vector kOpenSslVectors[] = {
#include "des_openssl_vectors.inc"
};

std::vector<unsigned char> Password(unsigned n) {
  std::vector<unsigned char> p(n);
  for (unsigned i = 0; i < n; ++i) p[i] = static_cast<unsigned char>((0x21 + 37 * i) % 256);
  return p;
}

// Encrypts into a zero-filled buffer of size; the code goes to *rc.
std::string Encrypt(const std::vector<unsigned char>& plain, int* rc,
                    unsigned size = kStoredPwdTextSize) {
  std::vector<char> out(size + 1, 0);
  *rc = DesBase64Encrypt(out.data(), size, plain.data(), plain.size());
  return std::string(out.data(), strnlen(out.data(), size));
}

// Decrypts into a zero-filled buffer with the count room.
int Decrypt(const std::string& text, std::vector<unsigned char>* plain, unsigned room = 128) {
  std::vector<unsigned char> out(room + 16, 0);
  unsigned count = room;
  int rc = DesBase64Decrypt(out.data(), &count, text.c_str());
  if (rc == kPwdOk) {
    EXPECT_LE(count, room);
    plain->assign(out.begin(), out.begin() + count);
    for (unsigned i = count; i < out.size(); ++i)
      EXPECT_EQ(0, out[i]) << "nothing behind the plain bytes";
  } else {
    EXPECT_EQ(room, count) << "count untouched on failure";
    for (unsigned char b : out) EXPECT_EQ(0, b) << "output untouched on failure";
  }
  return rc;
}

// The stored text of arbitrary ciphertext under the product key: plain blocks encrypted
// without padding, then Base64.
std::string StoredTextOfBlocks(const std::vector<unsigned char>& blocks) {
  static const unsigned char kKey[8] = {'v', 'o', 'r', 'e', 'k', '2', '9', '3'};
  uint32_t enc[kDesScheduleWords], dec[kDesScheduleWords];
  DesSetKey(kKey, enc, dec);
  std::vector<unsigned char> cipher(blocks.size());
  for (size_t i = 0; i < blocks.size(); i += 8) DesCryptBlock(enc, &blocks[i], &cipher[i]);
  std::vector<char> text(Base64EncodedSize(cipher.size()));
  Base64Encode(cipher.data(), text.data(), cipher.size());
  return text.data();
}

TEST(StoredPassword, MatchesOpenSslForEveryLengthUpTo87) {
  ASSERT_EQ(88u, sizeof kOpenSslVectors / sizeof kOpenSslVectors[0]);
  for (const Vector& v : kOpenSslVectors) {
    int rc = -1;
    EXPECT_EQ(v.text, Encrypt(Password(v.length), &rc)) << "length " << v.length;
    EXPECT_EQ(kPwdOk, rc);
  }
}

TEST(StoredPassword, RoundTripsEveryLengthUpTo87) {
  for (unsigned n = 0; n <= 87; ++n) {
    int rc = -1;
    std::string text = Encrypt(Password(n), &rc);
    ASSERT_EQ(kPwdOk, rc);
    std::vector<unsigned char> back;
    EXPECT_EQ(kPwdOk, Decrypt(text, &back)) << "length " << n;
    EXPECT_EQ(Password(n), back) << "length " << n;
  }
}

TEST(StoredPassword, TextLengthFollowsTheBlockCount) {
  const unsigned expected[][2] = {{0, 12},  {7, 12},  {8, 24},  {15, 24}, {16, 32}, {23, 32},
                                  {24, 44}, {31, 44}, {32, 56}, {39, 56}, {87, 120}};
  for (const auto& e : expected) {
    int rc = -1;
    EXPECT_EQ(e[1], Encrypt(Password(e[0]), &rc).size()) << "length " << e[0];
  }
}

TEST(StoredPassword, EmptyPasswordIsOneBlockOfPadding) {
  int rc = -1;
  std::string text = Encrypt({}, &rc);
  EXPECT_EQ(kPwdOk, rc);
  ASSERT_EQ(12u, text.size());
  EXPECT_EQ('=', text[11]);
  EXPECT_NE('=', text[10]);
}

TEST(StoredPassword, EightBytesGiveTwoBlocks) {
  int rc = -1;
  std::string text = Encrypt(Password(8), &rc);
  ASSERT_EQ(24u, text.size());
  EXPECT_EQ("==", text.substr(22));
}

TEST(StoredPassword, EqualPasswordsGiveEqualTexts) {
  int rc1 = -1, rc2 = -1;
  std::vector<unsigned char> p = {'s', 'e', 'c', 'r', 'e', 't'};
  EXPECT_EQ(Encrypt(p, &rc1), Encrypt(p, &rc2));
}

TEST(StoredPasswordCodes, EightyEightBytesDoNotFit128) {
  int rc = -1;
  EXPECT_EQ("", Encrypt(Password(88), &rc));
  EXPECT_EQ(kPwdOutputTooSmall, rc);
}

TEST(StoredPasswordCodes, TheTextMustFitWithItsTerminator) {
  int rc = -1;
  // 12 characters and a NUL need 13 bytes.
  Encrypt({}, &rc, 12);
  EXPECT_EQ(kPwdOutputTooSmall, rc);
  EXPECT_EQ(12u, Encrypt({}, &rc, 13).size());
  EXPECT_EQ(kPwdOk, rc);
  Encrypt({}, &rc, 0);
  EXPECT_EQ(kPwdOutputTooSmall, rc);
}

TEST(StoredPasswordCodes, EmptyTextGives4) {
  std::vector<unsigned char> p;
  EXPECT_EQ(kPwdNoMemory, Decrypt("", &p));
}

TEST(StoredPasswordCodes, InvalidBase64Gives5) {
  std::vector<unsigned char> p;
  EXPECT_EQ(kPwdBadBase64, Decrypt("8ZwuhOHxnHE", &p)) << "length not a multiple of 4";
  EXPECT_EQ(kPwdBadBase64, Decrypt("8Zwu*OHxnHE=", &p)) << "character outside the alphabet";
  EXPECT_EQ(kPwdBadBase64, Decrypt("8Zwu\x80OHxnHE=", &p)) << "byte 0x80";
  EXPECT_EQ(kPwdBadBase64, Decrypt("8Zwu\xffOHxnHE=", &p)) << "byte 0xFF";
  EXPECT_EQ(kPwdBadBase64, Decrypt("8Zwu\xc3\xa9HxnHE=", &p)) << "UTF-8 character";
  EXPECT_EQ(kPwdBadBase64, Decrypt("=ZwuhOHxnHE=", &p)) << "padding first";
  EXPECT_EQ(kPwdBadBase64, Decrypt("8=wuhOHxnHE=", &p)) << "padding second";
  EXPECT_EQ(kPwdBadBase64, Decrypt("8Zwu=OHxnHE=", &p)) << "padding first in a later group";
}

TEST(StoredPasswordCodes, ShortTextGives6) {
  std::vector<unsigned char> p;
  EXPECT_EQ(kPwdBadCipher, Decrypt("QUJD", &p)) << "3 bytes";
  EXPECT_EQ(kPwdBadCipher, Decrypt("QQ==", &p)) << "1 byte";
  EXPECT_EQ(kPwdBadCipher, Decrypt("QUI=", &p)) << "2 bytes";
}

TEST(StoredPasswordCodes, LastByteZeroGivesTheWholeData) {
  std::vector<unsigned char> blocks = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 0};
  std::vector<unsigned char> p;
  EXPECT_EQ(kPwdOk, Decrypt(StoredTextOfBlocks(blocks), &p));
  EXPECT_EQ(blocks, p);
}

TEST(StoredPasswordCodes, LastByteLargerThanTheDataGives6) {
  std::vector<unsigned char> p;
  EXPECT_EQ(kPwdBadCipher, Decrypt(StoredTextOfBlocks({'a', 'b', 'c', 'd', 'e', 'f', 'g', 9}), &p));
  EXPECT_EQ(kPwdBadCipher,
            Decrypt(StoredTextOfBlocks({'a', 'b', 'c', 'd', 'e', 'f', 'g', 0xFF}), &p));
}

TEST(StoredPasswordCodes, PlainDataLargerThanTheRoomGives6) {
  int rc = -1;
  std::string text = Encrypt(Password(20), &rc);  // 24 bytes of ciphertext
  std::vector<unsigned char> p;
  EXPECT_EQ(kPwdBadCipher, Decrypt(text, &p, 19));
  EXPECT_EQ(kPwdBadCipher, Decrypt(text, &p, 8));
  EXPECT_EQ(kPwdOk, Decrypt(text, &p, 20));
  EXPECT_EQ(Password(20), p);
}

TEST(StoredPasswordCodes, ACiphertextWithoutPaddingFitsTheRoomExactly) {
  // 16 bytes ending in 0: the whole 16 bytes come back when the room is 16.
  std::vector<unsigned char> blocks(16, 'x');
  blocks[15] = 0;
  std::vector<unsigned char> p;
  EXPECT_EQ(kPwdOk, Decrypt(StoredTextOfBlocks(blocks), &p, 16));
  EXPECT_EQ(blocks, p);
  EXPECT_EQ(kPwdBadCipher, Decrypt(StoredTextOfBlocks(blocks), &p, 15));
}

TEST(StoredPasswordCodes, LongTextsNeverOverrunTheOutput) {
  // 128 characters decode to 96 bytes, far inside a room of 128; 400 characters are too many.
  std::string text = StoredTextOfBlocks(std::vector<unsigned char>(96, 8));
  ASSERT_EQ(128u, text.size());
  std::vector<unsigned char> p;
  EXPECT_EQ(kPwdOk, Decrypt(text, &p));
  EXPECT_EQ(88u, p.size());
  std::string longText = StoredTextOfBlocks(std::vector<unsigned char>(296, 8));
  EXPECT_EQ(kPwdBadCipher, Decrypt(longText, &p));
}

TEST(DeriveTableBytes, RefusesOutOfRangeInputsAndWritesNothing) {
  unsigned char in[21] = {0}, out[200];
  memset(out, 0x5A, sizeof out);
  unsigned count = 200;
  EXPECT_EQ(0, DeriveTableBytes(in, 5, out, &count));
  EXPECT_EQ(0, DeriveTableBytes(in, 21, out, &count));
  count = 29;
  EXPECT_EQ(0, DeriveTableBytes(in, 6, out, &count));
  EXPECT_EQ(29u, count);
  EXPECT_EQ(0, DeriveTableBytes(nullptr, 6, out, &count));
  EXPECT_EQ(0, DeriveTableBytes(in, 6, nullptr, &count));
  EXPECT_EQ(0, DeriveTableBytes(in, 6, out, nullptr));
  for (unsigned char b : out) EXPECT_EQ(0x5A, b);
}

TEST(DeriveTableBytes, AcceptsTwentyBytesWithRoomOfExactly100) {
  unsigned char in[20], out[100];
  for (unsigned i = 0; i < 20; ++i) in[i] = static_cast<unsigned char>(i * 13);
  unsigned count = 100;
  EXPECT_EQ(1, DeriveTableBytes(in, 20, out, &count));
  EXPECT_EQ(100u, count);
}

TEST(DeriveTableBytes, SixZeroBytesGiveTheProductConstant) {
  // Input byte i walks the table from index i in steps of i.
  static const unsigned char kTable[] = {0x8b, 0x3f, 0x99, 0x2c, 0x31, 0xcd, 0x23, 0x6e, 0x81, 0x04,
                                         0xd0, 0xd9, 0x60, 0x16, 0xfa, 0x66, 0x6c, 0x59, 0x01, 0x1e,
                                         0x3f, 0x53, 0x40, 0xfb, 0xe1, 0xe0, 0xf8, 0xa4};
  unsigned char in[6] = {0}, out[100];
  unsigned count = 100;
  ASSERT_EQ(1, DeriveTableBytes(in, 6, out, &count));
  ASSERT_EQ(30u, count);
  for (unsigned i = 0; i < 6; ++i)
    for (unsigned j = 0; j < 5; ++j)
      EXPECT_EQ(kTable[i * (j + 1)], out[5 * i + j]) << i << "," << j;
}

// Expected bytes read off the table by hand (a short script): output byte 5i + j is
// table[(in[i] + (j + 1) * i) mod 128].
TEST(DeriveTableBytes, HighAndLowInputBytesGiveTheirTableBytes) {
  const unsigned char in[6] = {0x01, 0x7F, 0x80, 0xFF, 0x40, 0x13};
  const unsigned char want[30] = {0x3f, 0x3f, 0x3f, 0x3f, 0x3f, 0x8b, 0x3f, 0x99, 0x2c, 0x31,
                                  0x99, 0x31, 0x23, 0x81, 0xd0, 0x99, 0xcd, 0x81, 0xd9, 0xfa,
                                  0x1c, 0xfd, 0x42, 0x99, 0x20, 0xe1, 0x1b, 0xf2, 0xa8, 0xd1};
  unsigned char out[30];
  unsigned count = 30;
  ASSERT_EQ(1, DeriveTableBytes(in, 6, out, &count));
  EXPECT_EQ(std::vector<unsigned char>(want, want + 30), std::vector<unsigned char>(out, out + 30));
}

TEST(DeriveTableBytes, TwentyInputBytesGiveTheirTableBytes) {
  unsigned char in[20];
  for (unsigned i = 0; i < 20; ++i) in[i] = static_cast<unsigned char>(i * 13);
  const unsigned char want[100] = {
      0x8b, 0x8b, 0x8b, 0x8b, 0x8b, 0xfa, 0x66, 0x6c, 0x59, 0x01, 0xcc, 0xf8, 0x3b, 0xf2, 0x2d,
      0xbb, 0x05, 0xc1, 0xb1, 0xd3, 0x77, 0xd6, 0x1d, 0x1c, 0xfd, 0xb8, 0xa4, 0x99, 0x90, 0xa5,
      0x20, 0xa5, 0x2f, 0xf2, 0x6b, 0x44, 0x6d, 0x15, 0x26, 0x05, 0x15, 0xf0, 0x8b, 0x81, 0x6c,
      0x05, 0x6e, 0x6c, 0xe0, 0xf2, 0x60, 0x40, 0x3b, 0xbb, 0xd2, 0xf8, 0x3f, 0xc1, 0x4d, 0xb8,
      0x20, 0xd2, 0x1d, 0x42, 0x82, 0xd3, 0x12, 0x99, 0xd0, 0x6e, 0x1c, 0x34, 0x2f, 0x4f, 0xdf,
      0x34, 0xe8, 0x15, 0x8a, 0xfa, 0x2f, 0x15, 0x8b, 0x6c, 0x3b, 0x4f, 0x8a, 0x6c, 0x74, 0xe9,
      0xdf, 0xfa, 0x3b, 0xe9, 0x1c, 0xd0, 0x1b, 0xc1, 0x12, 0x92};
  unsigned char out[100];
  unsigned count = 100;
  ASSERT_EQ(1, DeriveTableBytes(in, 20, out, &count));
  EXPECT_EQ(std::vector<unsigned char>(want, want + 100),
            std::vector<unsigned char>(out, out + 100));
}

TEST(DeriveTableBytes, HighInputBytesStayInsideTheTable) {
  unsigned char in[6] = {0xFF, 0x80, 0x7F, 0xFE, 0x00, 0x81}, out[30];
  unsigned count = 30;
  EXPECT_EQ(1, DeriveTableBytes(in, 6, out, &count));
}

}  // namespace

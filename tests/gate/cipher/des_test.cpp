// DES against known-answer vectors of the DES validation suite, and the ECB framing.
#include "gate/cipher/des.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<unsigned char> Hex(const std::string& h) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < h.size(); i += 2)
    out.push_back(std::stoi(h.substr(i, 2), nullptr, 16));
  return out;
}

struct Kat {
  const char* key;
  const char* plain;
  const char* cipher;
};

// Variable plaintext, variable key, permutation operation and substitution table tests.
const Kat kKats[] = {
    {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
    {"0101010101010101", "4000000000000000", "DD7F121CA5015619"},
    {"0101010101010101", "2000000000000000", "2E8653104F3834EA"},
    {"0101010101010101", "1000000000000000", "4BD388FF6CD81D4F"},
    {"0101010101010101", "0800000000000000", "20B9E767B2FB1456"},
    {"0101010101010101", "0400000000000000", "55579380D77138EF"},
    {"0101010101010101", "0200000000000000", "6CC5DEFAAF04512F"},
    {"0101010101010101", "0100000000000000", "0D9F279BA5D87260"},
    {"0101010101010101", "0000000000000001", "166B40B44ABA4BD6"},
    {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
    {"4001010101010101", "0000000000000000", "0EEC1487DD8C26D5"},
    {"2001010101010101", "0000000000000000", "7AD16FFB79C45926"},
    {"1001010101010101", "0000000000000000", "D3746294CA6A6CF3"},
    {"1046913489980131", "0000000000000000", "88D55E54F54C97B4"},
    {"1007103489988020", "0000000000000000", "0C0CC00C83EA48FD"},
    {"10071034C8980120", "0000000000000000", "83BC8EF3A6570183"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "7A389D10354BD271"},
    {"07A1133E4A0B2686", "0248D43806F67172", "868EBB51CAB4599A"},
    {"3849674C2602319E", "51454B582DDF440A", "7178876E01F19B2A"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "AF37FB421F8C4095"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "86A560F10EC6D85B"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "0CD3DA020021DC09"},
    {"43297FAD38E373FE", "762514B829BF486A", "EA676B2CB7DB2B7A"},
    {"07A7137045DA2A16", "3BDD119049372802", "DFD64A815CAF1A0F"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "5C513C9C4886C088"},
    {"37D06BB516CB7546", "164D5E404F275232", "0A2AEEAE3FF4AB77"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "EF1BF03E5DFA575A"},
    {"584023641ABA6176", "004BD6EF09176062", "88BF0DB6D70DEE56"},
    {"025816164629B007", "480D39006EE762F2", "A1F9915541020B56"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "6FBF1CAFCFFD0556"},
    {"4FB05E1515AB73A7", "072D43A077075292", "2F22E49BAB7CA1AC"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "5A6B612CC26CCE4A"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "5F4C038ED12B2E41"},
    {"1C587F1C13924FEF", "305532286D6F295A", "63FAC0D034D9F793"},
    {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
    {"0E329232EA6D0D73", "8787878787878787", "0000000000000000"},
};

struct Schedules {
  uint32_t enc[kDesScheduleWords];
  uint32_t dec[kDesScheduleWords];
  explicit Schedules(const std::vector<unsigned char>& key) {
    EXPECT_EQ(0, DesSetKey(key.data(), enc, dec));
  }
};

TEST(Des, KnownAnswerVectorsEncrypt) {
  for (const Kat& v : kKats) {
    Schedules s(Hex(v.key));
    std::vector<unsigned char> p = Hex(v.plain), c(8);
    DesCryptBlock(s.enc, p.data(), c.data());
    EXPECT_EQ(Hex(v.cipher), c) << "key " << v.key << " plain " << v.plain;
  }
}

TEST(Des, KnownAnswerVectorsDecrypt) {
  for (const Kat& v : kKats) {
    Schedules s(Hex(v.key));
    std::vector<unsigned char> c = Hex(v.cipher), p(8);
    DesCryptBlock(s.dec, c.data(), p.data());
    EXPECT_EQ(Hex(v.plain), p) << "key " << v.key;
  }
}

TEST(Des, ParityBitsOfTheKeyAreIgnored) {
  Schedules a(Hex("0101010101010101")), b(Hex("0000000000000000"));
  EXPECT_EQ(0, memcmp(a.enc, b.enc, sizeof a.enc));
  EXPECT_EQ(0, memcmp(a.dec, b.dec, sizeof a.dec));
}

TEST(Des, DecryptionScheduleIsTheEncryptionOneReversed) {
  Schedules s(Hex("133457799BBCDFF1"));
  for (unsigned r = 0; r < 16; ++r) {
    EXPECT_EQ(s.enc[2 * r], s.dec[30 - 2 * r]);
    EXPECT_EQ(s.enc[2 * r + 1], s.dec[31 - 2 * r]);
  }
}

TEST(DesEcb, PadsAWholeBlockForMultiplesOfEight) {
  Schedules s(Hex("133457799BBCDFF1"));
  unsigned char plain[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  unsigned char out[24];
  EXPECT_EQ(8, DesEncryptEcb(plain, 0, out, 8, s.enc));
  EXPECT_EQ(16, DesEncryptEcb(plain, 8, out, 16, s.enc));
  EXPECT_EQ(16, DesEncryptEcb(plain, 15, out, 16, s.enc));
  EXPECT_EQ(24, DesEncryptEcb(plain, 16, out, 24, s.enc));
  unsigned char back[24];
  EXPECT_EQ(16, DesDecryptEcb(out, 24, back, 24, s.dec));
  EXPECT_EQ(0, memcmp(plain, back, 16));
  for (int i = 16; i < 24; ++i) EXPECT_EQ(8, back[i]) << "padding stays behind the plain bytes";
}

TEST(DesEcb, EncryptRefusesASmallOutputAndLeavesItAlone) {
  Schedules s(Hex("133457799BBCDFF1"));
  unsigned char plain[8] = {0};
  unsigned char out[16];
  memset(out, 0xAB, sizeof out);
  EXPECT_EQ(-1, DesEncryptEcb(plain, 8, out, 15, s.enc));
  for (unsigned char b : out) EXPECT_EQ(0xAB, b);
  EXPECT_EQ(-1, DesEncryptEcb(plain, 0, out, 7, s.enc));
}

TEST(DesEcb, EcbBlocksAreIndependent) {
  Schedules s(Hex("133457799BBCDFF1"));
  std::vector<unsigned char> plain = Hex("0123456789ABCDEF0123456789ABCDEF");
  unsigned char out[24];
  ASSERT_EQ(24, DesEncryptEcb(plain.data(), 16, out, 24, s.enc));
  EXPECT_EQ(Hex("85E813540F0AB405"), std::vector<unsigned char>(out, out + 8));
  EXPECT_EQ(Hex("85E813540F0AB405"), std::vector<unsigned char>(out + 8, out + 16));
}

TEST(DesEcb, DecryptRefusesBadLengthsAndSmallOutputs) {
  Schedules s(Hex("133457799BBCDFF1"));
  unsigned char in[16] = {0}, out[16];
  EXPECT_EQ(-1, DesDecryptEcb(in, 0, out, 16, s.dec));
  EXPECT_EQ(-1, DesDecryptEcb(in, 7, out, 16, s.dec));
  EXPECT_EQ(-1, DesDecryptEcb(in, 12, out, 16, s.dec));
  memset(out, 0xCD, sizeof out);
  // Never writes past the output's size, even when the plain data would fit it.
  EXPECT_EQ(-1, DesDecryptEcb(in, 16, out, 15, s.dec));
  EXPECT_EQ(-1, DesDecryptEcb(in, 16, out, 8, s.dec));
  for (unsigned char b : out) EXPECT_EQ(0xCD, b);
}

TEST(DesEcb, DecryptReportsTheLastByteAsPadding) {
  Schedules s(Hex("133457799BBCDFF1"));
  unsigned char plain[16] = {0}, cipher[16], back[16];
  // Last byte 0: the whole data, "padding" included.
  DesCryptBlock(s.enc, plain, cipher);
  EXPECT_EQ(8, DesDecryptEcb(cipher, 8, back, 8, s.dec));
  // Last byte 8 in one block: nothing left.
  plain[7] = 8;
  DesCryptBlock(s.enc, plain, cipher);
  EXPECT_EQ(0, DesDecryptEcb(cipher, 8, back, 8, s.dec));
  // Last byte 9 in one block: larger than the data.
  plain[7] = 9;
  DesCryptBlock(s.enc, plain, cipher);
  EXPECT_EQ(-1, DesDecryptEcb(cipher, 8, back, 8, s.dec));
  // Last byte 16 in two blocks: allowed, the padding is not checked further.
  plain[15] = 16;
  DesCryptBlock(s.enc, plain, cipher);
  DesCryptBlock(s.enc, plain + 8, cipher + 8);
  EXPECT_EQ(0, DesDecryptEcb(cipher, 16, back, 16, s.dec));
}

}  // namespace

// olvsign: verification files written by the tool are proven by the code Setup uses, and
// stored passwords convert both ways.
#include "olvsign.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "custom/verify_digest.h"
#include "gate/cipher/pwd_cipher.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

struct Result {
  int code;
  std::string out, err;
};

Result Olv(std::vector<std::string> args, const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out, err;
  int code = RunOlvsign(args, in, out, err);
  return {code, out.str(), err.str()};
}

class Olvsign : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    dir_ = fs::temp_directory_path() /
           ("olvsign-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string P(const std::string& name) const { return (dir_ / name).string(); }
  void Put(const std::string& name, const Bytes& data) const {
    std::ofstream f(P(name), std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), data.size());
  }
  void Put(const std::string& name, const std::string& text) const {
    Put(name, Bytes(text.begin(), text.end()));
  }
  Bytes Get(const std::string& name) const {
    std::ifstream f(P(name), std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  }
  // True when the verification code that Setup uses proves content by vrf.
  bool Proven(const std::string& content, const std::string& vrf, const Bytes* fp = nullptr) const {
    Bytes c = Get(content), v = Get(vrf), def(kIconFingerprintSize);
    DefaultIconFingerprint(def.data());
    return v.size() == kVrfFileSize &&
           CheckVerificationImage(c.data(), c.size(), v.data(), fp ? fp->data() : def.data());
  }
  fs::path dir_;
};

TEST_F(Olvsign, SignWritesWhatSetupProves) {
  Put("OlvanCustom.xml", "<msg><content/></msg>");
  Result r = Olv({"sign", P("OlvanCustom.xml")});
  EXPECT_EQ(kExitOk, r.code) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("OlvanCustomXml.vrf"));
  EXPECT_EQ(kVrfFileSize, Get("OlvanCustomXml.vrf").size());
  EXPECT_TRUE(Proven("OlvanCustom.xml", "OlvanCustomXml.vrf"));
  EXPECT_EQ(kExitOk, Olv({"check", P("OlvanCustom.xml")}).code);
}

TEST_F(Olvsign, DefaultVerificationFileNamesFollowSetupsPairs) {
  const char* pairs[][2] = {{"OlvanCustom.ini", "OlvanCustom.vrf"},
                            {"OlvanCustom.xml", "OlvanCustomXml.vrf"},
                            {"OlvanUninstallInfo.ini", "OlvanUninstallInfo.vrf"},
                            {"OlvanUninstallInfo.xml", "OlvanUninstallInfoXml.vrf"}};
  for (auto& p : pairs) {
    Put(p[0], std::string("content of ") + p[0]);
    ASSERT_EQ(kExitOk, Olv({"sign", P(p[0])}).code) << p[0];
    EXPECT_TRUE(Proven(p[0], p[1])) << p[1];
  }
  Put("other.xml", "x");
  Result r = Olv({"sign", P("other.xml")});
  EXPECT_EQ(kExitUsage, r.code);
  EXPECT_NE(std::string::npos, r.err.find("second argument"));
  EXPECT_EQ(kExitOk, Olv({"sign", P("other.xml"), P("other.vrf")}).code);
  EXPECT_TRUE(Proven("other.xml", "other.vrf"));
}

TEST_F(Olvsign, FillerIsRandomByDefault) {
  Put("OlvanCustom.ini", "a=1\r\n");
  ASSERT_EQ(kExitOk, Olv({"sign", P("OlvanCustom.ini"), P("one.vrf")}).code);
  ASSERT_EQ(kExitOk, Olv({"sign", P("OlvanCustom.ini"), P("two.vrf")}).code);
  EXPECT_NE(Get("one.vrf"), Get("two.vrf"));
  EXPECT_TRUE(Proven("OlvanCustom.ini", "one.vrf"));
  EXPECT_TRUE(Proven("OlvanCustom.ini", "two.vrf"));
}

TEST_F(Olvsign, SeededFillerIsReproducible) {
  Put("OlvanCustom.ini", "[Custom]\r\nuninstall=1\r\n");
  ASSERT_EQ(kExitOk,
            Olv({"sign", "--filler-seed", "release-1", P("OlvanCustom.ini"), P("a.vrf")}).code);
  ASSERT_EQ(kExitOk,
            Olv({"sign", P("OlvanCustom.ini"), P("b.vrf"), "--filler-seed", "release-1"}).code);
  EXPECT_EQ(Get("a.vrf"), Get("b.vrf"));
  // Made independently (Python's hashlib) from the layout: MD5 over content, filler
  // MD5("release-1" + block byte) x 15, 0xFF and 31 zeros, and the 30 table bytes.
  Bytes v = Get("a.vrf");
  Bytes digest(v.begin() + kVrfDigestOffset, v.end());
  Bytes expected = {0xc7, 0x87, 0xd4, 0x63, 0x05, 0xcb, 0x81, 0xa8,
                    0xa5, 0xb1, 0x3b, 0xc4, 0xfa, 0x7a, 0x76, 0x8c};
  EXPECT_EQ(expected, digest);
  Bytes firstFiller = {0x4d, 0xa1, 0xea, 0x4d, 0xed, 0x59, 0x3e, 0x5b,
                       0xec, 0x67, 0xcd, 0x4b, 0x06, 0xc1, 0x4e, 0xbe};
  EXPECT_EQ(firstFiller, Bytes(v.begin(), v.begin() + 16));
  ASSERT_EQ(kExitOk,
            Olv({"sign", "--filler-seed", "release-2", P("OlvanCustom.ini"), P("c.vrf")}).code);
  EXPECT_NE(Get("a.vrf"), Get("c.vrf"));
}

TEST_F(Olvsign, FillerFromAFile) {
  Bytes filler(kVrfFillerSize, 0x5A);
  Put("filler.bin", filler);
  Put("OlvanCustom.ini", "x");
  ASSERT_EQ(kExitOk, Olv({"sign", "--filler-file", P("filler.bin"), P("OlvanCustom.ini")}).code);
  Bytes v = Get("OlvanCustom.vrf");
  EXPECT_EQ(filler, Bytes(v.begin(), v.begin() + kVrfFillerSize));
  Put("short.bin", Bytes(239, 1));
  EXPECT_EQ(kExitFile, Olv({"sign", "--filler-file", P("short.bin"), P("OlvanCustom.ini")}).code);
  EXPECT_EQ(kExitUsage, Olv({"sign", "--filler-file", P("filler.bin"), "--filler-seed", "s",
                             P("OlvanCustom.ini")})
                            .code);
}

TEST_F(Olvsign, IconFingerprintTakesPart) {
  Bytes icon(1000);
  for (size_t i = 0; i < icon.size(); ++i) icon[i] = static_cast<unsigned char>(i);
  Put("brand.ico", icon);
  Put("OlvanCustom.xml", "<msg/>");
  ASSERT_EQ(kExitOk, Olv({"sign", "--icon", P("brand.ico"), P("OlvanCustom.xml")}).code);
  Bytes fp(icon.begin() + 512, icon.begin() + 544);
  EXPECT_TRUE(Proven("OlvanCustom.xml", "OlvanCustomXml.vrf", &fp));
  EXPECT_FALSE(Proven("OlvanCustom.xml", "OlvanCustomXml.vrf"));
  EXPECT_EQ(kExitOk, Olv({"check", "--icon", P("brand.ico"), P("OlvanCustom.xml")}).code);
  EXPECT_EQ(kExitRefused, Olv({"check", P("OlvanCustom.xml")}).code);
}

TEST_F(Olvsign, ShortIconGivesTheDefaultFingerprintWithAWarning) {
  Put("small.ico", Bytes(543, 7));
  Put("OlvanCustom.xml", "<msg/>");
  Result r = Olv({"sign", "--icon", P("small.ico"), P("OlvanCustom.xml")});
  ASSERT_EQ(kExitOk, r.code);
  EXPECT_NE(std::string::npos, r.err.find("default fingerprint"));
  EXPECT_TRUE(Proven("OlvanCustom.xml", "OlvanCustomXml.vrf"));
  EXPECT_EQ(kExitFile, Olv({"sign", "--icon", P("missing.ico"), P("OlvanCustom.xml")}).code);
}

TEST_F(Olvsign, CheckReportsWhyAPairIsNotProven) {
  Put("OlvanCustom.ini", "a=1");
  ASSERT_EQ(kExitOk, Olv({"sign", P("OlvanCustom.ini")}).code);
  Put("OlvanCustom.ini", "a=2");
  Result r = Olv({"check", P("OlvanCustom.ini")});
  EXPECT_EQ(kExitRefused, r.code);
  EXPECT_NE(std::string::npos, r.out.find("NOT proven"));
  EXPECT_NE(std::string::npos, r.out.find("digest differs"));
  Bytes v = Get("OlvanCustom.vrf");
  v.push_back(0);
  Put("OlvanCustom.vrf", v);
  r = Olv({"check", P("OlvanCustom.ini")});
  EXPECT_EQ(kExitRefused, r.code);
  EXPECT_NE(std::string::npos, r.out.find("257 bytes"));
  EXPECT_EQ(kExitFile, Olv({"check", P("OlvanUninstallInfo.ini")}).code);
}

TEST_F(Olvsign, ContentAboveTheLimitIsRefused) {
  Put("OlvanCustom.xml", Bytes(kMaxVerifiedContent, 'a'));
  EXPECT_EQ(kExitOk, Olv({"sign", P("OlvanCustom.xml")}).code);
  EXPECT_EQ(kExitOk, Olv({"check", P("OlvanCustom.xml")}).code);
  Put("OlvanCustom.xml", Bytes(kMaxVerifiedContent + 1, 'a'));
  Result r = Olv({"sign", P("OlvanCustom.xml")});
  EXPECT_EQ(kExitFile, r.code);
  EXPECT_NE(std::string::npos, r.err.find("40588"));
  EXPECT_EQ(kExitRefused, Olv({"check", P("OlvanCustom.xml")}).code);
}

TEST_F(Olvsign, EmptyContentIsSigned) {
  Put("OlvanUninstallInfo.xml", Bytes());
  EXPECT_EQ(kExitOk, Olv({"sign", P("OlvanUninstallInfo.xml")}).code);
  EXPECT_TRUE(Proven("OlvanUninstallInfo.xml", "OlvanUninstallInfoXml.vrf"));
}

TEST_F(Olvsign, UnwritableTargetIsAFileError) {
  Put("OlvanCustom.ini", "x");
  EXPECT_EQ(kExitFile, Olv({"sign", P("OlvanCustom.ini"), P("no/such/folder/x.vrf")}).code);
  EXPECT_EQ(kExitFile, Olv({"sign", P("missing.ini"), P("x.vrf")}).code);
}

TEST(OlvsignPassword, EncryptMatchesTheStoredForm) {
  // The stored text of "!F" is the OpenSSL-made vector for length 2 (tests/gate/cipher).
  Result r = Olv({"encrypt", "!F"});
  EXPECT_EQ(kExitOk, r.code);
  EXPECT_EQ("tK+xLiqZlfQ=\n", r.out);
}

TEST(OlvsignPassword, EncryptReadsOneLineFromStandardInput) {
  Result a = Olv({"encrypt"}, "secret\r\nignored\n");
  Result b = Olv({"encrypt", "secret"});
  Result c = Olv({"encrypt", "-"}, "secret\n");
  EXPECT_EQ(kExitOk, a.code);
  EXPECT_EQ(b.out, a.out);
  EXPECT_EQ(b.out, c.out);
}

TEST(OlvsignPassword, RoundTrip) {
  for (std::string pw : std::vector<std::string>{"", "a", "password", "P@ssw0rd-length-0123456789",
                                                 std::string(32, 'z')}) {
    Result e = Olv({"encrypt", "-"}, pw + "\n");
    ASSERT_EQ(kExitOk, e.code) << pw;
    std::string text = e.out.substr(0, e.out.size() - 1);
    Result d = Olv({"decrypt", text});
    EXPECT_EQ(kExitOk, d.code);
    EXPECT_EQ(pw + "\n", d.out);
  }
}

TEST(OlvsignPassword, TooLongAndInvalidTexts) {
  // The dialog reads at most 32 bytes: a longer stored password could never be typed.
  Result r = Olv({"encrypt", std::string(33, 'x')});
  EXPECT_EQ(kExitRefused, r.code);
  EXPECT_NE(std::string::npos, r.err.find("at most 32"));
  EXPECT_EQ(kExitRefused, Olv({"decrypt", ""}).code);
  EXPECT_EQ(kExitRefused, Olv({"decrypt", "not base64"}).code);
  EXPECT_EQ(kExitRefused, Olv({"decrypt", "QUJD"}).code);
  EXPECT_EQ(kExitUsage, Olv({"decrypt"}).code);
  EXPECT_EQ(kExitUsage, Olv({"encrypt", "a", "b"}).code);
}

// The stored form the dialog computes from the bytes Windows gives it in the client's code
// page, by Setup's own cipher.
std::string StoredBySetup(const std::string& codePageBytes) {
  char text[kStoredPwdTextSize] = {0};
  DesBase64Encrypt(text, sizeof text, reinterpret_cast<const unsigned char*>(codePageBytes.data()),
                   static_cast<unsigned>(codePageBytes.size()));
  return std::string(text) + "\n";
}

TEST(OlvsignCodePage, WesternPasswordMatchesTheDialogsStoredForm) {
  // "été" in code page 1252: E9 74 E9.
  EXPECT_EQ(StoredBySetup("\xE9t\xE9"),
            Olv({"encrypt", "--code-page", "1252", "\u00e9t\u00e9"}).out);
}

TEST(OlvsignCodePage, ChinesePasswordMatchesTheDialogsStoredForm) {
  // "密码123" in code page 936: C3 DC C2 EB 31 32 33.
  EXPECT_EQ(StoredBySetup("\xC3\xDC\xC2\xEB"
                          "123"),
            Olv({"encrypt", "--code-page", "936",
                 "\u5bc6\u7801"
                 "123"})
                .out);
}

TEST(OlvsignCodePage, DecryptGivesTheUtf8PasswordBack) {
  EXPECT_EQ(
      "\u5bc6\u7801\n",
      Olv({"decrypt", "--code-page", "936", StoredBySetup("\xC3\xDC\xC2\xEB").substr(0, 12)}).out);
}

TEST(OlvsignCodePage, NonAsciiWithoutCodePageIsRefused) {
  EXPECT_EQ(kExitUsage, Olv({"encrypt", "\u00e9t\u00e9"}).code);
}

// 0x80 is the first byte that differs between code pages: a password holding it needs one.
TEST(OlvsignCodePage, Byte80IsNotPlainAscii) {
  EXPECT_EQ(kExitUsage, Olv({"encrypt", "a\x80"}).code);
  EXPECT_EQ(kExitUsage, Olv({"decrypt", StoredBySetup("a\x80").substr(0, 12)}).code);
}

TEST(OlvsignCodePage, InvalidUtf8IsNotTakenForAMissingCharacter) {
  for (const char* bad : {"a\xC3(", "\xFF", "ab\xE5\xAF", "\xC0\xAF"}) {
    Result r = Olv({"encrypt", "--code-page", "1252", bad});
    EXPECT_EQ(kExitRefused, r.code) << bad;
    EXPECT_NE(std::string::npos, r.err.find("not valid UTF-8")) << r.err;
  }
}

// Where iconv's tables and Windows' differ, the bytes are Windows' (what the dialog sees), and
// a character that Windows would only map by best fit is refused.
TEST(OlvsignCodePage, CharactersWhereWindowsAndIconvDiffer) {
  struct Case {
    const char* cp;
    const char* text;
    const char* bytes;  // null: refused
  } cases[] = {
      {"932", "\uff5e", "\x81\x60"}, {"932", "\u301c", nullptr},     // wave dash: iconv's 0x8160
      {"932", "\u00a5", nullptr},    {"932", "\u2016", nullptr},     // yen: iconv's 0x5C
      {"950", "\u2550", "\xF9\xF9"}, {"950", "\u256a", "\xF9\xEA"},  // iconv: 0xA2A4, 0xA2A7
      {"936", "\u20ac", "\x80"},     {"1252", "\u20ac", "\x80"},
      {"1252", "\u0081", nullptr},   {"936", "\ue000", nullptr},  // Windows alone maps these
  };
  for (const Case& c : cases) {
    Result r = Olv({"encrypt", "--code-page", c.cp, c.text});
    if (c.bytes)
      EXPECT_EQ(StoredBySetup(c.bytes), r.out) << c.cp << " " << c.text << r.err;
    else
      EXPECT_EQ(kExitRefused, r.code) << c.cp << " " << c.text;
  }
}

TEST(OlvsignCodePage, CharacterTheCodePageLacksIsNamed) {
  Result r = Olv({"encrypt", "--code-page", "1252", "\u5bc6"});
  EXPECT_NE(std::string::npos, r.err.find("U+5BC6"));
}

TEST(OlvsignCodePage, LimitAppliesToTheConvertedBytes) {
  // 17 Chinese characters are 34 bytes in code page 936, more than the dialog reads.
  std::string pw;
  for (int i = 0; i < 17; ++i) pw += "\u5bc6";
  EXPECT_EQ(kExitRefused, Olv({"encrypt", "--code-page", "936", pw}).code);
}

TEST(OlvsignCommandLine, HelpAndErrors) {
  Result h = Olv({"--help"});
  EXPECT_EQ(kExitOk, h.code);
  EXPECT_NE(std::string::npos, h.out.find("Usage: olvsign"));
  EXPECT_EQ(kExitOk, Olv({"help"}).code);
  EXPECT_EQ(kExitOk, Olv({"sign", "--help"}).code);
  EXPECT_EQ(kExitOk, Olv({"--version"}).code);
  Result none = Olv({});
  EXPECT_EQ(kExitUsage, none.code);
  EXPECT_NE(std::string::npos, none.err.find("Usage"));
  EXPECT_EQ(kExitUsage, Olv({"frobnicate"}).code);
  EXPECT_EQ(kExitUsage, Olv({"sign"}).code);
  EXPECT_EQ(kExitUsage, Olv({"sign", "a", "b", "c"}).code);
  EXPECT_EQ(kExitUsage, Olv({"sign", "--bogus", "a"}).code);
  EXPECT_EQ(kExitUsage, Olv({"sign", "a", "--icon"}).code);
  EXPECT_EQ(kExitUsage, Olv({"check", "--filler-seed", "s", "OlvanCustom.ini"}).code);
}

}  // namespace

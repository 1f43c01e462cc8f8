// Texts of the customization XML converted into the ANSI code page of the system. Runs
// once with code page 1252 and once with 936 (LC_ALL chooses it under Wine); the test
// property OLVAN_EXPECT_ACP tells which one this run must see.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "xml/ansi_text.h"
#include "xml/custom_xml_parse.h"
#include "xml_test_files.h"

namespace {

// The "CusIconName" of a logo section holding text, as read from a file.
std::string ReadName(const std::string& text) {
  XmlFolder dir;
  std::string path = dir.Write("OlvanCustom.xml", CustomXml("<logoOptions><CusIconName>" + text +
                                                            "</CusIconName></logoOptions>"));
  CCustomXmlParse x;
  LogoOptions logo;
  EXPECT_TRUE(x.ReadLogoOptions(path.c_str(), logo));
  return std::string(logo.CusIconName.CStr(), logo.CusIconName.Length());
}

const char kChinese[] = "\xE4\xB8\xAD\xE6\x96\x87";  // U+4E2D U+6587
const char kEAcute[] = "\xC3\xA9";                   // U+00E9
const char kEmoji[] = "\xF0\x9F\x98\x80";            // U+1F600

TEST(XmlCodePage, RunsInTheExpectedCodePage) {
  const char* expected = std::getenv("OLVAN_EXPECT_ACP");
  ASSERT_NE(nullptr, expected) << "run through CTest, which sets OLVAN_EXPECT_ACP";
  EXPECT_EQ(static_cast<UINT>(std::atoi(expected)), GetACP());
}

TEST(XmlCodePage, AsciiPassesThrough) {
  EXPECT_EQ("brand-logo_1.ico", ReadName("brand-logo_1.ico"));
}

TEST(XmlCodePage, ChineseBecomesItsAnsiBytes) {
  std::string got = ReadName(std::string("a") + kChinese + "b.ico");
  if (GetACP() == 936) {
    EXPECT_EQ(
        "a\xD6\xD0\xCE\xC4"
        "b.ico",
        got);
  } else {
    EXPECT_EQ("a??b.ico", got) << "characters the code page lacks become its default character";
  }
}

TEST(XmlCodePage, TwoByteCharactersConvert) {
  std::string got = ReadName(std::string("caf") + kEAcute + ".ico");
  if (GetACP() == 936) {
    EXPECT_EQ("caf\xA8\xA6.ico", got);
  } else {
    EXPECT_EQ("caf\xE9.ico", got);
  }
}

TEST(XmlCodePage, FourByteCharactersNeitherCutNorSwallowTheText) {
  std::string got = ReadName(std::string("x") + kEmoji + "y");
  ASSERT_GE(got.size(), 3u);
  EXPECT_EQ('x', got.front());
  EXPECT_EQ('y', got.back());
  EXPECT_EQ(std::string::npos, got.find('\0'));
}

TEST(XmlCodePage, CutInsideACharacterKeepsTheRest) {
  // 259 ASCII bytes and a three-byte character: the cut at 260 bytes splits it.
  std::string got = ReadName(std::string(259, 'n') + kChinese);
  ASSERT_GE(got.size(), 260u);
  EXPECT_EQ(std::string(259, 'n'), got.substr(0, 259));
  EXPECT_EQ(std::string::npos, got.find('\0'));
}

TEST(XmlCodePage, ConverterOnPlainBuffers) {
  TextBuf out;
  EXPECT_TRUE(Utf8ToAnsi("", 0, out));
  EXPECT_EQ(0u, out.Length());
  EXPECT_TRUE(Utf8ToAnsi("abc", 3, out));
  EXPECT_STREQ("abc", out.CStr());
  EXPECT_TRUE(Utf8ToAnsi("\xFF\xFE", 2, out)) << "invalid UTF-8 comes out as default characters";
  EXPECT_NE(0u, out.Length());
}

}  // namespace

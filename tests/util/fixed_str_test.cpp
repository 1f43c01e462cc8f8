// Fixed buffers fail instead of cutting a text, and leave the target unchanged; the growable
// text keeps every byte appended, terminated, across its growth.
#include "util/fixed_str.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/text_buf.h"

namespace {

TEST(FixedStr, CopyFitsExactlyOrFailsUnchanged) {
  char b[6] = "old";
  EXPECT_TRUE(StrCopy(b, "12345"));
  EXPECT_STREQ(b, "12345");
  EXPECT_FALSE(StrCopy(b, "123456"));
  EXPECT_STREQ(b, "12345");
}

TEST(FixedStr, AppendFitsExactlyOrFailsUnchanged) {
  char b[8] = "abc";
  EXPECT_TRUE(StrAppend(b, "defg"));
  EXPECT_STREQ(b, "abcdefg");
  EXPECT_FALSE(StrAppend(b, "h"));
  EXPECT_STREQ(b, "abcdefg");
}

TEST(FixedStr, JoinPathUsesOneBackslashAndMayAliasTheTarget) {
  char b[260] = "C:\\tmp";
  EXPECT_TRUE(StrJoinPath(b, b, "OlvanSetup0"));
  EXPECT_STREQ(b, "C:\\tmp\\OlvanSetup0");
  char small[8] = "keep";
  EXPECT_FALSE(StrJoinPath(small, "abcd", "def"));  // needs 9 bytes with the NUL
  EXPECT_STREQ(small, "keep");
  EXPECT_TRUE(StrJoinPath(small, "abc", "def"));
  EXPECT_STREQ(small, "abc\\def");
}

TEST(FixedStr, JoinPathMayTakeItsSecondPartFromTheTarget) {
  char b[20] = "Setup.exe";
  EXPECT_TRUE(StrJoinPath(b, "C:\\tmp", b));
  EXPECT_STREQ(b, "C:\\tmp\\Setup.exe");
}

TEST(FixedStr, FormatAtTheEdgeOfTheBuffer) {
  char b[5] = "old";
  EXPECT_TRUE(StrFormat(b, sizeof b, "%u", 1234u));
  EXPECT_STREQ(b, "1234");
  EXPECT_FALSE(StrFormat(b, sizeof b, "%u", 12345u));
  EXPECT_STREQ(b, "1234");
  EXPECT_FALSE(StrFormat(b, sizeof b, "%s", "toolong"));
  EXPECT_STREQ(b, "1234");
}

TEST(FixedStr, FormatIntoLargeBuffers) {
  std::string big(3000, 'x');
  std::vector<char> b(3001, 'q');
  EXPECT_TRUE(StrFormat(b.data(), b.size(), "%s", big.c_str()));
  EXPECT_EQ(std::string(b.data()), big);
  std::vector<char> c(3000, 'q');
  c[0] = '\0';
  EXPECT_FALSE(StrFormat(c.data(), c.size(), "%s", big.c_str()));
  EXPECT_EQ(c[0], '\0');
}

TEST(FixedStr, FormatsUsedInLogLines) {
  char b[64];
  ASSERT_TRUE(StrFormat(b, sizeof b, "The %s free space is %dM.", "C:", -1));
  EXPECT_STREQ(b, "The C: free space is -1M.");
  ASSERT_TRUE(StrFormat(b, sizeof b, "install failed with Err %u.", 4294967295u));
  EXPECT_STREQ(b, "install failed with Err 4294967295.");
}

TEST(TextBuf, KeepsEveryByteTerminatedAcrossItsGrowth) {
  TextBuf t;
  EXPECT_STREQ(t.CStr(), "");
  EXPECT_TRUE(t.Append("", 0));
  EXPECT_EQ(t.Length(), 0u);
  std::string want;
  // Lengths about the first buffer's 64 bytes and its doublings.
  for (size_t n : {1u, 62u, 1u, 1u, 63u, 200u, 1000u}) {
    std::string piece(n, static_cast<char>('a' + want.size() % 26));
    ASSERT_TRUE(t.Append(piece.c_str(), n));
    want += piece;
    ASSERT_EQ(t.Length(), want.size());
    ASSERT_EQ(std::string(t.CStr()), want);  // read up to its terminator
  }
  // Only the n bytes given are taken.
  ASSERT_TRUE(t.Append("xyz", 2));
  EXPECT_EQ(std::string(t.CStr()), want + "xy");
  // A length no buffer can hold fails and leaves the text as it was.
  EXPECT_FALSE(t.Append("q", static_cast<size_t>(-1) / 2));
  EXPECT_EQ(std::string(t.CStr()), want + "xy");

  TextBuf other;
  ASSERT_TRUE(other.Assign("other"));
  ASSERT_TRUE(other.Assign("second"));
  t.Swap(other);
  EXPECT_STREQ(t.CStr(), "second");
  EXPECT_EQ(t.Length(), 6u);
  EXPECT_EQ(std::string(other.CStr()), want + "xy");
  other.Clear();
  EXPECT_STREQ(other.CStr(), "");
  EXPECT_EQ(other.Length(), 0u);
  ASSERT_TRUE(other.Append("again"));
  EXPECT_STREQ(other.CStr(), "again");
  t.Wipe();
  EXPECT_STREQ(t.CStr(), "");
  EXPECT_EQ(t.Length(), 0u);
}

}  // namespace

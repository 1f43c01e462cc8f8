// Log file names, clean-up patterns and the line layout.
#include "util/log_line.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>

namespace {

const LogTime kMonday = {2026, 12, 7, 1, 17, 2, 42};

std::string Line(const LogTime& t, bool detail, LogThreadForm form, unsigned long tid,
                 const char* msg) {
  size_t n = LogComposeLine(nullptr, 0, t, detail, form, tid, msg);
  std::string s(n, '?');
  EXPECT_EQ(LogComposeLine(&s[0], s.size(), t, detail, form, tid, msg), n);
  return s;
}

TEST(LogNames, StampEndsInTheWeekdayNotTheHour) {
  char buf[260];
  ASSERT_TRUE(LogFilePath(buf, sizeof buf, "C:\\OlvanLog", "setup", kMonday));
  EXPECT_STREQ(buf, "C:\\OlvanLog\\setup2026120701.log");
  LogTime sunday = {2026, 12, 6, 0, 23, 59, 59};
  ASSERT_TRUE(LogFileName(buf, sizeof buf, "stp_UtlFile", sunday));
  EXPECT_STREQ(buf, "stp_UtlFile2026120600.log");
  LogTime saturday = {2027, 1, 2, 6, 0, 0, 0};
  ASSERT_TRUE(LogFileName(buf, sizeof buf, "IsCurUserAdmin", saturday));
  EXPECT_STREQ(buf, "IsCurUserAdmin2027010206.log");
}

TEST(LogNames, CleanupCoversOneWeekdayOfOneBase) {
  EXPECT_TRUE(LogCleanupMatches("setup2026113001.log", "setup", 1));
  EXPECT_TRUE(LogCleanupMatches("SETUP01.LOG", "setup", 1));
  EXPECT_TRUE(LogCleanupMatches("stp_waitSetup-anything-00.log", "stp_waitSetup", 0));
  EXPECT_FALSE(LogCleanupMatches("setup2026113002.log", "setup", 1));
  EXPECT_FALSE(LogCleanupMatches("stp_setup2026113001.log", "setup", 1));
  EXPECT_FALSE(LogCleanupMatches("setup2026113001.log.txt", "setup", 1));
  EXPECT_FALSE(LogCleanupMatches("setu01.log", "setup", 1));
}

TEST(LogNames, PathThatDoesNotFitFailsAndLeavesBufferUnchanged) {
  char buf[32] = "unchanged";
  EXPECT_FALSE(LogFilePath(buf, sizeof buf, "C:\\OlvanLog", "a-rather-long-base-name", kMonday));
  EXPECT_STREQ(buf, "unchanged");
}

TEST(LogLine, LayoutOfTheThreeThreadForms) {
  EXPECT_EQ(Line(kMonday, false, LogThreadForm::Plain, 0x1a2c, "Begin UnpackAndSetup"),
            "[2026-12-07 17:02:42] [1a2c] Begin UnpackAndSetup\r\n");
  EXPECT_EQ(Line(kMonday, false, LogThreadForm::Hex0x, 0x1a2c, "utl_FileUnpack:Err: 150."),
            "[2026-12-07 17:02:42] [0x1a2c] utl_FileUnpack:Err: 150.\r\n");
  EXPECT_EQ(Line(kMonday, true, LogThreadForm::Hex0x, 0xABCDEF12, "x"),
            "[2026-12-07 17:02:42] [DTL] [0xabcdef12] x\r\n");
}

TEST(LogLine, TimestampIsZeroPadded) {
  LogTime t = {2027, 1, 2, 6, 3, 4, 5};
  EXPECT_EQ(Line(t, false, LogThreadForm::Plain, 7, "m"), "[2027-01-02 03:04:05] [7] m\r\n");
}

TEST(LogLine, EmptyMessageAndMessageBytesKeptAsTheyAre) {
  EXPECT_EQ(Line(kMonday, false, LogThreadForm::Plain, 1, ""), "[2026-12-07 17:02:42] [1] \r\n");
  const char raw[] = "50%s\xb0\xb2\r\nsecond";
  EXPECT_EQ(Line(kMonday, false, LogThreadForm::Plain, 1, raw),
            std::string("[2026-12-07 17:02:42] [1] ") + raw + "\r\n");
}

TEST(LogLine, TooSmallBufferIsNotWritten) {
  char buf[16];
  memset(buf, 'z', sizeof buf);
  size_t n = LogComposeLine(buf, sizeof buf, kMonday, false, LogThreadForm::Plain, 1, "hello");
  EXPECT_GT(n, sizeof buf);
  EXPECT_EQ(buf[0], 'z');
}

}  // namespace

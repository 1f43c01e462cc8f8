// Names from other users in the setup's reason lines.
#include "util/reason_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ReasonName, LineBreaksAndControlBytesCannotForgeALine) {
  char buf[kReasonNameMax * 6 + 4];
  ASSERT_TRUE(ReasonName(buf, "a\r\n[2026-12-07 17:02:42] [1a2c] Exit main\x1b\x7f"));
  EXPECT_STREQ(buf, "a\\r\\n[2026-12-07 17:02:42] [1a2c] Exit main\\x1b\\x7f");
  // Code page bytes of other characters stay as they are.
  ASSERT_TRUE(ReasonName(buf, "\xd6\xd0.dll"));
  EXPECT_STREQ(buf, "\xd6\xd0.dll");
}

TEST(ReasonName, LongNamesAreCutWithoutSplittingAnEscape) {
  std::string name(kReasonNameMax - 1, 'x');
  name += "\n\n\n";
  char buf[kReasonNameMax * 6 + 4];
  ASSERT_TRUE(ReasonName(buf, name.c_str()));
  EXPECT_EQ(std::string(buf), std::string(kReasonNameMax - 1, 'x') + "\\n...");
  char small[8];
  EXPECT_FALSE(ReasonName(small, "0123456789"));
  EXPECT_STREQ(small, "");
  EXPECT_FALSE(ReasonName(small, "01234567"));  // no room for the NUL
  EXPECT_TRUE(ReasonName(small, "0123456"));
  EXPECT_STREQ(small, "0123456");
  char noRoomForTheCut[kReasonNameMax + 1];
  EXPECT_FALSE(ReasonName(noRoomForTheCut, std::string(kReasonNameMax + 1, 'x').c_str()));
  EXPECT_STREQ(noRoomForTheCut, "");
}

TEST(ReasonName, WideNamesShowOnlyPrintableAscii) {
  const uint16_t name[] = {'a', 0x4E2D, '\n', 0x2028, 'b'};
  char buf[64];
  ASSERT_TRUE(ReasonNameW(buf, sizeof buf, name, 5));
  EXPECT_STREQ(buf, "a\\u4e2d\\u000a\\u2028b");
}

}  // namespace

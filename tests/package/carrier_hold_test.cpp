// The carrier hold in a process of its own: its state is the process's.
#include "package/carrier_hold.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace {

TEST(CarrierHold, HoldRefusedWhileAWriterHadTheFileSucceedsOnTheNextTry) {
  TempFolder dir("hold");
  std::string path = dir.File("carrier.bin");
  WriteFileBytes(path, "carrier");
  std::wstring wide(path.begin(), path.end());
  HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(utl_HoldCarrier(wide.c_str()));
  EXPECT_FALSE(utl_HoldCarrierAgain()) << "the writer still has it";
  CloseHandle(writer);
  EXPECT_TRUE(utl_HoldCarrierAgain());
  HANDLE reader =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_TRUE(utl_IsHeldCarrier(reader));
  CloseHandle(reader);
}

// Once the hold is let go, or a later hold fails, the file held before is refused too: it
// is no longer kept from being replaced, even where the same file is still found there.
TEST(CarrierHold, FileLetGoOrFollowedByAFailedHoldIsRefused) {
  utl_ReleaseLastHold();  // whatever an earlier case held
  TempFolder dir("release");
  std::string path = dir.File("carrier.bin");
  WriteFileBytes(path, "carrier");
  std::wstring wide(path.begin(), path.end());
  std::wstring missing = wide + L".missing";
  HANDLE reader =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(utl_HoldCarrier(wide.c_str()));
  EXPECT_TRUE(utl_IsHeldCarrier(reader));
  utl_ReleaseLastHold();
  EXPECT_FALSE(utl_IsHeldCarrier(reader)) << "let go";
  ASSERT_TRUE(utl_HoldCarrier(wide.c_str()));
  EXPECT_TRUE(utl_IsHeldCarrier(reader));
  EXPECT_FALSE(utl_HoldCarrier(missing.c_str()));
  EXPECT_FALSE(utl_IsHeldCarrier(reader)) << "a later hold failed";
  CloseHandle(reader);
  // Letting go of a hold that failed lets go of nothing: the earlier one still keeps
  // writers out of its file.
  utl_ReleaseLastHold();
  HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "the earlier hold was let go";
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
}

}  // namespace

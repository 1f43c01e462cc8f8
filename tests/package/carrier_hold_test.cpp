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

}  // namespace

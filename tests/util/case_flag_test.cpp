// The answer to the case-sensitivity query, on plain data.
#include "util/case_flag.h"

#include <gtest/gtest.h>

namespace {

TEST(CaseFlag, SetFlagIsToBeCleared) {
  EXPECT_EQ(ReadCaseFlagAnswer(0, kCaseSensitiveDirFlag), CaseFlag::kSet);
  EXPECT_EQ(ReadCaseFlagAnswer(0, 0x3), CaseFlag::kSet);
  EXPECT_EQ(ReadCaseFlagAnswer(0, 0x2), CaseFlag::kClear);
  EXPECT_EQ(ReadCaseFlagAnswer(0, 0), CaseFlag::kClear);
}

TEST(CaseFlag, QueryTheSystemDoesNotKnowMeansNoFlag) {
  for (uint32_t status : {0xC0000002u, 0xC0000003u, 0xC000000Du, 0xC0000010u, 0xC00000BBu})
    EXPECT_EQ(ReadCaseFlagAnswer(static_cast<int32_t>(status), kCaseSensitiveDirFlag),
              CaseFlag::kClear)
        << std::hex << status;
}

TEST(CaseFlag, OtherFailureMayHideASetFlag) {
  EXPECT_EQ(ReadCaseFlagAnswer(static_cast<int32_t>(0xC0000022u), 0), CaseFlag::kUnknown);
  EXPECT_EQ(ReadCaseFlagAnswer(static_cast<int32_t>(0x80000005u), 0), CaseFlag::kUnknown);
}

}  // namespace

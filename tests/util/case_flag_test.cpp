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

// A fake change of the flag: records the flags it was given and answers status.
struct Change {
  int calls = 0;
  uint32_t flags = 0xFFFFFFFF;
  int32_t status = 0;
  static int32_t Run(void* ctx, uint32_t flags) {
    Change* c = static_cast<Change*>(ctx);
    ++c->calls;
    c->flags = flags;
    return c->status;
  }
};

TEST(CaseFlag, SetFlagIsClearedKeepingTheOtherBits) {
  Change c;
  EXPECT_EQ(SettleCaseFlag(0, 0x3, Change::Run, &c), 0);
  EXPECT_EQ(c.calls, 1);
  EXPECT_EQ(c.flags, 0x2u);
}

TEST(CaseFlag, SetFlagThatCannotBeClearedFails) {
  Change c;
  c.status = static_cast<int32_t>(0xC0000022u);
  EXPECT_EQ(SettleCaseFlag(0, kCaseSensitiveDirFlag, Change::Run, &c), c.status);
}

TEST(CaseFlag, NothingIsChangedWithoutAFlagAndAnUnreadableFlagFails) {
  Change c;
  EXPECT_EQ(SettleCaseFlag(0, 0, Change::Run, &c), 0);
  EXPECT_EQ(SettleCaseFlag(static_cast<int32_t>(0xC0000003u), 0, Change::Run, &c), 0);
  EXPECT_EQ(SettleCaseFlag(static_cast<int32_t>(0xC0000022u), 0, Change::Run, &c),
            static_cast<int32_t>(0xC0000022u));
  EXPECT_EQ(c.calls, 0);
}

}  // namespace

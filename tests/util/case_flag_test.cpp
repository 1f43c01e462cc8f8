// Settling the case-sensitivity flag from the answer to its query, on plain data.
#include "util/case_flag.h"

#include <gtest/gtest.h>

namespace {

// A fake change of the flag: counts its calls, keeps the flags given, answers status.
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
const int32_t kAccessDenied = static_cast<int32_t>(0xC0000022u);

TEST(CaseFlag, SetFlagIsClearedAloneAndAFailedClearFails) {
  Change c;
  EXPECT_EQ(SettleCaseFlag(0, 0x3, Change::Run, &c), 0);
  EXPECT_EQ(c.calls, 1);
  EXPECT_EQ(c.flags, 0x2u);
  c.status = kAccessDenied;
  EXPECT_EQ(SettleCaseFlag(0, kCaseSensitiveDirFlag, Change::Run, &c), kAccessDenied);
}

TEST(CaseFlag, NoFlagOrAQueryTheSystemDoesNotKnowChangesNothing) {
  Change c;
  EXPECT_EQ(SettleCaseFlag(0, 0x2, Change::Run, &c), 0);
  for (uint32_t status : {0xC0000002u, 0xC0000003u, 0xC000000Du, 0xC0000010u, 0xC00000BBu})
    EXPECT_EQ(SettleCaseFlag(static_cast<int32_t>(status), 1, Change::Run, &c), 0) << status;
  EXPECT_EQ(c.calls, 0);
}

TEST(CaseFlag, OtherFailureOfTheQueryMayHideASetFlag) {
  Change c;
  EXPECT_EQ(SettleCaseFlag(kAccessDenied, 0, Change::Run, &c), kAccessDenied);
  EXPECT_EQ(SettleCaseFlag(static_cast<int32_t>(0x80000005u), 0, Change::Run, &c),
            static_cast<int32_t>(0x80000005u));
  EXPECT_EQ(c.calls, 0);
}

}  // namespace

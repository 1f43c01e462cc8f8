// The exit code as a deployment tool reads it, chosen from the way the run ended; the rows
// Wine cannot reach (no administrator, no visible window station) are decided here.
#include "setup/exit_code.h"

#include <gtest/gtest.h>

namespace {

TEST(ExitCode, OwnInstallErrorsPassOnAndEverythingElseIs1603) {
  for (uint32_t n : {150u, 152u, 167u, 168u, 351u, 355u, 358u})
    EXPECT_EQ(SetupExitCode(RunEnd::kInstallFailed, n, 0), n) << n;
  for (uint32_t n : {0u, 149u, 169u, 350u, 359u, 1618u})
    EXPECT_EQ(SetupExitCode(RunEnd::kInstallFailed, n, 0), 1603u) << n;
  EXPECT_EQ(SetupExitCode(RunEnd::kInstallerNotStarted, 0, 0), 1603u);
}

TEST(ExitCode, OnlyARestartOfTheInstallerIsPassedOn) {
  EXPECT_EQ(SetupExitCode(RunEnd::kInstalled, 0, 0), 0u);
  EXPECT_EQ(SetupExitCode(RunEnd::kInstalled, 0, 3010), 3010u);
  EXPECT_EQ(SetupExitCode(RunEnd::kInstalled, 0, 1641), 1641u);
  EXPECT_EQ(SetupExitCode(RunEnd::kInstalled, 0, 1603), 0u);
  EXPECT_EQ(SetupExitCode(RunEnd::kInstalled, 0, 0xFFFFFFFFu), 0u);
}

TEST(ExitCode, RefusalsBeforeTheSequence) {
  EXPECT_EQ(SetupExitCode(RunEnd::kPasswordRefused, 0, 0), 1602u);
  EXPECT_EQ(SetupExitCode(RunEnd::kNoPasswordDialog, 0, 0), 1603u);
  EXPECT_EQ(SetupExitCode(RunEnd::kBusy, 0, 0), 1618u);
  EXPECT_EQ(SetupExitCode(RunEnd::kNotAdmin, 0, 0), 740u);
  EXPECT_EQ(SetupExitCode(RunEnd::kDiskSpace, 0, 0), 112u);
}

TEST(WindowStation, OnlyAStationReadAsInvisibleHasNobodyToAnswer) {
  EXPECT_TRUE(WindowStationVisible(true, 0x0001));  // WinSta0
  EXPECT_FALSE(WindowStationVisible(true, 0));      // session 0, a service's station
  EXPECT_TRUE(WindowStationVisible(false, 0));      // unknown: interactive as before
}

}  // namespace

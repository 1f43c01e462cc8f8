// The exit code as a deployment tool reads it, chosen from the way the run ended; the rows
// Wine cannot reach (no administrator, no visible window station) are decided here.
#include "setup/exit_code.h"

#include <gtest/gtest.h>

#include "setup/installer_outcome.h"

namespace {

TEST(ExitCode, OwnInstallErrorsPassOnAndEverythingElseIs1603) {
  for (uint32_t n : {150u, 152u, 167u, 168u, 351u, 355u, 358u})
    EXPECT_EQ(SetupExitCode(RunEnd::kInstallFailed, n, 0), n) << n;
  for (uint32_t n : {0u, 149u, 169u, 350u, 359u, 1618u})
    EXPECT_EQ(SetupExitCode(RunEnd::kInstallFailed, n, 0), 1603u) << n;
  EXPECT_EQ(SetupExitCode(RunEnd::kInstallerNotStarted, 0, 0), 1603u);
}

TEST(ExitCode, TheInstallersOutcomeIsPassedOnAsItIs) {
  for (uint32_t n : {0u, 3010u, 1641u, 1603u, 1618u, 1602u, 160u, 0xC0000005u, 0xFFFFFFFFu})
    EXPECT_EQ(SetupExitCode(RunEnd::kInstalled, 0, n), n) << n;
}

FollowedEnd End(uint32_t code, uint64_t at, bool known = true) { return FollowedEnd{code, at, known}; }

TEST(InstallerOutcome, TheStartedInstallersFailureOrRestartIsNeverUndone) {
  // A copy that ended later with 0 or 3010 changes nothing.
  FollowedEnd failed[] = {End(1603, 10), End(0, 20), End(3010, 30)};
  EXPECT_EQ(DecidingProcess(failed, 3), 0u);
  FollowedEnd restart[] = {End(3010, 10), End(0, 20)};
  EXPECT_EQ(DecidingProcess(restart, 2), 0u);
  FollowedEnd alone[] = {End(0, 10)};
  EXPECT_EQ(DecidingProcess(alone, 1), 0u);
}

TEST(InstallerOutcome, AfterAHandOverTheCopyThatEndedLastDecides) {
  FollowedEnd handOver[] = {End(0, 10), End(1603, 40), End(0, 30)};
  EXPECT_EQ(DecidingProcess(handOver, 3), 1u);
  FollowedEnd chain[] = {End(0, 10), End(0, 20), End(3010, 50), End(1603, 45)};
  EXPECT_EQ(DecidingProcess(chain, 4), 2u);
  // A copy that ended before the started installer, or whose end is not known, does not.
  FollowedEnd before[] = {End(0, 50), End(1603, 40)};
  EXPECT_EQ(DecidingProcess(before, 2), 0u);
  FollowedEnd same[] = {End(0, 50), End(1603, 50)};
  EXPECT_EQ(DecidingProcess(same, 2), 0u);
  FollowedEnd unknown[] = {End(0, 10), End(1603, 40, false), End(0, 30)};
  EXPECT_EQ(DecidingProcess(unknown, 3), 2u);
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

TEST(WindowStation, NobodyAnswersInSessionZero) {
  EXPECT_FALSE(SessionCanAnswer(true, 0));  // a service, or a program started into session 0
  EXPECT_TRUE(SessionCanAnswer(true, 1));
  EXPECT_TRUE(SessionCanAnswer(true, 2));
  EXPECT_TRUE(SessionCanAnswer(false, 0));  // unknown: as before
}

}  // namespace

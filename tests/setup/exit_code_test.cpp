// The exit code as a deployment tool reads it, chosen from the way the run ended; the rows
// Wine cannot reach (no administrator, no visible window station) are decided here, with
// the start-up checks' refusal chain, the words the log gives each code, the version record
// and the table of install errors in the documents.
#include "setup/exit_code.h"

#include <gtest/gtest.h>

#include "setup/installer_outcome.h"
#include <ctype.h>
#include <string.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "package/install_errors.h"
#include "setup/refusal.h"
#include "setup/version_record.h"
#include "util/fixed_str.h"
#include "util/reason_text.h"

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

TEST(ExitCodeMeaning, AnInstallersFailureIsNamedAsItsOwnWhateverItsNumber) {
  EXPECT_STREQ(RunEndMeaning(RunEnd::kInstalled, 160), "the installer's own code");
  EXPECT_STREQ(RunEndMeaning(RunEnd::kInstalled, 1603), "the installer's own code");
  EXPECT_STREQ(RunEndMeaning(RunEnd::kInstalled, 3010), ExitCodeMeaning(3010));
  EXPECT_STREQ(RunEndMeaning(RunEnd::kInstalled, 0), "success");
  EXPECT_STREQ(RunEndMeaning(RunEnd::kInstallFailed, 160), ExitCodeMeaning(160));
}

TEST(WindowStation, NobodyAnswersInSessionZero) {
  EXPECT_FALSE(SessionCanAnswer(true, 0));  // a service, or a program started into session 0
  EXPECT_TRUE(SessionCanAnswer(true, 1));
  EXPECT_TRUE(SessionCanAnswer(true, 2));
  EXPECT_TRUE(SessionCanAnswer(false, 0));  // unknown: as before
}

TEST(RefusalChain, EachCheckRefusesWithItsWarningAndExitCode) {
  struct Row {
    const char* what;
    PreflightResults r;
    Refusal refusal;
    SetupMessage message;
    uint32_t code;
    bool setupLog;
  };
  PreflightResults passing;
  PreflightResults nameTaken, running, notAdmin, lowDisk, updater, unknownDisk, atLine;
  nameTaken.eventMade = false;
  running.eventExisted = true;
  notAdmin.admin = false;
  lowDisk.freeBytes = 314572799LL;
  updater.updaterRuns = true;
  unknownDisk.freeBytes = -1;
  atLine.freeBytes = 314572800LL;
  const Row rows[] = {
      {"all pass", passing, Refusal::kNone, kMsgRunningCopy, 0, false},
      {"name taken", nameTaken, Refusal::kNameTaken, kMsgRunningCopy, 1618, false},
      {"second copy", running, Refusal::kRunningCopy, kMsgRunningCopy, 1618, false},
      {"not administrator", notAdmin, Refusal::kNotAdmin, kMsgNoAdmin, 740, true},
      {"299 MB free", lowDisk, Refusal::kDiskSpace, kMsgDiskSpace, 112, true},
      {"updater", updater, Refusal::kUpdater, kMsgCustomUpdate, 1618, true},
      {"free space unknown", unknownDisk, Refusal::kNone, kMsgRunningCopy, 0, false},
      {"300 MB free", atLine, Refusal::kNone, kMsgRunningCopy, 0, false},
  };
  for (const Row& row : rows) {
    Refusal got = FirstRefusal(row.r);
    EXPECT_EQ(static_cast<int>(got), static_cast<int>(row.refusal)) << row.what;
    EXPECT_EQ(RefusalExitCode(got), row.code) << row.what;
    EXPECT_EQ(RefusalGoesToSetupLog(got), row.setupLog) << row.what;
    if (got != Refusal::kNone) {
      EXPECT_EQ(RefusalMessage(got), row.message) << row.what;
    }
  }
}

TEST(RefusalChain, TheFirstFailedCheckInTheSetupsOrderWins) {
  PreflightResults all;
  all.eventMade = false;
  all.eventExisted = true;
  all.admin = false;
  all.freeBytes = 0;
  all.updaterRuns = true;
  EXPECT_EQ(FirstRefusal(all), Refusal::kNameTaken);
  all.eventMade = true;
  EXPECT_EQ(FirstRefusal(all), Refusal::kRunningCopy);
  all.eventExisted = false;
  EXPECT_EQ(FirstRefusal(all), Refusal::kNotAdmin);
  all.admin = true;
  EXPECT_EQ(FirstRefusal(all), Refusal::kDiskSpace);
  all.freeBytes = 400LL << 20;
  EXPECT_EQ(FirstRefusal(all), Refusal::kUpdater);
}

TEST(RefusalChain, TheLogLineCarriesTheBoxTextAndTheExitCode) {
  char line[512];
  ASSERT_TRUE(StrFormat(line, sizeof line, SETUP_REFUSED_LINE,
                        MessageTextEn(RefusalMessage(Refusal::kNotAdmin)),
                        static_cast<unsigned>(RefusalExitCode(Refusal::kNotAdmin))));
  EXPECT_STREQ(line,
               "Setup: refused: You do not have administrative privileges on this computer, the "
               "program can not be installed! (exit code 740)");
  ASSERT_TRUE(StrFormat(line, sizeof line, SETUP_REFUSED_LINE,
                        MessageTextEn(RefusalMessage(Refusal::kDiskSpace)),
                        static_cast<unsigned>(RefusalExitCode(Refusal::kDiskSpace))));
  EXPECT_STREQ(line,
               "Setup: refused: The sys disk must have at least 300M free space to finish the "
               "setup. (exit code 112)");
  // Both fit a reason name whole: nothing is cut.
  EXPECT_LT(strlen(MessageTextEn(kMsgNoAdmin)), kReasonNameMax);
}

TEST(ExitCodeMeaning, EveryCodeTheSetupGivesHasItsWords) {
  EXPECT_STREQ(ExitCodeMeaning(0), "success");
  EXPECT_STREQ(ExitCodeMeaning(3010), "success, restart needed");
  EXPECT_STREQ(ExitCodeMeaning(1641), "success, restart started");
  EXPECT_STREQ(ExitCodeMeaning(1602), "password not given");
  EXPECT_STREQ(ExitCodeMeaning(1603), "install failed");
  EXPECT_STREQ(ExitCodeMeaning(1618), "another setup or the updater runs");
  EXPECT_STREQ(ExitCodeMeaning(740), "not an administrator");
  EXPECT_STREQ(ExitCodeMeaning(112), "too little disk space");
  EXPECT_STREQ(ExitCodeMeaning(351), "cannot make the working folder");
  EXPECT_STREQ(ExitCodeMeaning(167), InstallErrorText(167));
  EXPECT_STREQ(ExitCodeMeaning(5), "the installer's own code");
}

TEST(InstallErrors, EveryNumberHasItsOwnTextAndNoOtherHasOne) {
#define OLVAN_NUMBER(name, number, text) number,
  const uint32_t numbers[] = {OLVAN_UNPACK_ERRORS(OLVAN_NUMBER) OLVAN_SEQUENCE_ERRORS(OLVAN_NUMBER)};
#undef OLVAN_NUMBER
  std::map<std::string, uint32_t> seen;
  for (uint32_t n : numbers) {
    std::string text = InstallErrorText(n);
    EXPECT_NE(text, "unknown error") << n;
    EXPECT_TRUE(seen.emplace(text, n).second) << n << " shares its text with " << seen[text];
  }
  EXPECT_STREQ(InstallErrorText(0), "no MSI copy, or no Qt folder");
  for (uint32_t n : {1u, 149u, 153u, 154u, 169u, 353u, 354u, 359u, 1603u})
    EXPECT_STREQ(InstallErrorText(n), "unknown error") << n;
}

#ifdef OLVAN_SOURCE_DIR
// docs/install-errors.md, the administrator's table: one row per number of the header, with
// its text and the exit code the setup gives, and no row for any other number. Host build
// only: it reads the source tree.
TEST(InstallErrorDocument, TheTableKeepsInStepWithTheHeader) {
  std::ifstream doc(OLVAN_SOURCE_DIR "/docs/install-errors.md");
  ASSERT_TRUE(doc.good());
  std::map<uint32_t, std::vector<std::string>> rows;
  std::string line;
  while (std::getline(doc, line)) {
    if (line.size() < 3 || line.compare(0, 2, "| ") != 0 || !isdigit(line[2])) continue;
    std::vector<std::string> cells;
    size_t at = 2;
    for (size_t bar; (bar = line.find(" |", at)) != std::string::npos; at = bar + 3)
      cells.push_back(line.substr(at, bar - at));
    uint32_t n = static_cast<uint32_t>(std::stoul(cells[0]));
    EXPECT_TRUE(rows.emplace(n, cells).second) << "two rows for " << n;
  }
#define OLVAN_NUMBER(name, number, text) number,
  const uint32_t numbers[] = {OLVAN_UNPACK_ERRORS(OLVAN_NUMBER) OLVAN_SEQUENCE_ERRORS(OLVAN_NUMBER)};
#undef OLVAN_NUMBER
  EXPECT_EQ(rows.size(), sizeof numbers / sizeof numbers[0]);
  for (uint32_t n : numbers) {
    auto row = rows.find(n);
    ASSERT_NE(row, rows.end()) << "no row for " << n;
    ASSERT_EQ(row->second.size(), 5u) << n;
    EXPECT_EQ(row->second[1], InstallErrorText(n)) << n;
    EXPECT_FALSE(row->second[2].empty()) << n;
    EXPECT_FALSE(row->second[3].empty()) << n;
    EXPECT_EQ(row->second[4], std::to_string(SetupExitCode(RunEnd::kInstallFailed, n, 0))) << n;
  }
}
#endif

// A VS_VERSIONINFO block as the resource compiler lays it out: header, UTF-16 key, padding,
// VS_FIXEDFILEINFO, then (here) nothing more.
std::vector<unsigned char> VersionBlock(uint32_t ms, uint32_t ls) {
  std::vector<unsigned char> b(92, 0);
  auto put16 = [&](size_t at, uint32_t v) { b[at] = v & 0xFF, b[at + 1] = (v >> 8) & 0xFF; };
  auto put32 = [&](size_t at, uint32_t v) { put16(at, v & 0xFFFF), put16(at + 2, v >> 16); };
  put16(0, 92);
  put16(2, 52);
  const char key[] = "VS_VERSION_INFO";
  for (size_t i = 0; i < sizeof key; ++i) put16(6 + 2 * i, static_cast<unsigned char>(key[i]));
  put32(40, 0xFEEF04BD);
  put32(44, 0x00010000);
  put32(48, ms);
  put32(52, ls);
  put32(56, 0x11112222);  // product version: not the one shown
  put32(60, 0x33334444);
  return b;
}

TEST(VersionRecord, TheFixedFileVersionIsRead) {
  char v[32];
  std::vector<unsigned char> b = VersionBlock(0x00010000, 0x00000000);
  ASSERT_TRUE(VersionFromRecord(v, sizeof v, b.data(), b.size()));
  EXPECT_STREQ(v, "1.0.0.0");
  b = VersionBlock(0xFFFFFFFF, 0xFFFF0007);
  ASSERT_TRUE(VersionFromRecord(v, sizeof v, b.data(), b.size()));
  EXPECT_STREQ(v, "65535.65535.65535.7");
  b = VersionBlock(0x00070002, 0x00030004);
  ASSERT_TRUE(VersionFromRecord(v, sizeof v, b.data(), b.size()));
  EXPECT_STREQ(v, "7.2.3.4");
  EXPECT_TRUE(VersionFromRecord(v, 8, b.data(), b.size()));  // "7.2.3.4" and its NUL fit 8
  EXPECT_FALSE(VersionFromRecord(v, 7, b.data(), b.size()));
  EXPECT_STREQ(v, "");
}

TEST(VersionRecord, AnythingElseIsRefused) {
  char v[32];
  const std::vector<unsigned char> good = VersionBlock(0x00070002, 0x00030004);
  struct Damage {
    const char* what;
    size_t at;
    unsigned char value;
  } damages[] = {{"block length below the fixed part", 0, 91},
                 {"value length", 2, 51},
                 {"key", 6 + 2 * 3, 'x'},
                 {"key's NUL", 6 + 2 * 15, 'x'},
                 {"signature", 40, 0xBC},
                 {"signature's last byte", 43, 0xFF}};
  for (const Damage& d : damages) {
    std::vector<unsigned char> b = good;
    b[d.at] = d.value;
    EXPECT_FALSE(VersionFromRecord(v, sizeof v, b.data(), b.size())) << d.what;
    EXPECT_STREQ(v, "") << d.what;
  }
  std::vector<unsigned char> b = good;
  EXPECT_FALSE(VersionFromRecord(v, sizeof v, b.data(), b.size() - 1));  // shorter than it says
  EXPECT_FALSE(VersionFromRecord(v, sizeof v, nullptr, 0));
  b[0] = 200;  // says more than the resource holds
  EXPECT_FALSE(VersionFromRecord(v, sizeof v, b.data(), b.size()));
}

}  // namespace

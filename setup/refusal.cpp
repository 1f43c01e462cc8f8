#include "setup/refusal.h"

#include "setup/exit_code.h"

namespace {
const long long kMinFreeMb = 300;
const long long kBytesPerMb = 0x100000;
}  // namespace

long long FreeBytesToMb(long long bytes) { return bytes / kBytesPerMb; }

bool DiskSpaceAllows(long long freeBytes) {
  return freeBytes == -1 || FreeBytesToMb(freeBytes) >= kMinFreeMb;
}

Refusal FirstRefusal(const PreflightResults& r) {
  if (!r.eventMade) return Refusal::kNameTaken;
  if (r.eventExisted) return Refusal::kRunningCopy;
  if (!r.admin) return Refusal::kNotAdmin;
  if (!DiskSpaceAllows(r.freeBytes)) return Refusal::kDiskSpace;
  if (r.updaterRuns) return Refusal::kUpdater;
  return Refusal::kNone;
}

namespace {
// Per refusal, in the order of the enumeration: its warning, its exit code, and whether the
// setup log gets its line.
struct RefusalRow {
  uint8_t message;
  bool setupLog;
  uint16_t exitCode;
};
const RefusalRow kRows[] = {
    {kMsgRunningCopy, false, kExitSuccess},                // kNone
    {kMsgRunningCopy, false, kExitAlreadyRunning},         // kNameTaken
    {kMsgRunningCopy, false, kExitAlreadyRunning},         // kRunningCopy
    {kMsgNoAdmin, true, kExitElevationRequired},           // kNotAdmin
    {kMsgDiskSpace, true, kExitDiskFull},                  // kDiskSpace
    {kMsgCustomUpdate, true, kExitAlreadyRunning},         // kUpdater
};
const RefusalRow& Row(Refusal r) { return kRows[static_cast<int>(r)]; }
}  // namespace

SetupMessage RefusalMessage(Refusal r) { return static_cast<SetupMessage>(Row(r).message); }

uint32_t RefusalExitCode(Refusal r) { return Row(r).exitCode; }

bool RefusalGoesToSetupLog(Refusal r) { return Row(r).setupLog; }


#include "setup/refusal.h"

#include "setup/exit_code.h"
#include "util/fixed_str.h"
#include "util/reason_text.h"

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

SetupMessage RefusalMessage(Refusal r) {
  switch (r) {
    case Refusal::kNotAdmin: return kMsgNoAdmin;
    case Refusal::kDiskSpace: return kMsgDiskSpace;
    case Refusal::kUpdater: return kMsgCustomUpdate;
    default: return kMsgRunningCopy;
  }
}

uint32_t RefusalExitCode(Refusal r) {
  switch (r) {
    case Refusal::kNone: return kExitSuccess;
    case Refusal::kNotAdmin: return SetupExitCode(RunEnd::kNotAdmin, 0, 0);
    case Refusal::kDiskSpace: return SetupExitCode(RunEnd::kDiskSpace, 0, 0);
    default: return SetupExitCode(RunEnd::kBusy, 0, 0);
  }
}

bool RefusalGoesToSetupLog(Refusal r) {
  return r == Refusal::kNotAdmin || r == Refusal::kDiskSpace || r == Refusal::kUpdater;
}

bool RefusalLine(char* dst, size_t size, Refusal r) {
  char text[2 * kReasonNameMax];
  if (!ReasonName(text, MessageTextEn(RefusalMessage(r)))) return false;
  return StrFormat(dst, size, "Setup: refused: %s (exit code %u)", text,
                   static_cast<unsigned>(RefusalExitCode(r)));
}

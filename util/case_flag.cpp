#include "util/case_flag.h"

CaseFlag ReadCaseFlagAnswer(int32_t status, uint32_t flags) {
  if (status >= 0) return (flags & kCaseSensitiveDirFlag) != 0 ? CaseFlag::kSet : CaseFlag::kClear;
  switch (static_cast<uint32_t>(status)) {
    case 0xC0000002u:  // STATUS_NOT_IMPLEMENTED: a system older than the query
    case 0xC0000003u:  // STATUS_INVALID_INFO_CLASS
    case 0xC000000Du:  // STATUS_INVALID_PARAMETER: FAT, exFAT
    case 0xC0000010u:  // STATUS_INVALID_DEVICE_REQUEST: some redirectors
    case 0xC00000BBu:  // STATUS_NOT_SUPPORTED
      return CaseFlag::kClear;
    default:
      return CaseFlag::kUnknown;
  }
}

int32_t SettleCaseFlag(int32_t status, uint32_t flags, int32_t (*clear)(void* ctx, uint32_t flags),
                       void* ctx) {
  switch (ReadCaseFlagAnswer(status, flags)) {
    case CaseFlag::kClear:
      return 0;
    case CaseFlag::kSet: {
      int32_t changed = clear(ctx, flags & ~kCaseSensitiveDirFlag);
      return changed < 0 ? changed : 0;
    }
    default:
      return status;
  }
}

#include "util/case_flag.h"

int32_t SettleCaseFlag(int32_t status, uint32_t flags, int32_t (*clear)(void* ctx, uint32_t flags),
                       void* ctx) {
  if (status >= 0) {
    if ((flags & kCaseSensitiveDirFlag) == 0) return 0;
    int32_t changed = clear(ctx, flags & ~kCaseSensitiveDirFlag);
    return changed < 0 ? changed : 0;
  }
  switch (static_cast<uint32_t>(status)) {
    case 0xC0000002u:  // STATUS_NOT_IMPLEMENTED: a system older than the query
    case 0xC0000003u:  // STATUS_INVALID_INFO_CLASS
    case 0xC000000Du:  // STATUS_INVALID_PARAMETER: FAT, exFAT
    case 0xC0000010u:  // STATUS_INVALID_DEVICE_REQUEST: some redirectors
    case 0xC00000BBu:  // STATUS_NOT_SUPPORTED
      return 0;
    default:
      return status;
  }
}

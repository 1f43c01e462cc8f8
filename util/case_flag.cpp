#include "util/case_flag.h"

int32_t SettleCaseFlag(int32_t status, uint32_t flags, int32_t (*clear)(void* ctx, uint32_t flags),
                       void* ctx) {
  if (status >= 0) {
    if ((flags & kCaseSensitiveDirFlag) == 0) return 0;
    int32_t changed = clear(ctx, flags & ~kCaseSensitiveDirFlag);
    return changed < 0 ? changed : 0;
  }
  switch (static_cast<uint32_t>(status)) {
    case win::kStatusNotImplemented:  // a system older than the query
    case win::kStatusInvalidInfoClass:
    case win::kStatusInvalidParameter:  // FAT, exFAT
    case win::kStatusInvalidDeviceRequest:  // some redirectors
    case win::kStatusNotSupported:
      return 0;
    default:
      return status;
  }
}

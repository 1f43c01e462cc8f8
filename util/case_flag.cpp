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

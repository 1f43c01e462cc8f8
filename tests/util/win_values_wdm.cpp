// util/win_values.h against MinGW-w64's kernel-mode wdm.h, which holds the whole
// FILE_INFORMATION_CLASS (the user-mode winternl.h stops before 64). Its own unit: the two
// define the class alike. g++ compiles wdm.h once these two intrinsics count as defined.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ddk/wdm.h>

#include "util/win_values.h"

#define SAME(ours, theirs) \
  static_assert(static_cast<unsigned>(ours) == static_cast<unsigned>(theirs), #ours " != " #theirs)

SAME(win::kFileInternalInformation, FileInternalInformation);
SAME(win::kFileRenameInformation, FileRenameInformation);
SAME(win::kFileDispositionInformation, FileDispositionInformation);
SAME(win::kFileIdBothDirectoryInformation, FileIdBothDirectoryInformation);
SAME(win::kFileDispositionInformationEx, FileDispositionInformationEx);
SAME(win::kFileCaseSensitiveInformation, FileCaseSensitiveInformation);

SAME(win::kStatusNoMoreFiles, STATUS_NO_MORE_FILES);
SAME(win::kStatusNotImplemented, STATUS_NOT_IMPLEMENTED);
SAME(win::kStatusInvalidInfoClass, STATUS_INVALID_INFO_CLASS);
SAME(win::kStatusInvalidParameter, STATUS_INVALID_PARAMETER);
SAME(win::kStatusInvalidDeviceRequest, STATUS_INVALID_DEVICE_REQUEST);
SAME(win::kStatusNotSupported, STATUS_NOT_SUPPORTED);

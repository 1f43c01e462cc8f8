// util/win_values.h against Wine's own development headers, written apart from MinGW-w64's.
// Compiled with them alone (-nostdinc, Wine's msvcrt and windows folders first). Debian's
// end FILE_INFORMATION_CLASS at 63, so 64 and 71 are checked against wdm.h only.
#define WIN32_NO_STATUS
#include <windows.h>
#undef WIN32_NO_STATUS
#include <ntstatus.h>
#include <winternl.h>

#include "util/win_values.h"

#define SAME(ours, theirs) \
  static_assert(static_cast<unsigned>(ours) == static_cast<unsigned>(theirs), #ours " != " #theirs)

SAME(win::kStatusNoMoreFiles, STATUS_NO_MORE_FILES);
SAME(win::kStatusNotImplemented, STATUS_NOT_IMPLEMENTED);
SAME(win::kStatusInvalidInfoClass, STATUS_INVALID_INFO_CLASS);
SAME(win::kStatusInvalidParameter, STATUS_INVALID_PARAMETER);
SAME(win::kStatusInvalidDeviceRequest, STATUS_INVALID_DEVICE_REQUEST);
SAME(win::kStatusNotSupported, STATUS_NOT_SUPPORTED);

SAME(win::kFileInternalInformation, FileInternalInformation);
SAME(win::kFileRenameInformation, FileRenameInformation);
SAME(win::kFileDispositionInformation, FileDispositionInformation);
SAME(win::kFileIdBothDirectoryInformation, FileIdBothDirectoryInformation);

static_assert(sizeof(win::FileRenameInformation::replaceIfExists) == sizeof(BOOLEAN), "");
static_assert(sizeof(win::FileRenameInformation::rootDirectory) == sizeof(HANDLE), "");
static_assert(sizeof(win::FileRenameInformation::fileNameLength) == sizeof(ULONG), "");
static_assert(sizeof(win::FileRenameInformation::fileName[0]) == sizeof(WCHAR), "");
SAME(__builtin_offsetof(win::FileRenameInformation, rootDirectory),
     __builtin_offsetof(FILE_RENAME_INFORMATION, RootDirectory));
SAME(__builtin_offsetof(win::FileRenameInformation, fileNameLength),
     __builtin_offsetof(FILE_RENAME_INFORMATION, FileNameLength));
SAME(__builtin_offsetof(win::FileRenameInformation, fileName),
     __builtin_offsetof(FILE_RENAME_INFORMATION, FileName));

SAME(win::kWsfVisible, WSF_VISIBLE);
SAME(win::kLangChinesePrc, MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));

SAME(win::kErrorSuccess, ERROR_SUCCESS);
SAME(win::kErrorDiskFull, ERROR_DISK_FULL);
SAME(win::kErrorElevationRequired, ERROR_ELEVATION_REQUIRED);
SAME(win::kErrorSuccessRebootInitiated, ERROR_SUCCESS_REBOOT_INITIATED);
SAME(win::kErrorInstallUserExit, ERROR_INSTALL_USEREXIT);
SAME(win::kErrorInstallFailure, ERROR_INSTALL_FAILURE);
SAME(win::kErrorInstallAlreadyRunning, ERROR_INSTALL_ALREADY_RUNNING);
SAME(win::kErrorSuccessRebootRequired, ERROR_SUCCESS_REBOOT_REQUIRED);

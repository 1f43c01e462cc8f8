// The Windows values that the program defines itself rather than takes from a system header:
// native information classes and flags that the headers it is built with lack or hide
// behind a newer _WIN32_WINNT, status codes, the exit codes it gives, and a few flags of
// host-built code. A wrong one here passes every run under Wine, which forgives many of them,
// and fails every run on Windows; so this file includes no header at all (host code uses it
// too), and the tests check each value at compile time against every independent header
// set that defines it (tests/util/win_values_*.cpp): a value that differs fails their build.
#pragma once

namespace win {

// NTSTATUS codes, as their 32-bit patterns.
constexpr unsigned kStatusNoMoreFiles = 0x80000006u;
constexpr unsigned kStatusNotImplemented = 0xC0000002u;
constexpr unsigned kStatusInvalidInfoClass = 0xC0000003u;
constexpr unsigned kStatusInvalidParameter = 0xC000000Du;
constexpr unsigned kStatusInvalidDeviceRequest = 0xC0000010u;
constexpr unsigned kStatusNotSupported = 0xC00000BBu;

// FILE_INFORMATION_CLASS.
constexpr unsigned kFileInternalInformation = 6;
constexpr unsigned kFileRenameInformation = 10;
constexpr unsigned kFileDispositionInformation = 13;
constexpr unsigned kFileIdBothDirectoryInformation = 37;
constexpr unsigned kFileDispositionInformationEx = 64;
constexpr unsigned kFileCaseSensitiveInformation = 71;

// FILE_DISPOSITION_INFORMATION_EX.Flags.
constexpr unsigned kFileDispositionDelete = 0x1;
constexpr unsigned kFileDispositionPosixSemantics = 0x2;

// FILE_CS_FLAG_CASE_SENSITIVE_DIR of FILE_CASE_SENSITIVE_INFORMATION.Flags. No header here
// defines it: the unit tests record that a change writes back the flags it read without it.
constexpr unsigned kFileCsFlagCaseSensitiveDir = 0x1;

// FILE_RENAME_INFORMATION with room for a name of up to 259 characters: the name is relative
// to rootDirectory. The field types are those of the header's (BOOLEAN, HANDLE, ULONG, WCHAR).
struct FileRenameInformation {
  unsigned char replaceIfExists;
  void* rootDirectory;
  unsigned fileNameLength;  // bytes
  char16_t fileName[260];
};

// WSF_VISIBLE of USEROBJECTFLAGS.dwFlags.
constexpr unsigned kWsfVisible = 0x0001;

// MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED): Chinese (PRC).
constexpr unsigned short kLangChinesePrc = 0x0804;

// Error codes given as the program's exit code.
constexpr unsigned kErrorSuccess = 0;
constexpr unsigned kErrorDiskFull = 112;
constexpr unsigned kErrorElevationRequired = 740;
constexpr unsigned kErrorSuccessRebootInitiated = 1641;
constexpr unsigned kErrorInstallUserExit = 1602;
constexpr unsigned kErrorInstallFailure = 1603;
constexpr unsigned kErrorInstallAlreadyRunning = 1618;
constexpr unsigned kErrorSuccessRebootRequired = 3010;

}  // namespace win

// The native calls through which HeldFolder (util/held_folder.h) opens, lists, renames and
// deletes relative to a held handle: one table, looked up in ntdll once. Unit tests put
// recorders into it (NtCallsForTest) to see the classes, lengths and flags that reach
// Windows, which Wine does not check; the program never calls NtCallsForTest, and the
// linker drops it.
#pragma once
#include <windows.h>
#include <winternl.h>

typedef NTSTATUS(NTAPI* NtCreateFileFn)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                        PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
typedef NTSTATUS(NTAPI* NtQueryDirectoryFileFn)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK,
                                                PVOID, ULONG, ULONG, BOOLEAN, PUNICODE_STRING,
                                                BOOLEAN);
typedef NTSTATUS(NTAPI* NtSetInformationFileFn)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
typedef NTSTATUS(NTAPI* NtQueryInformationFileFn)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
typedef ULONG(NTAPI* RtlNtStatusToDosErrorFn)(NTSTATUS);

struct NtCalls {
  NtCreateFileFn create = nullptr;
  NtQueryDirectoryFileFn queryDirectory = nullptr;
  NtSetInformationFileFn setInformation = nullptr;
  NtQueryInformationFileFn queryInformation = nullptr;
  RtlNtStatusToDosErrorFn toDosError = nullptr;
  bool ok = false;
};

// The table, looked up on first use; a test may replace entries (keeping the ones it
// replaces, to forward to) and must put them back.
NtCalls& NtCallsForTest();

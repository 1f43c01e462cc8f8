// Makes junctions and symbolic links for tests of code that must not follow them. Wine
// supports some kinds only: each helper reports whether it made a link.
#pragma once
#include <windows.h>
#include <winioctl.h>

#include <string>
#include <vector>

#ifndef IO_REPARSE_TAG_MOUNT_POINT
#define IO_REPARSE_TAG_MOUNT_POINT 0xA0000003L
#endif

// A folder link at link (which must not exist) to the existing folder target: a junction
// first, a directory symbolic link second. True when link now is a reparse point.
inline bool MakeFolderLink(const std::string& link, const std::string& target) {
  auto isLink = [&] {
    DWORD a = GetFileAttributesA(link.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
  };
  if (CreateDirectoryA(link.c_str(), nullptr)) {
    HANDLE h = CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      std::wstring sub = L"\\??\\", print;
      for (char c : target) print += static_cast<wchar_t>(c);
      sub += print;
      std::vector<BYTE> buf(8 + 8 + (sub.size() + print.size() + 2) * 2, 0);
      auto* p = buf.data();
      *reinterpret_cast<DWORD*>(p) = IO_REPARSE_TAG_MOUNT_POINT;
      *reinterpret_cast<WORD*>(p + 4) = static_cast<WORD>(buf.size() - 8);
      WORD* f = reinterpret_cast<WORD*>(p + 8);
      f[0] = 0;
      f[1] = static_cast<WORD>(sub.size() * 2);
      f[2] = static_cast<WORD>(sub.size() * 2 + 2);
      f[3] = static_cast<WORD>(print.size() * 2);
      memcpy(p + 16, sub.c_str(), sub.size() * 2);
      memcpy(p + 16 + sub.size() * 2 + 2, print.c_str(), print.size() * 2);
      DWORD ret = 0;
      DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buf.data(), static_cast<DWORD>(buf.size()),
                      nullptr, 0, &ret, nullptr);
      CloseHandle(h);
    }
    if (isLink()) return true;
    RemoveDirectoryA(link.c_str());
  }
  typedef BOOLEAN(WINAPI * CreateSymbolicLinkFn)(LPCSTR, LPCSTR, DWORD);
  auto fn = reinterpret_cast<CreateSymbolicLinkFn>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA"));
  if (fn != nullptr) fn(link.c_str(), target.c_str(), 1 /* directory */);
  return isLink();
}

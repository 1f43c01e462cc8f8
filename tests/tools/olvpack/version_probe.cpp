// Reads a program's version record with Windows' own version calls (version.dll), as
// Explorer and deployment tools do, and prints the fixed versions and the FileVersion and
// ProductVersion strings. Only this test program imports version.dll, not Setup.exe.
#include <windows.h>

#include <stdio.h>

#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(argv[1], &ignored);
  if (size == 0) {
    printf("no version record (error %lu)\n", GetLastError());
    return 1;
  }
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(argv[1], 0, size, data.data())) return 1;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &len) ||
      len < sizeof(VS_FIXEDFILEINFO) || fixed->dwSignature != 0xFEEF04BD)
    return 1;
  printf("file %u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
         HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
  printf("product %u.%u.%u.%u\n", HIWORD(fixed->dwProductVersionMS),
         LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
         LOWORD(fixed->dwProductVersionLS));
  for (const char* name : {"FileVersion", "ProductVersion"}) {
    char path[80];
    snprintf(path, sizeof path, "\\StringFileInfo\\040904b0\\%s", name);
    char* text = nullptr;
    if (!VerQueryValueA(data.data(), path, reinterpret_cast<void**>(&text), &len)) return 1;
    printf("%s %s\n", name, text);
  }
  return 0;
}

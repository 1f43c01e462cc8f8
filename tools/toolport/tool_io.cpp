#include "tools/toolport/tool_io.h"

#include <string.h>

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

#ifdef _WIN32

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &w[0], n);
  return w;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &s[0], n, nullptr,
                      nullptr);
  return s;
}

int RunMainWithUtf8Args(int argc, wchar_t** wargv, int (*main)(int, char**)) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(Narrow(wargv[i]));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  return main(argc, argv.data());
}

fs::path PathOf(const std::string& utf8) { return fs::path(Widen(utf8)); }

std::string Utf8Of(const fs::path& path) { return Narrow(path.wstring()); }

std::string EntryPath(const std::string& dirUtf8, const char* name) {
  int len = static_cast<int>(strlen(name));
  std::wstring wide(static_cast<size_t>(len), L'\0');
  wide.resize(static_cast<size_t>(MultiByteToWideChar(1252, 0, name, len, &wide[0], len)));
  return Utf8Of(PathOf(dirUtf8) / wide);
}

FILE* OpenFile(const std::string& utf8Path, const char* mode) {
  return _wfopen(Widen(utf8Path).c_str(), Widen(mode).c_str());
}

bool SeekTo(FILE* f, uint64_t offset) {
  return _fseeki64(f, static_cast<__int64>(offset), SEEK_SET) == 0;
}

#else

fs::path PathOf(const std::string& utf8) { return fs::path(utf8); }

std::string Utf8Of(const fs::path& path) { return path.string(); }

std::string EntryPath(const std::string& dirUtf8, const char* name) {
  return (fs::path(dirUtf8) / name).string();
}

FILE* OpenFile(const std::string& utf8Path, const char* mode) {
  return fopen(utf8Path.c_str(), mode);
}

bool SeekTo(FILE* f, uint64_t offset) {
  return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
}

#endif

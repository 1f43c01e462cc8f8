#include "tests/util/win_test_util.h"

#include <windows.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "util/log_line.h"

std::string SiblingPath(const std::string& name) {
  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string p(self, n);
  return p.substr(0, p.find_last_of('\\') + 1) + name;
}

std::string LogFolder() {
  char dir[MAX_PATH];
  GetSystemDirectoryA(dir, MAX_PATH);
  return std::string(1, dir[0]) + ":\\OlvanLog";
}

void ClearLogFolder() {
  std::string folder = LogFolder();
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    std::string p = folder + "\\" + fd.cFileName;
    SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(p.c_str());
  } while (FindNextFileA(h, &fd));
  FindClose(h);
}

std::string TodayLogPath(const std::string& base, const std::string& folder) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  LogTime t = {st.wYear, st.wMonth, st.wDay, st.wDayOfWeek, st.wHour, st.wMinute, st.wSecond};
  char path[MAX_PATH];
  LogFilePath(path, sizeof path, (folder.empty() ? LogFolder() : folder).c_str(), base.c_str(), t);
  return path;
}

std::vector<std::string> ReadLogLines(const std::string& base, const std::string& folder) {
  std::string all = ReadFileBytes(TodayLogPath(base, folder));
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < all.size()) {
    size_t end = all.find("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back(all.substr(pos));
      break;
    }
    lines.push_back(all.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

std::vector<std::string> ReadLogMessages(const std::string& base, const std::string& folder) {
  static const std::regex kPrefix(
      R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] (\[DTL\] )?\[(0x)?[0-9a-f]+\] )");
  std::vector<std::string> out;
  for (const std::string& l : ReadLogLines(base, folder))
    out.push_back(std::regex_replace(l, kPrefix, ""));
  return out;
}

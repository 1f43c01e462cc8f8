// Helpers shared by the test programs: temporary folders and whole-file reads and writes.
// Header only, for the host tests and the Win32 tests alike.
#pragma once
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

using Bytes = std::vector<unsigned char>;

// Raw bytes of a file; empty when it cannot be read.
inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}
// Writes the file anew with exactly these bytes.
inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << bytes;
}
inline Bytes ReadBytes(const std::string& path) {
  std::string s = ReadFileBytes(path);
  return Bytes(s.begin(), s.end());
}
inline void WriteBytes(const std::string& path, const Bytes& data) {
  WriteFileBytes(path, std::string(data.begin(), data.end()));
}

// A new empty folder under the temporary folder: tag, the process, the time and a counter
// make its name, so that a folder left by an earlier run is never reused.
inline std::string NewTempFolder(const std::string& tag) {
  static unsigned counter = 0;
  unsigned long long tick =
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
#ifdef _WIN32
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  std::string path = std::string(base) + tag + "-" + std::to_string(GetCurrentProcessId());
  path += "-" + std::to_string(tick) + "-" + std::to_string(++counter);
  CreateDirectoryA(path.c_str(), nullptr);
#else
  std::string path =
      (std::filesystem::temp_directory_path() / tag).string() + "-" + std::to_string(getpid());
  path += "-" + std::to_string(tick) + "-" + std::to_string(++counter);
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
#endif
  return path;
}

// Removes dir with everything in it, read-only files too.
inline void RemoveTree(const std::string& dir) {
#ifdef _WIN32
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::string n = fd.cFileName;
      if (n == "." || n == "..") continue;
      std::string p = dir + "\\" + n;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(p);
      } else {
        SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(p.c_str());
      }
    } while (FindNextFileA(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryA(dir.c_str());
#else
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
#endif
}

// A NewTempFolder, removed with everything in it at the end.
class TempFolder {
 public:
  explicit TempFolder(const std::string& tag) : path_(NewTempFolder(tag)) {}
  ~TempFolder() { RemoveTree(path_); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const {
#ifdef _WIN32
    return path_ + "\\" + name;
#else
    return path_ + "/" + name;
#endif
  }

 private:
  std::string path_;
};

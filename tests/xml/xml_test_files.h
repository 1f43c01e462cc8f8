// Customization XML files for the tests, written into a temporary folder of the test's own.
#pragma once
#include <filesystem>
#include <fstream>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

class XmlFolder {
 public:
  XmlFolder() {
#ifdef _WIN32
    unsigned long pid = GetCurrentProcessId();
#else
    unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    static int counter = 0;
    dir_ = std::filesystem::temp_directory_path() /
           ("olv-xml-" + std::to_string(pid) + "-" + std::to_string(++counter));
    std::filesystem::create_directories(dir_);
  }
  ~XmlFolder() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  // Writes text (UTF-8 bytes as given) to name and returns the file's path.
  std::string Write(const std::string& name, const std::string& text) const {
    std::string path = Path(name);
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    return path;
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
};

// A customization file with the given elements inside "content".
inline std::string CustomXml(const std::string& sections) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<msg>\n<content>\n" + sections +
         "\n</content>\n</msg>\n";
}

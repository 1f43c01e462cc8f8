// Customization XML files for the tests, written into a temporary folder of the test's own.
#pragma once
#include <string>

#include "tests/support/test_support.h"

class XmlFolder {
 public:
  // Writes text (UTF-8 bytes as given) to name and returns the file's path.
  std::string Write(const std::string& name, const std::string& text) const {
    std::string path = Path(name);
    WriteFileBytes(path, text);
    return path;
  }
  std::string Path(const std::string& name) const { return dir_.File(name); }

 private:
  TempFolder dir_{"olv-xml"};
};

// A customization file with the given elements inside "content".
inline std::string CustomXml(const std::string& sections) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<msg>\n<content>\n" + sections +
         "\n</content>\n</msg>\n";
}

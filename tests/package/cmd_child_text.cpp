#include <string>

// The text that "cmd_child print N" writes.
std::string NumberedText(size_t n) {
  std::string s;
  for (int i = 0; s.size() < n; ++i) s += "line " + std::to_string(i) + "\r\n";
  s.resize(n);
  return s;
}

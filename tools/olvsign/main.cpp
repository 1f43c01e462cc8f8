// olvsign: the command line; what it does is described in olvsign.h.
#include <iostream>
#include <string>
#include <vector>

#include "olvsign.h"
#include "tools/toolport/tool_io.h"

namespace {

int Main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return RunOlvsign(args, std::cin, std::cout, std::cerr);
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return RunMainWithUtf8Args(argc, argv, Main); }
#else
int main(int argc, char** argv) { return Main(argc, argv); }
#endif

// olvsign: the command line; what it does is described in olvsign.h.
#include <iostream>
#include <string>
#include <vector>

#include "olvsign.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return RunOlvsign(args, std::cin, std::cout, std::cerr);
}

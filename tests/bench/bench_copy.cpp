// Benchmark helper (not a test): copies one file with CopyFileA, as a whole process, for the
// side-by-side timing of scripts/bench-unpack.sh --processes.
//   bench_copy.exe SOURCE DESTINATION
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  return CopyFileA(argv[1], argv[2], FALSE) ? 0 : 1;
}

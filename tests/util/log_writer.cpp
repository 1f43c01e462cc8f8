// Writes numbered lines to the setup log as fast as it can, for the concurrent-writer test.
//   log_writer TAG COUNT
#include <stdio.h>
#include <stdlib.h>

#include "util/log.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  int count = atoi(argv[2]);
  for (int i = 0; i < count; ++i) {
    char msg[128];
    snprintf(msg, sizeof msg, "%s %05d the quick brown fox jumps over the lazy dog", argv[1], i);
    SetupLog(msg);
  }
  return 0;
}

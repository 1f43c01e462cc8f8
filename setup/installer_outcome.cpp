#include "setup/installer_outcome.h"

size_t DecidingProcess(const FollowedEnd* ends, size_t count) {
  size_t decides = 0;
  if (count == 0 || ends[0].exitCode != 0) return 0;
  for (size_t i = 1; i < count; ++i) {
    if (ends[i].known && ends[i].exitTime > ends[0].exitTime &&
        ends[i].exitTime >= ends[decides].exitTime)
      decides = i;
  }
  return decides;
}

// Which process of the installer's name gives the installer's outcome. No operating system
// needed.
#pragma once
#include <stddef.h>
#include <stdint.h>

// A process of the installer's name that the setup followed until it ended: the installer
// the setup started, first, then the copies that descend from it.
struct FollowedEnd {
  uint32_t exitCode;
  uint64_t exitTime;  // when it ended (any clock that only grows)
  bool known;         // followed to its end, with its exit code read
};

// Index in ends of the process whose exit code is the outcome. The started installer's (0)
// whenever it ended with anything but 0: a failure or a restart it reports is never undone.
// When it ended with 0 and handed over, the followed copy that ended last, if that one
// ended after it. Processes of that name that are not followed never count.
size_t DecidingProcess(const FollowedEnd* ends, size_t count);

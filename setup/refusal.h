// The start-up checks' refusal chain, decided on plain data: which check refuses first,
// which warning it shows, where it is logged and which exit code it gives. No operating
// system needed.
#pragma once
#include <stdint.h>

#include "setup/messages.h"

// Free bytes as megabytes, truncated toward zero.
long long FreeBytesToMb(long long bytes);
// True when the setup has room: unknown free space (-1) or 300 MB and more.
bool DiskSpaceAllows(long long freeBytes);

// What the checks found, filled in as they run. A check not run yet keeps its passing
// value, so the chain can be asked after each one.
struct PreflightResults {
  bool eventMade = true;       // the single-instance event could be created or opened
  bool eventExisted = false;   // it existed already: another copy holds it
  bool admin = true;           // the user is an administrator
  long long freeBytes = -1;    // free bytes on the system disk, -1 unknown
  bool updaterRuns = false;    // the customization updater runs
};

enum class Refusal { kNone, kNameTaken, kRunningCopy, kNotAdmin, kDiskSpace, kUpdater };

// The first check that refuses, in the order the setup runs them.
Refusal FirstRefusal(const PreflightResults& r);

// The warning a refusal shows.
SetupMessage RefusalMessage(Refusal r);
// The exit code a refusal gives.
uint32_t RefusalExitCode(Refusal r);
// Whether a refusal is written to the setup log. A second copy (or a taken instance name)
// writes nothing there: that log belongs to the run already going.
bool RefusalGoesToSetupLog(Refusal r);
// The setup log's line for a refusal, with the warning's English text (escaped as names
// are in reason lines) and the exit code.
#define SETUP_REFUSED_LINE "Setup: refused: %s (exit code %u)"

#include <windows.h>

#include "package/carrier_hold.h"
#include "setup/hardening.h"
#include "setup/setup_run.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  HardenDllSearch();
  // The carrier stays as it is for the whole run; a failed hold makes the unpack refuse it.
  utl_HoldOwnFile();
  return RunSetup(instance);
}

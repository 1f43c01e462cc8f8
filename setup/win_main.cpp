#include <windows.h>

#include "setup/hardening.h"
#include "setup/setup_run.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  HardenDllSearch();
  return RunSetup(instance);
}

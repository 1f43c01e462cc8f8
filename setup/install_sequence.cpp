#include "setup/install_sequence.h"

#include "setup/app_state.h"

// The package is not unpacked yet: the sequence stops at once with error 0.
BOOL UnpackAndSetup(DWORD* pdwErr) {
  ReleaseInstanceEvent();
  return FALSE;
}

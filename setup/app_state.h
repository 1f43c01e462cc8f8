// Process-wide state of the setup run.
#pragma once
#include <windows.h>

#include "gate/cipher/pwd_cipher.h"

// Named event that keeps a second copy of the setup from running.
#define SETUP_INSTANCE_EVENT "evnt_Olvan_stpDamon"

// Held from the start of WinMain until the install sequence ends.
extern HANDLE g_hInstanceEvent;
// The installed client's uninstall password in its stored text form, as the gate loaded it.
extern char g_szStoredPwd[kStoredPwdTextSize + 1];

// Closes the single-instance event if it is still held; safe to call more than once.
void ReleaseInstanceEvent();

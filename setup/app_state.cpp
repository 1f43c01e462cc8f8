#include "setup/app_state.h"

HANDLE g_hInstanceEvent = nullptr;
char g_szStoredPwd[kStoredPwdTextSize + 1];

void ReleaseInstanceEvent() {
  if (g_hInstanceEvent != nullptr) {
    CloseHandle(g_hInstanceEvent);
    g_hInstanceEvent = nullptr;
  }
}

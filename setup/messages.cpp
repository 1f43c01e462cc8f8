#include "setup/messages.h"

#include <windows.h>

#include "setup/exit_code.h"
#include "util/system_info.h"

bool CanShowWindows() {
  USEROBJECTFLAGS flags;
  HWINSTA station = GetProcessWindowStation();
  bool read = station != nullptr &&
              GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, nullptr);
  // A service allowed to interact with the desktop sees a visible station in session 0.
  DWORD session = 1;
  bool sessionRead = ProcessIdToSessionId(GetCurrentProcessId(), &session) != FALSE;
  return WindowStationVisible(read, read ? flags.dwFlags : 0) &&
         SessionCanAnswer(sessionRead, session);
}

bool ShowSetupWarning(SetupMessage m) {
  if (!CanShowWindows()) return false;
  bool zh = IsSystemLanguageChinesePrc();
  MessageBoxA(nullptr, zh ? MessageTextZh(m) : MessageTextEn(m), zh ? kCaptionZh : kCaptionEn,
              MB_ICONWARNING);
  return true;
}

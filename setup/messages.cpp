#include "setup/messages.h"

#include <windows.h>

#include "setup/exit_code.h"
#include "util/system_info.h"

bool CanShowWindows() {
  USEROBJECTFLAGS flags;
  HWINSTA station = GetProcessWindowStation();
  bool read = station != nullptr &&
              GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, nullptr);
  return WindowStationVisible(read, read ? flags.dwFlags : 0);
}

bool ShowSetupWarning(SetupMessage m) {
  if (!CanShowWindows()) return false;
  bool zh = IsSystemLanguageChinesePrc();
  MessageBoxA(nullptr, zh ? MessageTextZh(m) : MessageTextEn(m), zh ? kCaptionZh : kCaptionEn,
              MB_ICONWARNING);
  return true;
}

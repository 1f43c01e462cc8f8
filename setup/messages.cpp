#include "setup/messages.h"

#include <windows.h>

#include "setup/exit_code.h"
#include "util/log.h"
#include "util/reason_text.h"
#include "util/system_info.h"

const char kCaptionEn[] = "Olvan Setup";

const char* MessageTextEn(SetupMessage m) {
  switch (m) {
    case kMsgRunningCopy: return "A previous instance is still running. \nPlease try it later.";
    case kMsgNoAdmin:
      return "You do not have administrative privileges on this computer, the program can not be "
             "installed!";
    case kMsgDiskSpace:
      return "The sys disk must have at least 300M free space to finish the setup.";
    case kMsgCustomUpdate: return "A previous instance is still running. \nPlease try it later.";
    default: return "";
  }
}

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

void ShowSetupWarning(SetupMessage m) {
  if (!CanShowWindows()) {
    // One line: the text's line break is written as "\n".
    char line[256];
    if (ReasonName(line, MessageTextEn(m))) SetupLog(line);
    return;
  }
  bool zh = IsSystemLanguageChinesePrc();
  MessageBoxA(nullptr, zh ? MessageTextZh(m) : MessageTextEn(m), zh ? kCaptionZh : kCaptionEn,
              MB_ICONWARNING);
}

// The warnings' English texts, shown on every system whose language is not Chinese (PRC)
// and written to the logs.
#include "setup/messages.h"

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

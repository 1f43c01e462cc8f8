// The warnings the setup shows when it refuses to start.
#pragma once

enum SetupMessage { kMsgRunningCopy, kMsgNoAdmin, kMsgDiskSpace, kMsgCustomUpdate, kMsgCount };

// Texts in the program's narrow encoding: English as ASCII, Chinese as code page 936 bytes.
const char* MessageTextEn(SetupMessage m);
const char* MessageTextZh(SetupMessage m);
extern const char kCaptionEn[];
extern const char kCaptionZh[];

// One warning box, in Chinese when the system's default language is Chinese (PRC), in
// English otherwise; no owner window. False, with no box, where nobody can see a window
// (see CanShowWindows).
bool ShowSetupWarning(SetupMessage m);

// False when the process's window station is not visible (a service's station) or the
// process runs in session 0: a box or a dialog there waits for a click that can never come.
bool CanShowWindows();

// The warnings the setup shows when it refuses to start.
#pragma once

enum SetupMessage { kMsgRunningCopy, kMsgNoAdmin, kMsgDiskSpace, kMsgCustomUpdate, kMsgCount };

// Texts in the program's narrow encoding: English as ASCII, Chinese as code page 936 bytes.
const char* MessageTextEn(SetupMessage m);
const char* MessageTextZh(SetupMessage m);
extern const char kCaptionEn[];
extern const char kCaptionZh[];

// One warning box, in Chinese when the system's default language is Chinese (PRC), in
// English otherwise; no owner window.
void ShowSetupWarning(SetupMessage m);

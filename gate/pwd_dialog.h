// The dialog that asks for the installed client's uninstall password.
#pragma once
#include <windows.h>

#define IDD_CHKPWD_DLG 134
#define IDC_PWD_EDIT 1001
#define IDC_PWD_WRONG 1002
#define IDC_PWD_PROMPT (-1)

// Wrong entries allowed before the setup gives up.
const int kMaxPwdAttempts = 3;

// Modeless dialog procedure. Every way out of the dialog posts the thread's quit message;
// g_bExit becomes TRUE only when the typed password matches the stored one.
INT_PTR CALLBACK ChkPwdDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);

// The dialog's texts in one language: English as ASCII, Chinese as code page 936 bytes.
struct PwdDialogTexts {
  const char* title;
  const char* prompt;
  const char* ok;
  const char* cancel;
  const char* wrong;
  const char* limitText;
  const char* limitCaption;
};
extern const PwdDialogTexts kPwdTextsEn;
extern const PwdDialogTexts kPwdTextsZh;

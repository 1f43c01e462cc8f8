// The dialog that asks for the installed client's uninstall password.
#pragma once
#include <windows.h>

#define IDD_CHKPWD_DLG 134
#define IDC_PWD_EDIT 1001
#define IDC_PWD_WRONG 1002
#define IDC_PWD_PROMPT (-1)

// Wrong entries allowed before the setup gives up.
const int kMaxPwdAttempts = 3;

// Set only by the password dialog after the right password; FALSE at start. WinMain's
// run reads it once the dialog has ended.
extern BOOL g_bExit;

// What the dialog works on, passed as the lParam of CreateDialogParam and kept by the
// caller until the dialog has ended: the installed client's password in its stored text
// form, whether the right password was typed and whether the last wrong entry allowed
// ended the dialog (both false at start).
struct PwdDialogParams {
  const char* storedPwd;
  bool accepted;
  bool attemptsUsedUp;
};

// Modeless dialog procedure; lParam of WM_INITDIALOG: a PwdDialogParams. Every way out of
// the dialog posts the thread's quit message; accepted and g_bExit become true only when
// the typed password matches the stored one.
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

#include "gate/pwd_dialog.h"

#include <string.h>

#include "gate/cipher/pwd_cipher.h"
#include "util/log.h"
#include "util/system_info.h"
#include "util/wipe.h"

const PwdDialogTexts kPwdTextsEn = {
    "Uninstall Password",
    "The client is protected by a password. Please input the password to proceed with the "
    "client upgrade.",
    "OK",
    "Cancel",
    "Wrong password. Please try again:",
    "You have input wrong passwords for the maximum number of times. The installation wizard "
    "is about to abort...",
    "Wrong Password",
};

BOOL g_bExit = FALSE;

namespace {

// Longest password the edit control takes, in characters.
const int kMaxPwdChars = kMaxTypedPwdBytes;
// Wrong entries so far in this run.
int g_nWrongPwd = 0;

const PwdDialogTexts& Texts() { return IsSystemLanguageChinesePrc() ? kPwdTextsZh : kPwdTextsEn; }

// Brings what the user typed into the stored text form and compares it with the stored
// password. The plain text lives only in this frame and is wiped before returning.
bool TypedPasswordMatches(HWND hDlg, const char* storedPwd) {
  char typed[kMaxPwdChars + 1];
  memset(typed, 0, sizeof typed);
  int n = GetWindowTextLengthA(GetDlgItem(hDlg, IDC_PWD_EDIT));
  if (n < 0) n = 0;
  if (n > kMaxPwdChars) n = kMaxPwdChars;
  GetDlgItemTextA(hDlg, IDC_PWD_EDIT, typed, n + 1);
  n = static_cast<int>(strlen(typed));

  char stored[kStoredPwdTextSize + 1];
  memset(stored, 0, sizeof stored);
  DesBase64Encrypt(stored, kStoredPwdTextSize, reinterpret_cast<unsigned char*>(typed),
                   static_cast<unsigned>(n));
  WipeBytes(typed, sizeof typed);
  // The edit control holds the plain text too; it goes as soon as it has been read.
  SetDlgItemTextA(hDlg, IDC_PWD_EDIT, "");
  return storedPwd != nullptr && strcmp(storedPwd, stored) == 0;
}

void OnWrongPassword(HWND hDlg, PwdDialogParams* params) {
  ++g_nWrongPwd;
  const PwdDialogTexts& t = Texts();
  if (g_nWrongPwd >= kMaxPwdAttempts) {
    if (params != nullptr) params->attemptsUsedUp = true;
    MessageBoxA(hDlg, t.limitText, t.limitCaption, MB_ICONWARNING | MB_OK);
    EndDialog(hDlg, 1);
    PostQuitMessage(0);
    return;
  }
  ShowWindow(GetDlgItem(hDlg, IDC_PWD_WRONG), SW_SHOWNORMAL);
  SetDlgItemTextA(hDlg, IDC_PWD_PROMPT, "");
  SetDlgItemTextA(hDlg, IDC_PWD_WRONG, t.wrong);
  SetDlgItemTextA(hDlg, IDC_PWD_EDIT, "");
  SetFocus(GetDlgItem(hDlg, IDC_PWD_EDIT));
}

}  // namespace

INT_PTR CALLBACK ChkPwdDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG: {
      SetWindowLongPtrA(hDlg, DWLP_USER, lParam);
      const PwdDialogTexts& t = Texts();
      SetDlgItemTextA(hDlg, IDC_PWD_PROMPT, t.prompt);
      SetDlgItemTextA(hDlg, IDOK, t.ok);
      SetDlgItemTextA(hDlg, IDCANCEL, t.cancel);
      SetWindowTextA(hDlg, t.title);
      ShowWindow(GetDlgItem(hDlg, IDC_PWD_WRONG), SW_HIDE);
      SendDlgItemMessageA(hDlg, IDC_PWD_EDIT, EM_LIMITTEXT, kMaxPwdChars, 0);
      SetFocus(GetDlgItem(hDlg, IDC_PWD_EDIT));
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK: {
          PwdDialogParams* params =
              reinterpret_cast<PwdDialogParams*>(GetWindowLongPtrA(hDlg, DWLP_USER));
          if (params != nullptr && TypedPasswordMatches(hDlg, params->storedPwd)) {
            params->accepted = true;
            g_bExit = TRUE;
            SetupLog("g_bExit = TRUE;");
            PostQuitMessage(0);
            EndDialog(hDlg, 1);
          } else {
            OnWrongPassword(hDlg, params);
          }
          return FALSE;
        }
        case IDCANCEL:
          EndDialog(hDlg, 2);
          PostQuitMessage(0);
          return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      EndDialog(hDlg, LOWORD(wParam));
      PostQuitMessage(0);
      return TRUE;
    case WM_DESTROY: PostQuitMessage(0); return FALSE;
  }
  return FALSE;
}

// Starts a program as a C runtime's spawn does, with a table of inherited files in the
// start-up block (lpReserved2, cbReserved2: a count, one flag byte per file, one handle per
// file), waits for it and ends with its exit code. The table marks no file open, so the
// program inherits nothing through it; it only has to go no further than that program.
//   starter <command line of the program>
#include <windows.h>

#include <string.h>

int main() {
  const char* p = GetCommandLineA();
  if (*p == '"') {
    p = strchr(p + 1, '"');
    p = p ? p + 1 : "";
  } else {
    while (*p && *p != ' ') ++p;
  }
  while (*p == ' ') ++p;
  char cmd[2048];
  if (*p == '\0' || strlen(p) >= sizeof cmd) return 1;
  strcpy(cmd, p);

  const int kFiles = 3;
  BYTE table[sizeof(int) + kFiles + kFiles * sizeof(HANDLE)];
  int count = kFiles;
  memcpy(table, &count, sizeof count);
  memset(table + sizeof count, 0, kFiles);  // no FOPEN flag: no file is passed
  for (int i = 0; i < kFiles; ++i) {
    HANDLE none = INVALID_HANDLE_VALUE;
    memcpy(table + sizeof count + kFiles + i * sizeof(HANDLE), &none, sizeof none);
  }
  STARTUPINFOA si;
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  si.cbReserved2 = sizeof table;
  si.lpReserved2 = table;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi;
  if (!CreateProcessA(nullptr, cmd, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
    return 2;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 3;
  GetExitCodeProcess(pi.hProcess, &code);
  return static_cast<int>(code);
}
